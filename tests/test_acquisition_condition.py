"""AcquisitionCondition of ozra_data_access.qual, built from both kinds of stored record."""

import gc
import math
import subprocess
import sys
import textwrap
import weakref

import pytest

from ozra_data_access import qual
from ozra_data_access._internal._description import (
    InternalAcquisitionCondition,
    InternalAcquisitionCoreCondition,
    InternalSpectrumDescription,
    TripleQScanCondition,
    VendorSpecificAdditionalCondition,
)
from ozra_data_access._internal._description import TripleQScanTypes as Scan
from ozra_data_access._internal._description import VendorSpecificAdditionalConditionTypes as Vendor
from ozra_data_access.common import PolarityTypes, SpectrumTypes, ValueRange

AcquisitionCondition = qual.AcquisitionCondition


def stored(precursor_range=None, precursor_value=None, **core):
    return InternalAcquisitionCondition(
        internal_acquisition_core_condition=InternalAcquisitionCoreCondition(**core),
        precursor_range=precursor_range,
        precursor_value=precursor_value,
    )


def description(**fields):
    return InternalSpectrumDescription(**fields)


def vendor(kind, original_id=2, cone_voltage=80.0, scan_info_string="filter"):
    return VendorSpecificAdditionalCondition(
        type=kind, original_id=original_id, cone_voltage=cone_voltage, scan_info_string=scan_info_string
    )


def scan(kind, target_mz=250.0):
    return TripleQScanCondition(type=kind, target_mz=target_mz, q1_range=ValueRange(50, 300), q3_range=ValueRange(10, 260))


def test_the_documented_example():
    condition = AcquisitionCondition(
        stored(
            precursor_value=445.12,
            ms_level=2,
            polarity=PolarityTypes.POSITIVE,
            collision_energy=35.0,
            original_measured_spectrum_type=SpectrumTypes.CENTROID,
            vendor_specific_additional_condition=vendor(Vendor.SCIEX_ANALYST),
        )
    )
    assert str(condition) == (
        "MS2+, [Collision Energy] 35.0, [Precursor Value] 445.12, [Original Measured Spectrum Type] Centroid; "
        "SCIEX|Analyst: [Experiment Index] 2, [DP] 80"
    )
    assert repr(condition) == str(condition)


@pytest.mark.parametrize(
    "fields, text",
    [
        ({}, "MS1"),
        ({"ms_level": 3, "polarity": PolarityTypes.NEGATIVE}, "MS3-"),
        ({"polarity": PolarityTypes.BOTH}, "MS1+/-"),
        ({"polarity": 1}, "MS1"),
        ({"original_measured_spectrum_type": SpectrumTypes.PROFILE}, "MS1, [Original Measured Spectrum Type] Profile"),
        ({"original_measured_spectrum_type": SpectrumTypes.UNKNOWN}, "MS1"),
        (
            {"mass_range": ValueRange(50.0, 1200.0), "collision_energy": 20, "precursor_value": 445.12,
             "precursor_range": ValueRange(444.5, 445.5)},
            "MS1, [Mass Range] 50.0-1200.0, [Collision Energy] 20, [Precursor Value] 445.12, "
            "[Precursor Range] 444.5-445.5",
        ),
    ],
)
def test_text_from_a_stored_condition(fields, text):
    outer = {k: fields.pop(k) for k in ("precursor_value", "precursor_range") if k in fields}
    assert str(AcquisitionCondition(stored(**outer, **fields))) == text


