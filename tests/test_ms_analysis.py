"""QualAnalysis and Spectrum over files written by the writer."""

import math

import numpy as np
import pytest

from conftest import spectrum
from ozra_data_access import access
from ozra_data_access.access import OzraFile
from ozra_data_access.common import PolarityTypes, SpectrumBasedChromatogramPoint, ValueRange
from ozra_data_access.exception import OzraFormatError
from ozra_data_access.qual import AcquisitionCondition, DADAnalysis, QualAnalysis, Spectrum
from ozra_data_access.writer import AcquisitionConditionData, AcquisitionCoreConditionData, FunctionData
from qual_stand_ins import StoredSpectrum, make_analysis
from ozra_data_access.arrays import spectrum_view


def open_analysis(path, index=0):
    f = OzraFile(path)
    return f, f.get_measurement(0).get_qual_analysis(index)


@pytest.fixture
def three_spectra(write_ozra):
    return write_ozra(FunctionData.qual_ms([spectrum(1.0), spectrum(2.0), spectrum(3.0)]))


def test_protected_construction():
    for cls in (QualAnalysis, Spectrum):
        with pytest.raises(Exception) as raised:
            cls()
        assert type(raised.value) is Exception
        assert raised.value.args == ("Inaccessible due to protection level",)


@pytest.mark.parametrize("index", [-1, 3, 10])
def test_get_spectrum_out_of_range(three_spectra, index):
    _, a = open_analysis(three_spectra)
    with pytest.raises(Exception, match="^Index out of range$") as raised:
        a.get_spectrum(index)
    assert type(raised.value) is Exception


def test_get_spectrum_and_text(three_spectra):
    _, a = open_analysis(three_spectra)
    assert a.get_spectra_count() == 3
    last = a.get_spectrum(2)
    assert last.index == 2 and last.retention_time == 3.0
    assert a.get_spectrum(0) is not a.get_spectrum(0)
    assert str(a) == repr(a) == "[0] 3 spectra, 1 spectrum conditions"
    assert str(last) == "[2] 1 points"


@pytest.mark.parametrize(
    "retention_times, target, expected",
    [
        ([1.0, 3.0], 2.0, 0),  # a tie goes to the lower index
        ([None, 5.0, 4.0], 0.0, 2),  # None never qualifies
        ([1.0, 2.0, 2.0], 2.0, 1),
        ([3, 1], 2.5, 0),  # integers stored as integers
    ],
)
def test_find_nearest_spectrum(write_ozra, retention_times, target, expected):
    path = write_ozra(FunctionData.qual_ms([spectrum(rt) for rt in retention_times]))
    _, a = open_analysis(path)
    assert a.find_nearest_spectrum(target).index == expected


@pytest.mark.parametrize("target", [math.inf, -math.inf, math.nan])
def test_find_nearest_spectrum_without_candidates(write_ozra, target):
    path = write_ozra(FunctionData.qual_ms([spectrum(1.0), spectrum(None)]))
    _, a = open_analysis(path)
    with pytest.raises(Exception, match="^Index out of range$"):
        a.find_nearest_spectrum(target)


def test_only_spectra_without_retention_time(write_ozra):
    _, a = open_analysis(write_ozra(FunctionData.qual_ms([spectrum(None), spectrum(None)])))
    with pytest.raises(Exception, match="^Index out of range$"):
        a.find_nearest_spectrum(1.0)


def test_empty_analysis(write_ozra):
    _, a = open_analysis(write_ozra(FunctionData.qual_ms([])))
    assert a.get_spectra_count() == 0
    assert a.unique_acquisition_conditions == []
    assert str(a) == "[0] 0 spectra, 0 spectrum conditions"
    assert a.get_tic(None) == [] and a.get_bpc(None) == []


def test_conditions_without_stored_list_keep_first_object(write_ozra):
    path = write_ozra(FunctionData.qual_ms([spectrum(t, ms_level=1) for t in (1.0, 2.0, 3.0)]))
    _, a = open_analysis(path)
    conditions = [a.get_spectrum(i).acquisition_condition for i in range(3)]
    assert conditions[0] == conditions[1] == conditions[2]
    assert len({id(c) for c in conditions}) == 3
    assert a.unique_acquisition_conditions == [conditions[0]]
    assert a.unique_acquisition_conditions[0] is conditions[0]


def test_conditions_sorted_by_level_polarity_and_energy(write_ozra):
    path = write_ozra(
        FunctionData.qual_ms(
            [
                spectrum(1.0, ms_level=2, collision_energy=20.0),
                spectrum(2.0, ms_level=1, collision_energy=10.0),
                spectrum(3.0, ms_level=1, polarity=PolarityTypes.NEGATIVE),
                spectrum(4.0, ms_level=1),
                spectrum(5.0, ms_level=1, polarity=None),
            ]
        )
    )
    _, a = open_analysis(path)
    keys = [(c.ms_level, c.polarity, c.collision_energy) for c in a.unique_acquisition_conditions]
    assert keys == [
        (1, None, None),  # no polarity sorts first at its level
        (1, PolarityTypes.POSITIVE, None),
        (1, PolarityTypes.POSITIVE, 10.0),
        (1, PolarityTypes.NEGATIVE, None),
        (2, PolarityTypes.POSITIVE, 20.0),
    ]


