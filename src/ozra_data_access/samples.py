"""Realistic sample measurements, written as Ozra files.

:func:`write_sample` simulates an LC-MS run with a diode-array detector: a few dozen compounds
elute over a solvent gradient as Gaussian peaks. The mass spectrometer cycles through six
scan modes, MS1 and all-ion MS2 at a low and a high collision energy, each in positive and
negative polarity; MS1 scans carry profile and centroid points, MS2 scans centroid points
only. Each compound shows its isotope pattern and, in MS2, fragments whose share grows with
the collision energy; random chemical noise fills every spectrum up to the requested number
of points. The DAD records absorbance spectra over 190-600 nm in which every compound adds its
own absorbance bands. Optionally a quantitative MS function holds traces of a few transitions
and an analog function the pump pressure. The same options and seed always give the same data.
"""

from __future__ import annotations

import hashlib
import os
from dataclasses import dataclass
from typing import Callable, Iterator, Optional, Union

import numpy as np

from ozra_data_access._internal._enum import (
    PolarityTypes,
    SpectrumTypes,
    VendorSpecificAdditionalConditionTypes,
)
from ozra_data_access.common import ValueRange
from ozra_data_access.writer import (
    AcquisitionConditionData,
    AcquisitionCoreConditionData,
    FunctionData,
    MeasurementData,
    SpectrumData,
    VendorSpecificConditionData,
    write_file,
)

_PROTON = 1.007276
_NEUTRON = 1.003355
_ISOTOPES = 4
_FRAGMENTS = 6
_RESOLUTION = 20000.0
_PROFILE_OFFSETS = np.arange(-3, 4, dtype=np.float64)  # profile points per peak, in peak sigmas
_SIGNAL_FLOOR = 20.0
_DAD_DELAY = 0.03  # minutes: the DAD cell sits before the ion source


@dataclass(frozen=True)
class _ScanMode:
    ms_level: int
    polarity: PolarityTypes
    collision_energy: Optional[float]
    mass_range: ValueRange
    cone_voltage: float


# One duty cycle of the mass spectrometer; a scan's mode is its position in the cycle.
_MODES = (
    _ScanMode(1, PolarityTypes.POSITIVE, None, ValueRange(100.0, 1000.0), 30.0),
    _ScanMode(2, PolarityTypes.POSITIVE, 15.0, ValueRange(50.0, 1000.0), 30.0),
    _ScanMode(2, PolarityTypes.POSITIVE, 35.0, ValueRange(50.0, 1000.0), 30.0),
    _ScanMode(1, PolarityTypes.NEGATIVE, None, ValueRange(100.0, 1000.0), 25.0),
    _ScanMode(2, PolarityTypes.NEGATIVE, 15.0, ValueRange(50.0, 1000.0), 25.0),
    _ScanMode(2, PolarityTypes.NEGATIVE, 35.0, ValueRange(50.0, 1000.0), 25.0),
)