@pytest.mark.parametrize(
    "kind, cls",
    [
        (Vendor.AGILENT_MASS_HUNTER, qual.AgilentMassHunterCondition),
        (Vendor.SCIEX_ANALYST, qual.SCIEXAnalystCondition),
        (Vendor.SHIMADZU_IO_MODULE, qual.ShimadzuIoModuleCondition),
        (Vendor.THERMO_FISHER_RAW_FILE_READER, qual.ThermoFisherRawFileReaderCondition),
        (Vendor.WATERS_MASS_LYNX, qual.WatersMassLynxCondition),
        (Scan.PRECURSOR, qual.PrecursorIonScanCondition),
        (Scan.PRODUCT, qual.ProductIonScanCondition),
        (Scan.NEUTRAL_LOSS, qual.NeutralLossScanCondition),
        (Scan.NEUTRAL_GAIN, qual.NeutralGainScanCondition),
    ],
)
def test_record_type_selects_the_additional_condition(kind, cls):
    if isinstance(kind, Vendor):
        record = vendor(kind)
        core = {"vendor_specific_additional_condition": record}
    else:
        record = scan(kind)
        core = {"triple_q_scan_condition": record}
    (made,) = AcquisitionCondition(stored(**core)).additional_conditions
    assert type(made) is cls
    assert made == cls(record)
    assert str(AcquisitionCondition(stored(**core))) == "MS1; " + str(cls(record))


def test_vendor_entry_comes_before_the_scan_entry_and_unknown_types_add_nothing():
    both = AcquisitionCondition(
        stored(
            vendor_specific_additional_condition=vendor(Vendor.WATERS_MASS_LYNX, 1, 30.0),
            triple_q_scan_condition=scan(Scan.NEUTRAL_LOSS, 18.0),
        )
    )
    assert [type(c) for c in both.additional_conditions] == [qual.WatersMassLynxCondition, qual.NeutralLossScanCondition]
    assert str(both) == (
        "MS1; Waters|MassLynx: [Function Number] 1, [Cone Voltage] 30; "
        "Neutral Loss Scan: [Neutral Loss m/z] 18.0, [Q1 Range] 50-300, [Q3 Range] 10-260"
    )
    unknown = stored(vendor_specific_additional_condition=vendor(99), triple_q_scan_condition=scan(Scan))
    assert AcquisitionCondition(unknown).additional_conditions == []


def test_fields_of_a_stored_condition():
    record = stored(
        precursor_range=ValueRange(1, 2), precursor_value=445.12, ms_level=None, polarity=PolarityTypes.POSITIVE,
        collision_energy=35.0, mass_range=ValueRange(50, 60), original_measured_spectrum_type=SpectrumTypes.PROFILE,
    )
    condition = AcquisitionCondition(argument=record)
    assert condition.ms_level == 1
    assert condition.precursor_value is record._InternalAcquisitionCondition__precursor_value
    assert condition.precursor_range is record._InternalAcquisitionCondition__precursor_range
    core = record._InternalAcquisitionCondition__internal_acquisition_core_condition
    assert condition.mass_range is core._InternalAcquisitionCoreCondition__mass_range
    assert (condition.polarity, condition.collision_energy) == (PolarityTypes.POSITIVE, 35.0)
    assert condition.original_measured_spectrum_type is SpectrumTypes.PROFILE
    assert condition._AcquisitionCondition__ms_level == 1
    with pytest.raises(AttributeError):
        condition._AcquisitionCondition__ms_level = 2
    with pytest.raises(AttributeError):
        condition.ms_level = 2


@pytest.mark.parametrize(
    "measured, spectrum_type, text",
    [
        (None, SpectrumTypes.UNKNOWN, "MS2+"),
        (True, SpectrumTypes.PROFILE, "MS2+, [Original Measured Spectrum Type] Profile"),
        (False, SpectrumTypes.CENTROID, "MS2+, [Original Measured Spectrum Type] Centroid"),
        (1, SpectrumTypes.PROFILE, "MS2+, [Original Measured Spectrum Type] Profile"),
    ],
)
def test_spectrum_type_from_a_description(measured, spectrum_type, text):
    condition = AcquisitionCondition(
        description(ms_level=2, polarity=PolarityTypes.POSITIVE, is_profile_spectrum_measured=measured)
    )
    assert condition.original_measured_spectrum_type is spectrum_type
    assert str(condition) == text