def stored_conditions():
    return [
        AcquisitionConditionData(AcquisitionCoreConditionData(ms_level=2, collision_energy=35.0)),
        AcquisitionConditionData(AcquisitionCoreConditionData(ms_level=1)),
    ]


def test_stored_condition_list_is_shared_and_kept_in_order(write_ozra):
    spectra = [spectrum(float(t), acquisition_condition_index=t % 2) for t in range(4)]
    path = write_ozra(FunctionData.qual_ms(spectra, acquisition_conditions=stored_conditions()))
    _, a = open_analysis(path)
    unique = a.unique_acquisition_conditions
    assert [c.ms_level for c in unique] == [2, 1]
    for i in range(4):
        assert a.get_spectrum(i).acquisition_condition is unique[i % 2]
    assert a.get_spectrum(1).acquisition_condition is a.get_spectrum(3).acquisition_condition


@pytest.mark.parametrize("stored_index", [-1, 2, 7])
def test_stored_condition_index_outside_the_list(write_ozra, stored_index):
    spectra = [spectrum(1.0, acquisition_condition_index=stored_index)]
    path = write_ozra(FunctionData.qual_ms(spectra, acquisition_conditions=stored_conditions()))
    f = OzraFile(path)
    with pytest.raises(OzraFormatError):
        f.get_measurement(0).get_qual_analysis(0)


@pytest.fixture
def chromatogram_file(write_ozra):
    spectra = [
        spectrum(1.0, [(100.0, 5.0), (200.0, 7.0)], index=10, ms_level=1),
        spectrum(2.0, [(150.0, 2.0)], index=11, ms_level=2, collision_energy=20.0),
        spectrum(None, [(100.0, 9.0)], index=12, ms_level=1),
        spectrum(3.0, [(120.0, 4.0), (130.0, 4.0)], index=13, ms_level=1),
    ]
    return write_ozra(FunctionData.qual_ms(spectra))


def test_tic_and_bpc(chromatogram_file):
    _, a = open_analysis(chromatogram_file)
    ms1 = a.unique_acquisition_conditions[0]
    assert a.get_tic(ms1) == [
        SpectrumBasedChromatogramPoint(10, 1.0, 12.0, 200.0),
        SpectrumBasedChromatogramPoint(13, 3.0, 8.0, 120.0),
    ]
    assert a.get_bpc(acquisition_condition=ms1) == [
        SpectrumBasedChromatogramPoint(10, 1.0, 7.0, 200.0),
        SpectrumBasedChromatogramPoint(13, 3.0, 4.0, 120.0),
    ]
    assert [p.spectrum_index for p in a.get_tic(ms1, ValueRange(2.0, 3.0))] == [13]
    assert [p.spectrum_index for p in a.get_bpc(ms1, retention_time_range=ValueRange(0.0, 1.0))] == [10]
    ms2 = a.unique_acquisition_conditions[1]
    assert [p.spectrum_index for p in a.get_tic(ms2)] == [11]
    assert a.get_tic(5) == []


class AnswersEqual:
    """A condition stand-in that calls itself equal to anything that asks it."""

    def __eq__(self, other):
        return True

    __hash__ = object.__hash__


class CountingRange:
    """A retention-time range that counts `== None` tests and records `contains_value` calls."""

    def __init__(self):
        self.none_tests = 0
        self.tested = []

    def __eq__(self, other):
        self.none_tests += 1
        return False

    def contains_value(self, value):
        self.tested.append(value)
        return True


@pytest.mark.parametrize("method", ["get_tic", "get_bpc"])
def test_chromatogram_tests_run_in_order(chromatogram_file, method):
    _, a = open_analysis(chromatogram_file)
    chromatogram = getattr(a, method)
    # The spectrum's condition is the left operand: it answers for itself.
    assert chromatogram(AnswersEqual()) == []
    # The range is asked only for spectra with a retention time and the condition.
    ms1_range = CountingRange()
    assert [p.spectrum_index for p in chromatogram(a.unique_acquisition_conditions[0], ms1_range)] == [10, 13]
    assert (ms1_range.none_tests, ms1_range.tested) == (2, [1.0, 3.0])
    unmatched = CountingRange()
    assert chromatogram(object(), unmatched) == []
    assert (unmatched.none_tests, unmatched.tested) == (0, [])


@pytest.mark.parametrize("call", ["get_tic()", "get_tic(1, 2, 3)", "get_bpc(x=1)"])
def test_chromatogram_argument_errors(chromatogram_file, call):
    _, a = open_analysis(chromatogram_file)
    with pytest.raises(TypeError):
        eval("a." + call)