def write_sample(
    path: Union[str, "os.PathLike[str]"],
    *,
    scans: int = 600,
    points_per_spectrum: int = 200,
    dad_spectra: int = 300,
    wavelengths: int = 206,
    compounds: int = 30,
    measurements: int = 1,
    run_minutes: float = 20.0,
    seed: int = 0,
    profile: bool = True,
    condition_list: bool = True,
    traces: bool = True,
    point_encoding: str = "zstd",
    intensity_width: int = 4,
    progress: Optional[Callable[[int], None]] = None,
) -> Union[str, "os.PathLike[str]"]:
    """Writes a simulated LC-MS/DAD run to `path` and returns `path`.

    Size: `scans` MS spectra (cycling MS1+, MS2+ at 15 and 35 eV, MS1-, MS2- at 15 and 35 eV)
    of exactly `points_per_spectrum` centroid points each (MS1 scans also get seven profile
    points per centroid when `profile` is true), `dad_spectra` DAD spectra over `wavelengths`
    wavelengths from 190 to 600 nm, `compounds` compounds, `measurements` measurements (the
    same compounds at different amounts), over `run_minutes` minutes of retention time.

    `condition_list` stores the MS function's six acquisition conditions (with Waters-style
    vendor records) and each spectrum's index into them; without it, conditions come from
    the spectra's own fields. `traces` adds a quantitative MS function (three transition
    traces) and an analog function (the pump pressure). `point_encoding`, `intensity_width`
    and `progress` are passed to :func:`ozra_data_access.writer.write_file`. The spectra's
    summary values are derived from their stored points. The same arguments give the same file.
    """
    if scans < 0 or dad_spectra < 0 or compounds < 0 or measurements < 0:
        raise ValueError("scans, dad_spectra, compounds and measurements cannot be negative")
    if points_per_spectrum < 0 or wavelengths < 1:
        raise ValueError("points_per_spectrum cannot be negative and wavelengths must be at least 1")
    library = _CompoundLibrary(np.random.default_rng([seed, 0]), compounds, run_minutes, wavelengths)
    options = dict(scans=scans, points=points_per_spectrum, dad_spectra=dad_spectra, profile=profile,
                   condition_list=condition_list, traces=traces)
    runs = [
        _Run(library, np.random.default_rng([seed, 1, number]), number, seed, **options)
        for number in range(measurements)
    ]
    return write_file(path, [run.measurement() for run in runs], point_encoding=point_encoding,
                      intensity_width=intensity_width, progress=progress)


class _CompoundLibrary:
    """The compounds of a sample: masses, retention, ionisation, fragments and UV bands."""

    def __init__(self, rng: np.random.Generator, count: int, run_minutes: float, wavelength_count: int):
        self.run_minutes = run_minutes
        self.mass = rng.uniform(150.0, 900.0, count)
        self.retention_time = np.sort(rng.uniform(0.06, 0.94, count)) * run_minutes
        self.peak_sigma = rng.uniform(0.02, 0.07, count) * run_minutes / 20.0
        # Response factors in positive and negative mode: some compounds ionise in one mode only.
        kinds = rng.integers(0, 3, count)
        self.response = np.array([(1.0, 0.05), (0.1, 1.0), (1.0, 0.7)])[kinds]
        # Isotope envelope from the expected number of 13C atoms (about 1.1 % per carbon).
        expected_heavy = self.mass * 0.00055
        orders = np.arange(_ISOTOPES)
        factorials = np.array([1.0, 1.0, 2.0, 6.0])
        envelope = expected_heavy[:, None] ** orders / factorials
        self.isotope_shares = envelope / envelope.max(axis=1, keepdims=True)
        # Neutral losses leave fragments between 50 u and the molecule's mass.
        self.fragment_mass = 50.0 + rng.uniform(0.0, 1.0, (count, _FRAGMENTS)) * (self.mass[:, None] - 70.0)
        self.fragment_shares = rng.uniform(0.1, 1.0, (count, _FRAGMENTS))
        self.wavelengths = np.linspace(190.0, 600.0, wavelength_count)
        self.absorbance = self._absorbance_spectra(rng, count)

    def _absorbance_spectra(self, rng: np.random.Generator, count: int) -> np.ndarray:
        """Per compound, its absorbance over the wavelengths: a far-UV band, a near-UV band, and for
        about one compound in ten a visible band."""
        bands = [
            (rng.uniform(195.0, 230.0, count), rng.uniform(8.0, 15.0, count), rng.uniform(0.6, 1.0, count)),
            (rng.uniform(240.0, 420.0, count), rng.uniform(12.0, 40.0, count), rng.uniform(0.1, 0.6, count)),
            (rng.uniform(430.0, 560.0, count), rng.uniform(20.0, 45.0, count),
             rng.uniform(0.2, 0.5, count) * (rng.uniform(size=count) < 0.1)),
        ]
        spectra = np.zeros((count, len(self.wavelengths)))
        for centre, width, height in bands:
            spectra += height[:, None] * np.exp(-0.5 * ((self.wavelengths - centre[:, None]) / width[:, None]) ** 2)
        return spectra

    def elution(self, time: float) -> np.ndarray:
        """Each compound's share of its peak maximum at `time`."""
        return np.exp(-0.5 * ((time - self.retention_time) / self.peak_sigma) ** 2)

    def gradient(self, time: np.ndarray) -> np.ndarray:
        """The share of organic solvent: 5 % held, a linear ramp to 95 %, then held."""
        start, end = 0.05 * self.run_minutes, 0.9 * self.run_minutes
        return 0.05 + 0.9 * np.clip((np.asarray(time) - start) / (end - start), 0.0, 1.0)

    def ion_peaks(self, mode: _ScanMode) -> tuple[np.ndarray, np.ndarray]:
        """m/z and relative intensity of every compound's peaks in a scan mode, one row per compound."""
        charge_mass = _PROTON if mode.polarity == PolarityTypes.POSITIVE else -_PROTON
        isotopes = self.mass[:, None] + charge_mass + _NEUTRON * np.arange(_ISOTOPES)
        fragments = self.fragment_mass + charge_mass
        if mode.ms_level == 1:
            survival = 1.0
        else:
            survival = float(np.exp(-mode.collision_energy / 20.0))
        mz = np.hstack([isotopes, fragments])
        shares = np.hstack([self.isotope_shares * survival, self.fragment_shares * (1.0 - survival)])
        return mz, shares