@pytest.mark.parametrize(
    "voltage, keys, expected",
    [
        (30.0, {"ConeVoltage": 1}, [qual.WatersMassLynxCondition(30.0)]),
        (12.0, {"In-SourceCID": 1, "ConeVoltage": 1}, [qual.ThermoFisherRawFileReaderCondition(12.0)]),
        (135.0, {"ConeVoltage": 1, "FragmentorVoltage": 1}, [qual.AgilentMassHunterCondition(135.0)]),
        (30.0, {"Other": 1}, []),
        (None, {"ConeVoltage": 1}, []),
        (30, {"ConeVoltage": 1}, [qual.WatersMassLynxCondition(None)]),  # an int is not a float
    ],
)
def test_source_voltage_of_a_description(voltage, keys, expected):
    condition = AcquisitionCondition(description(cone_voltage=voltage, supplemental_properties=keys))
    assert condition.additional_conditions == expected
    assert [type(c) for c in condition.additional_conditions] == [type(c) for c in expected]


def test_supplemental_properties_are_asked_for_their_keys():
    class Properties:
        def keys(self):
            return ["In-SourceCID"]

    condition = AcquisitionCondition(description(cone_voltage=5.0, supplemental_properties=Properties()))
    assert str(condition) == "MS1; ThermoFisher|RawFileReader: [SID] 5"
    with pytest.raises(AttributeError):
        AcquisitionCondition(description(cone_voltage=5.0))  # supplemental properties None


@pytest.mark.parametrize("argument", [5, None, "MS1", InternalAcquisitionCoreCondition(ms_level=1)])
def test_other_arguments_are_refused(argument):
    with pytest.raises(TypeError, match="InternalAcquisitionCondition or an InternalSpectrumDescription"):
        AcquisitionCondition(argument)


def test_argument_count():
    with pytest.raises(TypeError):
        AcquisitionCondition()
    with pytest.raises(TypeError):
        AcquisitionCondition(stored(), stored())


def desc_condition(**fields):
    base = dict(ms_level=2, polarity=PolarityTypes.POSITIVE, collision_energy=35.0, precursor_value=445.12,
                mass_range=ValueRange(50.0, 1200.0), is_profile_spectrum_measured=False, cone_voltage=30.0,
                supplemental_properties={"ConeVoltage": 1})
    base.update(fields)
    return AcquisitionCondition(description(**base))


@pytest.mark.parametrize(
    "other, equal",
    [
        ({}, True),
        ({"ms_level": 2.0, "collision_energy": 35}, True),
        ({"mass_range": ValueRange(50, 1200)}, True),
        ({"ms_level": None}, False),
        ({"polarity": PolarityTypes.NEGATIVE}, False),
        ({"collision_energy": None}, False),
        ({"precursor_range": ValueRange(445, 446)}, False),
        ({"is_profile_spectrum_measured": None}, False),
        ({"cone_voltage": 31.0}, False),
        ({"supplemental_properties": {"FragmentorVoltage": 1}}, False),
        ({"cone_voltage": None}, False),
    ],
)
def test_equality_and_hash_of_conditions_from_distinct_records(other, equal):
    a, b = desc_condition(), desc_condition(**other)
    assert (a == b, b == a, a != b, b != a) == (equal, equal, not equal, not equal)
    if equal:
        assert hash(a) == hash(b) and a.__hash__() == b.__hash__()
        assert len({a, b}) == 1
        assert {a: "first", b: "second"} == {a: "second"}
    else:
        assert len({a, b}) == 2


def test_stored_and_described_conditions_compare_by_value():
    from_stored = AcquisitionCondition(
        stored(ms_level=2, polarity=PolarityTypes.POSITIVE, original_measured_spectrum_type=SpectrumTypes.CENTROID,
               vendor_specific_additional_condition=vendor(Vendor.WATERS_MASS_LYNX, None, 30.0))
    )
    from_description = AcquisitionCondition(
        description(ms_level=2, polarity=PolarityTypes.POSITIVE, is_profile_spectrum_measured=False,
                    cone_voltage=30.0, supplemental_properties={"ConeVoltage": 1})
    )
    assert from_stored == from_description and hash(from_stored) == hash(from_description)