class CountingReader(access.OzraFileReader):
    """Counts the points reads that reach the file."""

    reads = 0

    def _OzraFileReader__read_spectrum(self):
        CountingReader.reads += 1
        return super()._OzraFileReader__read_spectrum()


@pytest.fixture
def counting(monkeypatch):
    monkeypatch.setattr(access, "OzraFileReader", CountingReader)
    CountingReader.reads = 0
    return CountingReader


def test_points_cached_profile_read_every_time(write_ozra, counting):
    path = write_ozra(
        FunctionData.qual_ms(
            [
                spectrum(1.0, [(100.0, 1.0), (101.0, 2.0)], profile_x=[99.9, 100.0, 100.1],
                         profile_intensity=[0.5, 1.0, 0.5]),
                spectrum(2.0),
            ]
        )
    )
    _, a = open_analysis(path)
    s = a.get_spectrum(0)
    assert str(s) == "[0] 2 points" and counting.reads == 1
    points = s.get_spectrum_points()
    assert s.get_spectrum_points() is points and counting.reads == 1
    assert [(p.x, p.intensity) for p in (points[0], points[1])] == [(100.0, 1.0), (101.0, 2.0)]
    profile = s.get_profile_spectrum_points()
    assert spectrum_view(profile)["x"].tolist() == [99.9, 100.0, 100.1]
    s.get_profile_spectrum_points()
    assert counting.reads == 3
    assert a.get_spectrum(0).get_spectrum_points() is not points and counting.reads == 4
    with pytest.raises(Exception, match="^No profile spectrum$"):
        a.get_spectrum(1).get_profile_spectrum_points()


def test_no_profile_block(three_spectra):
    _, a = open_analysis(three_spectra)
    for i in range(3):
        with pytest.raises(Exception, match="^No profile spectrum$"):
            a.get_spectrum(i).get_profile_spectrum_points()


def test_tic_reads_no_points(chromatogram_file, counting):
    _, a = open_analysis(chromatogram_file)
    a.get_tic(a.unique_acquisition_conditions[0])
    a.get_bpc(a.unique_acquisition_conditions[0])
    assert counting.reads == 0


def test_closed_file(chromatogram_file):
    f, a = open_analysis(chromatogram_file)
    cached = a.get_spectrum(0)
    cached.get_spectrum_points()
    f.close()
    condition = a.unique_acquisition_conditions[0]
    assert len(a.get_tic(condition)) == 2
    assert a.find_nearest_spectrum(2.9).index == 3
    assert len(cached.get_spectrum_points()) == 2
    with pytest.raises(ValueError, match="I/O operation on closed file"):
        a.get_spectrum(1).get_spectrum_points()
    with pytest.raises(ValueError, match="I/O operation on closed file"):
        f.get_measurement(0)


@pytest.mark.parametrize(
    "cls, content",
    [
        (QualAnalysis, FunctionData.qual_ms([spectrum(1.0), spectrum(2.0)])),
        (DADAnalysis, FunctionData.dad([spectrum(1.0), spectrum(2.0)])),
    ],
)
def test_create_instance_reads_through_the_instance(write_ozra, cls, content):
    f = OzraFile(write_ozra(content))
    kind = "qual" if cls is QualAnalysis else "dad"
    function_index = getattr(f.get_measurement(0), f"_Measurement__{kind}_index_list")[0]
    private = f"_{cls.__name__}__"
    readers_seen = []

    def counted_read(self):
        readers_seen.append(getattr(self, private + "reader"))
        getattr(super(Counting, self), private + "read")()

    Counting = type("Counting", (cls,), {private + "read": counted_read})
    analysis = getattr(Counting, private + "create_instance")(function_index, 0)
    assert type(analysis) is Counting and analysis.get_spectra_count() == 2
    assert len(readers_seen) == 1 and readers_seen[0] is function_index._FunctionIndex__reader

    NotReading = type("NotReading", (cls,), {private + "read": lambda self: None})
    with pytest.raises(AttributeError, match=private + "spectrum_index_list"):
        getattr(NotReading, private + "create_instance")(function_index, 0)


def test_reading_again_renews_the_nearest_search(monkeypatch):
    a, reader = make_analysis(monkeypatch, [StoredSpectrum(retention_time=1.0), StoredSpectrum(retention_time=5.0)])
    assert a.find_nearest_spectrum(1.5).index == 0
    reader.spectra[0].retention_time = 9.0
    a._QualAnalysis__read()
    assert a.find_nearest_spectrum(1.5).index == 1


def test_private_fields_read_only(three_spectra):
    _, a = open_analysis(three_spectra)
    assert a._QualAnalysis__index == 0
    assert len(a._QualAnalysis__spectrum_index_list) == 3
    s = a.get_spectrum(1)
    assert s._Spectrum__spectrum_index is a._QualAnalysis__spectrum_index_list[1]
    with pytest.raises(AttributeError):
        s._Spectrum__index = 5
    assert isinstance(a.unique_acquisition_conditions[0], AcquisitionCondition)
