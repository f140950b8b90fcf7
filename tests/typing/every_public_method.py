"""Every public class, method and property, used as a caller would; checked by mypy and run on a file.

Run as `python every_public_method.py FILE.ozra` on a file with an MS, a DAD, a quantitative and an
analog analysis (the sample generator makes one); it prints nothing and fails on any error.
"""

from __future__ import annotations

import pickle
import sys

import numpy

from ozra_data_access.access import Measurement, OzraFile
from ozra_data_access.arrays import ChromatogramArrays, chromatogram_arrays, spectrum_arrays, spectrum_view
from ozra_data_access.common import PolarityTypes, SpectrumBasedChromatogramPoint, SpectrumTypes, ValueRange
from ozra_data_access.exception import OzraException, OzraFormatError
from ozra_data_access.qual import (
    AcquisitionCondition, ChromatogramFilterOption, DADAnalysis, DADSpectrum, QualAnalysis, Spectrum,
)
from ozra_data_access.quan import AnalogAnalysis, QuanAnalysis, Trace


def use_file(path: str) -> None:
    with OzraFile(path) as ozra_file:
        version: str = ozra_file.get_file_format_version()
        converter: str = ozra_file.get_converter_version()
        path_again = ozra_file.file_path
        assert version and converter and path_again == path
        assert pickle.loads(pickle.dumps(ozra_file)).file_path == path
        for index in range(ozra_file.get_measurement_count()):
            use_measurement(ozra_file.get_measurement(index))
    ozra_file.close()


def use_measurement(measurement: Measurement) -> None:
    described = (measurement.index, measurement.hash, measurement.sample_name, measurement.sample_id,
                 measurement.acquisition_method_file_name, measurement.dilution_factor,
                 measurement.injection_volume, measurement.original_file_path, measurement.instrument_product_name,
                 measurement.measurement_user_name, measurement.plate_code, measurement.well_code,
                 measurement.measurement_date_time, measurement.instrument_manufacturer,
                 measurement.source_file_definition, measurement.supplemental_properties)
    assert len(described) == 16
    for q in range(measurement.get_qual_analysis_count()):
        use_ms_analysis(measurement.get_qual_analysis(q))
    for d in range(measurement.get_dad_analysis_count()):
        use_dad_analysis(measurement.get_dad_analysis(d))
    for a in range(measurement.get_quan_analysis_count()):
        use_traces(measurement.get_quan_analysis(a))
    for a in range(measurement.get_analog_analysis_count()):
        use_traces(measurement.get_analog_analysis(a))


def use_condition(condition: AcquisitionCondition) -> None:
    level: int = condition.ms_level
    polarity: PolarityTypes | None = condition.polarity
    kind: SpectrumTypes | None = condition.original_measured_spectrum_type
    ranges: list[ValueRange | None] = [condition.precursor_range, condition.mass_range]
    numbers: list[float | None] = [condition.collision_energy, condition.precursor_value]
    assert level >= 1 and (polarity, kind, ranges, numbers) is not None
    for additional in condition.additional_conditions:
        assert str(additional) and additional == additional and isinstance(additional.__hash__(), int)
    assert isinstance(condition.__hash__(), int) and pickle.loads(pickle.dumps(condition)) == condition


def use_ms_analysis(analysis: QualAnalysis) -> None:
    assert analysis.index >= 0 and analysis.supplemental_properties is not None
    conditions: list[AcquisitionCondition] = analysis.unique_acquisition_conditions
    for condition in conditions:
        use_condition(condition)
    condition = conditions[0]
    window = ValueRange(0.0, 1e9)
    tic: list[SpectrumBasedChromatogramPoint] = analysis.get_tic(condition)
    bpc = analysis.get_bpc(condition, ValueRange(0.0, 100.0))
    request = ChromatogramFilterOption(condition, ValueRange(100.0, 2000.0), window)
    request.extract_mz_range = ValueRange(100.0, 2000.0)
    request.retention_time_range = None
    request.acquisition_condition = request.acquisition_condition
    xic = analysis.get_xic(request)
    many: list[list[SpectrumBasedChromatogramPoint]] = analysis.get_multiple_xic([request, request])
    assert len(tic) == len(bpc) == len(xic) == len(many[0])
    columns: ChromatogramArrays = chromatogram_arrays(tic)
    times: numpy.ndarray = columns.retention_time
    assert times.shape == columns.intensity.shape == columns.x.shape == columns.spectrum_index.shape
    for point in tic[:3]:
        assert point.spectrum_index is not None and point.retention_time is not None
        assert point.intensity is not None and pickle.loads(pickle.dumps(point)) == point
        assert point == SpectrumBasedChromatogramPoint(point.spectrum_index, point.retention_time, point.intensity,
                                                       point.x)
    use_spectrum(analysis.get_spectrum(0))
    use_spectrum(analysis.find_nearest_spectrum(1.0))
    assert analysis.get_spectra_count() > 0


def use_spectrum(spectrum: Spectrum) -> None:
    assert spectrum.index >= 0 and spectrum.acquisition_condition is not None
    described = (spectrum.precursor_index, spectrum.retention_time, spectrum.product_indices, spectrum.spectrum_type,
                 spectrum.supplemental_properties)
    points = spectrum.get_spectrum_points()
    x, intensity = spectrum_arrays(points)
    view = spectrum_view(points)
    assert len(described) == 5 and len(points) == len(x) == len(intensity) == len(view)
    if len(points):
        assert points[0].x == x[0] and points[0].intensity == intensity[0]
        assert [p.x for p in points][:1] == [float(view["x"][0])]
    try:
        spectrum.get_profile_spectrum_points()
    except Exception as error:  # a spectrum without profile points says so
        assert str(error) == "No profile spectrum"


def use_dad_analysis(analysis: DADAnalysis) -> None:
    assert analysis.index >= 0 and analysis.supplemental_properties is not None
    chromatogram = analysis.get_chromatogram(ValueRange(250.0, 260.0))
    max_plot = analysis.get_max_plot(ValueRange(190.0, 600.0), 2.0)
    assert len(chromatogram) == len(max_plot) == analysis.get_spectra_count()
    assert chromatogram_arrays(max_plot).x.dtype == numpy.float64
    for spectrum in (analysis.get_spectrum(0), analysis.find_nearest_spectrum(0.5)):
        use_dad_spectrum(spectrum)


def use_dad_spectrum(spectrum: DADSpectrum) -> None:
    described = (spectrum.index, spectrum.retention_time, spectrum.supplemental_properties)
    assert len(described) == 3 and len(spectrum.get_spectrum_points()) > 0


def use_traces(analysis: QuanAnalysis | AnalogAnalysis) -> None:
    assert analysis.index >= 0 and analysis.supplemental_properties is not None
    assert analysis.function_description is not None
    traces: list[Trace] = analysis.traces
    assert len(traces) == analysis.get_trace_count()
    for index in range(analysis.get_trace_count()):
        trace = analysis.get_trace(index)
        described = (trace.index, trace.label, trace.condition, trace.detector_type, trace.unit,
                     trace.supplemental_properties)
        assert len(described) == 6
        assert len(trace.get_points()) == len(trace.retention_times) == len(trace.intensities)


def use_values() -> None:
    window = ValueRange(1, 2.5)
    assert window.contains_value(2.5) and window.min == 1 and window.max == 2.5 and str(window) == "1-2.5"
    errors: tuple[type[Exception], ...] = (OzraException, OzraFormatError)
    assert issubclass(errors[1], errors[0])


if __name__ == "__main__":
    use_values()
    use_file(sys.argv[1])