class _Run:
    """One measurement of the compound library: amounts, scan data and descriptions."""

    def __init__(self, library: _CompoundLibrary, rng: np.random.Generator, number: int, seed: int, *,
                 scans: int, points: int, dad_spectra: int, profile: bool, condition_list: bool, traces: bool):
        self.library = library
        self.rng = rng
        self.number = number
        self.seed = seed
        self.scans = scans
        self.points = points
        self.dad_spectra = dad_spectra
        self.profile = profile
        self.condition_list = condition_list
        self.traces = traces
        self.amount = 10.0 ** rng.uniform(4.0, 6.5, len(library.mass))
        self.mode_peaks = [library.ion_peaks(mode) for mode in _MODES]

    def measurement(self) -> MeasurementData:
        functions = [self._ms_function(), self._dad_function()]
        if self.traces:
            functions += [self._quan_function(), self._analog_function()]
        number = self.number + 1
        return MeasurementData(
            functions=functions,
            sample_name=f"Sample {number}",
            sample_id=f"S{self.seed:04d}-{number:03d}",
            acquisition_method_file_name="LC_5-95B_gradient.method",
            dilution_factor=1.0,
            injection_volume=2.0,
            original_file_path=f"/data/acquisitions/sample_{number}.raw",
            instrument_product_name="Simulated QTof",
            measurement_user_name="analyst",
            plate_code="Plate-1",
            well_code=f"{'ABCDEFGH'[self.number // 12 % 8]}{self.number % 12 + 1}",
            measurement_date_time=f"2024-05-14T{9 + self.number // 2 % 12:02d}:{30 * (self.number % 2):02d}:00",
            instrument_manufacturer="Waters",
            source_file_definition="ozra_data_access.samples",
            supplemental_properties={"Column": "C18 2.1 x 100 mm", "FlowRate": 0.4, "Seed": self.seed},
            hash=hashlib.sha256(f"{self.seed}/{self.number}/{self.scans}/{self.points}".encode()).hexdigest(),
        )

    # --- MS -----------------------------------------------------------------------------------------

    def _ms_function(self) -> FunctionData:
        conditions = None
        if self.condition_list:
            conditions = [self._stored_condition(number, mode) for number, mode in enumerate(_MODES)]
        return FunctionData.qual_ms(
            self._ms_spectra(),
            supplemental_properties={"Instrument": "QTof", "ScanCycle": len(_MODES)},
            acquisition_conditions=conditions,
        )

    def _measured_profile(self, mode: _ScanMode) -> bool:
        return self.profile and mode.ms_level == 1

    def _stored_condition(self, number: int, mode: _ScanMode) -> AcquisitionConditionData:
        sign = "+" if mode.polarity == PolarityTypes.POSITIVE else "-"
        return AcquisitionConditionData(AcquisitionCoreConditionData(
            ms_level=mode.ms_level,
            polarity=mode.polarity,
            collision_energy=mode.collision_energy,
            mass_range=mode.mass_range,
            original_measured_spectrum_type=(
                SpectrumTypes.PROFILE if self._measured_profile(mode) else SpectrumTypes.CENTROID),
            vendor_specific_additional_condition=VendorSpecificConditionData(
                VendorSpecificAdditionalConditionTypes.WATERS_MASS_LYNX,
                original_id=number + 1,
                cone_voltage=mode.cone_voltage,
                scan_info_string=f"FUNCTION {number + 1}: TOF MS{mode.ms_level} ES{sign}",
            ),
        ))

    def _ms_spectra(self) -> Iterator[SpectrumData]:
        cycle = len(_MODES)
        times = self.library.run_minutes * (np.arange(self.scans) + 0.5) / self.scans
        organic = self.library.gradient(times)
        for index in range(self.scans):
            mode_number = index % cycle
            mode = _MODES[mode_number]
            time = float(times[index])
            x, intensity = self._scan_points(time, float(organic[index]), mode_number)
            cycle_start = index - mode_number
            # MS2 scans follow the MS1 scan of their polarity: positions 1, 2 after 0 and 4, 5 after 3.
            survey = cycle_start + (0 if mode_number < 3 else 3)
            measured_profile = self._measured_profile(mode)
            spectrum = SpectrumData(
                retention_time=time,
                x=x,
                intensity=intensity,
                acquisition_condition_index=mode_number if self.condition_list else None,
                precursor_index=None if mode.ms_level == 1 else survey,
                product_indices=[i for i in (index + 1, index + 2) if i < self.scans] if mode.ms_level == 1 else [],
                spectrum_type=SpectrumTypes.PROFILE if measured_profile else SpectrumTypes.CENTROID,
                supplemental_properties={"ConeVoltage": mode.cone_voltage},
                ms_level=mode.ms_level,
                polarity=mode.polarity,
                collision_energy=mode.collision_energy,
                mass_range=mode.mass_range,
                is_profile_spectrum_measured=measured_profile,
                cone_voltage=mode.cone_voltage,
            )
            if measured_profile:
                spectrum.profile_x, spectrum.profile_intensity = _profile(x, intensity)
            yield spectrum

    def _scan_points(self, time: float, organic: float, mode_number: int) -> tuple[np.ndarray, np.ndarray]:
        """Exactly `points` centroids: the compounds' peaks, the strongest first if too many, then noise."""
        mode = _MODES[mode_number]
        polarity_column = 0 if mode.polarity == PolarityTypes.POSITIVE else 1
        strength = self.amount * self.library.response[:, polarity_column] * self.library.elution(time)
        mz, shares = self.mode_peaks[mode_number]
        intensity = (strength[:, None] * shares).ravel()
        mz = mz.ravel()
        keep = (intensity > _SIGNAL_FLOOR) & (mz >= mode.mass_range.min) & (mz <= mode.mass_range.max)
        mz, intensity = mz[keep], intensity[keep]
        if len(mz) > self.points:
            strongest = np.argsort(intensity)[::-1][: self.points]
            mz, intensity = mz[strongest], intensity[strongest]
        intensity = intensity * (1.0 + 0.03 * self.rng.standard_normal(len(intensity)))
        noise_count = self.points - len(mz)
        background = 80.0 + 250.0 * organic
        noise_mz = self.rng.uniform(mode.mass_range.min, mode.mass_range.max, noise_count)
        noise_intensity = background * self.rng.exponential(1.0, noise_count) + 1.0
        mz = np.concatenate([mz, noise_mz])
        intensity = np.concatenate([intensity, noise_intensity])
        order = np.argsort(mz, kind="stable")
        return mz[order], intensity[order]

    # --- DAD ----------------------------------------------------------------------------------------

    def _dad_function(self) -> FunctionData:
        return FunctionData.dad(
            self._dad_spectra(),
            wavelengths=self.library.wavelengths,
            supplemental_properties={"Detector": "DAD", "SlitWidth": 4.0, "Unit": "mAU"},
        )

    def _dad_spectra(self) -> Iterator[SpectrumData]:
        library = self.library
        # Absorbance scales with the amount injected, compressed to a detector-like range.
        scale = 600.0 * (self.amount / self.amount.max()) ** 0.7 if len(self.amount) else self.amount
        low = float(library.wavelengths[0])
        high = float(library.wavelengths[-1])
        times = library.run_minutes * (np.arange(self.dad_spectra) + 0.5) / self.dad_spectra
        organic = library.gradient(times)
        # Solvent absorbance rises with the organic share, mostly in the far UV.
        solvent = 4.0 * np.exp(-(library.wavelengths - 190.0) / 25.0)
        for index in range(self.dad_spectra):
            time = float(times[index])
            elution = library.elution(time + _DAD_DELAY)
            absorbance = (scale * elution) @ library.absorbance
            drift = float(organic[index]) * solvent
            absorbance = absorbance + drift + 0.3 * self.rng.standard_normal(len(library.wavelengths))
            yield SpectrumData(
                retention_time=time,
                intensity=absorbance,
                spectrum_type=SpectrumTypes.PROFILE,
                ms_level=None,
                polarity=None,
                mass_range=ValueRange(low, high),
                is_profile_spectrum_measured=None,
            )

    # --- traces -------------------------------------------------------------------------------------

    def _trace_times(self) -> np.ndarray:
        count = max(self.scans, 2)
        return np.linspace(0.0, self.library.run_minutes, count)

    def _quan_function(self) -> FunctionData:
        library = self.library
        times = self._trace_times()
        spectra = []
        for rank, compound in enumerate(np.argsort(self.amount)[::-1][:3]):
            precursor = float(library.mass[compound] + _PROTON)
            product = float(library.fragment_mass[compound].max() + _PROTON)
            peak = np.exp(-0.5 * ((times - library.retention_time[compound]) / library.peak_sigma[compound]) ** 2)
            intensity = self.amount[compound] * 0.3 * peak + 30.0 * self.rng.exponential(1.0, len(times))
            spectra.append(SpectrumData(
                retention_time=None,
                x=times,
                intensity=intensity,
                index=rank,
                ms_level=2,
                collision_energy=20.0,
                precursor_value=precursor,
                precursor_range=ValueRange(precursor - 0.5, precursor + 0.5),
                supplemental_properties={"Transition": f"{precursor:.2f} > {product:.2f}"},
            ))
        return FunctionData.quan(spectra, supplemental_properties={"Mode": "MRM"})

    def _analog_function(self) -> FunctionData:
        times = self._trace_times()
        organic = self.library.gradient(times)
        # Water-organic mixtures are most viscous near 40 % organic.
        pressure = 180.0 + 120.0 * np.exp(-0.5 * ((organic - 0.4) / 0.25) ** 2)
        pressure = pressure + 0.5 * self.rng.standard_normal(len(times))
        trace = SpectrumData(retention_time=None, x=times, intensity=pressure, ms_level=None, polarity=None,
                             supplemental_properties={"Channel": "Pump pressure", "Unit": "bar"})
        return FunctionData.analog([trace], supplemental_properties={"Device": "Binary pump"})


def _profile(mz: np.ndarray, intensity: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """Seven points across each centroid's Gaussian peak shape at the instrument's resolution."""
    sigma = mz / _RESOLUTION / 2.3548
    x = (mz[:, None] + _PROFILE_OFFSETS * sigma[:, None]).ravel()
    y = (intensity[:, None] * np.exp(-0.5 * _PROFILE_OFFSETS**2)).ravel()
    order = np.argsort(x, kind="stable")
    return x[order], y[order]