def test_equality_with_other_objects_nan_and_order_of_additional_conditions():
    condition = desc_condition()
    for other in (5, None, str(condition), condition.additional_conditions[0]):
        assert (condition == other, other == condition, condition != other) == (False, False, True)
    nan = desc_condition(collision_energy=math.nan)
    assert nan != nan and not nan == nan
    two = stored(vendor_specific_additional_condition=vendor(Vendor.SCIEX_ANALYST),
                 triple_q_scan_condition=scan(Scan.PRODUCT))
    a, b = AcquisitionCondition(two), AcquisitionCondition(two)
    b.additional_conditions.reverse()
    assert a != b


def test_additional_conditions_is_the_held_list():
    condition = desc_condition()
    held = condition.additional_conditions
    assert held is condition.additional_conditions is condition._AcquisitionCondition__additional_conditions
    before, other = hash(condition), desc_condition()
    held.append(qual.PrecursorIonScanCondition(scan(Scan.PRECURSOR)))
    assert condition != other and hash(condition) != before
    assert str(condition).endswith("; Precursor Ion Scan: [Product Ion m/z] 250.0, [Q1 Range] 50-300")
    held.pop()
    assert condition == other and hash(condition) == before


@pytest.mark.parametrize(
    "condition, exact",
    [
        # ms_level 1, six None fields, no additional condition: hash(()) last.
        (AcquisitionCondition(stored()), 31**8 + 31**7 + hash(())),
        # collision energy -1.0 hashes as -2; precursor 0.5 as 2**60 (beyond 64 bits once scaled).
        (AcquisitionCondition(stored(ms_level=2, collision_energy=-1.0, precursor_value=0.5)),
         31**8 + 2 * 31**7 - 2 * 31**5 + 2**60 * 31**4 + hash(())),
        (AcquisitionCondition(stored(vendor_specific_additional_condition=vendor(Vendor.AGILENT_MASS_HUNTER, 0, 5.0))),
         31**8 + 31**7 + hash((31 + 5,))),  # a tuple of the one vendor condition
    ],
)
def test_exact_hash(condition, exact):
    assert condition.__hash__() == exact

    class HashedAs:
        def __hash__(self):
            return exact

    assert hash(condition) == hash(HashedAs())


def test_subclasses_print_through_their_properties_and_are_collected():
    class Labelled(AcquisitionCondition):
        @property
        def ms_level(self):
            return "n"

    record = description(ms_level=2)
    derived = Labelled(record)
    assert str(derived) == "MSn"
    assert derived == AcquisitionCondition(record) and hash(derived) == hash(AcquisitionCondition(record))
    derived.additional_conditions.append(derived)
    alive = weakref.ref(derived)
    del derived
    gc.collect()
    assert alive() is None



def test_additional_conditions_are_made_after_their_class_names_are_unbound():
    script = textwrap.dedent("""
        import gc
        from ozra_data_access import qual
        from ozra_data_access._internal._description import *
        del qual.WatersMassLynxCondition, qual.NeutralLossScanCondition
        gc.collect()
        filler = [type(f"Filler{i}", (), {}) for i in range(100)]
        scan = TripleQScanCondition(type=TripleQScanTypes.NEUTRAL_LOSS, target_mz=18.0)
        core = InternalAcquisitionCoreCondition(triple_q_scan_condition=scan)
        print(qual.AcquisitionCondition(InternalAcquisitionCondition(internal_acquisition_core_condition=core)))
        description = InternalSpectrumDescription(cone_voltage=30.0, supplemental_properties={"ConeVoltage": 1})
        print(qual.AcquisitionCondition(description))
    """)
    # A child process, so that a crash shows as an exit status.
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, f"exit {run.returncode}\n{run.stderr[-2000:]}"
    assert run.stdout.splitlines() == [
        "MS1; Neutral Loss Scan: [Neutral Loss m/z] 18.0, [Q1 Range] None, [Q3 Range] None",
        "MS1; Waters|MassLynx: [Cone Voltage] 30",
    ]
