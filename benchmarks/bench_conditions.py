"""Acquisition conditions at analysis scale: one AcquisitionCondition per spectrum, then a set.

An analysis opened from spectrum descriptions builds one condition per spectrum
(10^5 and more) and collects the distinct ones in a set. This measures both
steps for the native class and, side by side, for a plain Python class written
to the same rules, with the cyclic garbage collector on (as callers run) and off.

    PYTHONPATH=src python3 benchmarks/bench_conditions.py [spectra]
"""

import gc
import sys

from ozra_data_access import qual
from ozra_data_access._internal._description import InternalSpectrumDescription
from ozra_data_access.common import PolarityTypes, SpectrumTypes, ValueRange
from timing import best_of


class PlainWaters:
    """The Waters condition made from a bare cone voltage, as a plain class."""

    def __init__(self, argument):
        self.__function_number = None
        self.__cone_voltage = argument if isinstance(argument, float) else None

    def __eq__(self, other):
        if not isinstance(other, PlainWaters):
            return False
        return not (self.__function_number != other.__function_number or self.__cone_voltage != other.__cone_voltage)

    def __hash__(self):
        result = 1
        for field in (self.__function_number, self.__cone_voltage):
            result = 31 * result + (0 if field == None else hash(field))  # noqa: E711 (the rule compares)
        return result


class PlainCondition:
    """AcquisitionCondition from a spectrum description, as a plain class."""

    def __init__(self, desc):
        self.__additional_conditions = []
        level = desc._InternalSpectrumDescription__ms_level
        self.__ms_level = level if level != None else 1  # noqa: E711
        self.__polarity = desc._InternalSpectrumDescription__polarity
        self.__collision_energy = desc._InternalSpectrumDescription__collision_energy
        self.__mass_range = desc._InternalSpectrumDescription__mass_range
        profile = desc._InternalSpectrumDescription__is_profile_spectrum_measured
        self.__original_measured_spectrum_type = (
            SpectrumTypes.UNKNOWN if profile == None else SpectrumTypes.PROFILE if profile == True  # noqa: E711,E712
            else SpectrumTypes.CENTROID
        )
        self.__precursor_range = desc._InternalSpectrumDescription__precursor_range
        self.__precursor_value = desc._InternalSpectrumDescription__precursor_value
        voltage = desc._InternalSpectrumDescription__cone_voltage
        if voltage != None and "ConeVoltage" in desc._InternalSpectrumDescription__supplemental_properties.keys():  # noqa: E711
            self.__additional_conditions.append(PlainWaters(voltage))

    def __fields(self):
        return (self.__ms_level, self.__polarity, self.__collision_energy, self.__precursor_value,
                self.__original_measured_spectrum_type, self.__precursor_range, self.__mass_range)

    def __eq__(self, other):
        if not isinstance(other, PlainCondition):
            return False
        for a, b in zip(self.__fields(), other.__fields()):
            if a != b:
                return False
        return not self.__additional_conditions != other.__additional_conditions

    def __hash__(self):
        result = 1
        for field in self.__fields():
            result = 31 * result + (0 if field == None else hash(field))  # noqa: E711
        return 31 * result + hash(tuple(self.__additional_conditions))


def descriptions(count):
    """Spectra of an MS/MS acquisition alternating between four conditions."""
    made = []
    for i in range(count):
        level = 1 + i % 2
        made.append(InternalSpectrumDescription(
            index=i, ms_level=level, polarity=PolarityTypes.POSITIVE,
            collision_energy=None if level == 1 else 20.0 + 10 * (i % 4 // 2),
            mass_range=ValueRange(50.0, 1200.0), precursor_value=None if level == 1 else 445.12,
            is_profile_spectrum_measured=False, cone_voltage=30.0, supplemental_properties={"ConeVoltage": 1},
        ))
    return made


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 100_000
    records = descriptions(count)
    print(f"{count} spectra, best of 5, ns per spectrum")
    print(f"{'':28}{'build':>10}{'set':>10}{'distinct':>10}")
    for collector in ("on", "off"):
        if collector == "off":
            gc.disable()
        for name, cls in (("AcquisitionCondition", qual.AcquisitionCondition), ("plain Python class", PlainCondition)):
            built = [cls(d) for d in records]
            build = best_of(5, lambda: [cls(d) for d in records])[0]
            collect = best_of(5, lambda: set(built))[0]
            label = f"{name} (gc {collector})"
            print(f"{label:28}{1e9 * build / count:10.0f}{1e9 * collect / count:10.0f}{len(set(built)):10}")
    gc.enable()


if __name__ == "__main__":
    main()
