"""Spectrum descriptions built on first read: everything reads back as when every description is built
while the analysis opens (the records' factory wrapped so that it reads each description at once),
whatever is read first; damage still fails the open; a description is one object, also across threads
and after its file is closed."""

import gc
import json
import math
import pathlib
import struct
import threading

import pytest

import ozra_bytes as ob
from ozra_data_access import qual
from ozra_data_access._internal import _enum
from ozra_data_access.exception import OzraFormatError
from ozra_data_access.access import OzraFile
from ozra_data_access.common import ValueRange
from ozra_data_access.convert import convert_mzml
from shared_data import DATA, MZML_FILES

SCHEMA = pathlib.Path(__file__).resolve().parents[1] / "src" / "native" / "schema" / "format_schema.json"
DESCRIPTION_FIELDS = next(r["fields"] for r in json.loads(SCHEMA.read_text())["records"]
                          if r["class"] == "InternalSpectrumDescription")
CONDITION_FIELDS = ["ms_level", "polarity", "collision_energy", "precursor_value", "original_measured_spectrum_type",
                    "precursor_range", "mass_range", "additional_conditions"]


def same(a, b):
    """Equal in type and value, floats to the bit (NaN included), containers item by item."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        return struct.pack("<d", a) == struct.pack("<d", b)
    if isinstance(a, ValueRange):
        return same(a.min, b.min) and same(a.max, b.max)
    if isinstance(a, (list, tuple)):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, qual.AcquisitionCondition):
        return all(same(getattr(a, f), getattr(b, f)) for f in CONDITION_FIELDS)
    if hasattr(a, "tobytes"):
        return a.tobytes() == b.tobytes()
    return a == b


def description(record):
    return record._SpectrumIndex__spectrum_description


def field(d, name):
    return getattr(d, "_InternalSpectrumDescription__" + name)


class BuiltAtOnce:
    """The storage layer's factory, reading each description as the record is made."""
    real = qual.SpectrumIndex

    @classmethod
    def _SpectrumIndex__create_instance(cls, reader, position, index):
        record = cls.real._SpectrumIndex__create_instance(reader, position, index)
        description(record)
        return record


def nearest(analysis, target):
    try:
        return analysis.find_nearest_spectrum(target).index
    except Exception as error:  # no spectrum is nearest: the same error both ways
        return repr(error)


def read_everything(analysis, order):
    """What an analysis hands out, read in the given order: descriptions, conditions, chromatograms (XICs
    among them)."""
    records = analysis._QualAnalysis__spectrum_index_list
    parts = {}

    def descriptions():
        parts["descriptions"] = [[field(description(r), name) for name in DESCRIPTION_FIELDS] for r in records]
        # A condition made from a description holds the description's own objects.
        parts["shared objects"] = [
            [getattr(c, name) is field(d, name) for name in ("collision_energy", "mass_range", "precursor_range",
                                                            "precursor_value")]
            for d, c in ((description(r), field(description(r), "acquisition_condition")) for r in records)]

    def conditions():
        unique = analysis.unique_acquisition_conditions
        # Which listed condition (by identity) each spectrum has, if any.
        owners = [next((k for k, c in enumerate(unique) if c is analysis.get_spectrum(i).acquisition_condition), None)
                  for i in range(len(records))]
        parts["conditions"] = (list(unique), owners)

    def chromatograms():
        points = []
        for condition in analysis.unique_acquisition_conditions:
            xic_options = [qual.ChromatogramFilterOption(condition, ValueRange(0.0, 1e9), None),
                           qual.ChromatogramFilterOption(condition, ValueRange(0.0, 1e9), ValueRange(0.5, 2.5))]
            for chromatogram in (*analysis.get_multiple_xic(xic_options), analysis.get_tic(condition),
                                 analysis.get_bpc(condition), analysis.get_tic(condition, ValueRange(0.5, 2.5))):
                points.append([(p.spectrum_index, p.retention_time, p.intensity, p.x) for p in chromatogram])
        times = [t for t in (field(description(r), "retention_time") for r in records[:50]) if t is not None]
        targets = [0.0, -1.0, 1e9, *times, *((a + b) / 2 for a, b in zip(times, times[1:]))]
        parts["nearest"] = [nearest(analysis, t) for t in targets]
        parts["chromatograms"] = points

    # The nearest look-ups and chromatograms first, when asked, before any description is read.
    steps = {"descriptions": descriptions, "conditions": conditions, "chromatograms": chromatograms}
    for name in order:
        steps[name]()
    return parts


def read_file(path, order, monkeypatch=None, built_at_once=False):
    with monkeypatch.context() as patch:
        if built_at_once:
            patch.setattr(qual, "SpectrumIndex", BuiltAtOnce)
        with OzraFile(str(path)) as f:
            return read_everything(f.get_measurement(0).get_qual_analysis(0), order)


def assert_same_parts(lazy, eager):
    assert lazy.keys() == eager.keys()
    for name in lazy:
        assert same(lazy[name], eager[name]), name


ORDERS = [("chromatograms", "conditions", "descriptions"), ("descriptions", "conditions", "chromatograms"),
          ("conditions", "descriptions", "chromatograms")]


@pytest.fixture(scope="module")
def converted(tmp_path_factory):
    folder = tmp_path_factory.mktemp("lazy")
    paths = {}
    for name in MZML_FILES:
        path = convert_mzml(DATA / name, folder / f"{name}.ozra")
        with OzraFile(str(path)) as f:
            if f.get_measurement(0).get_qual_analysis_count() > 0:  # not a file of chromatograms only
                paths[name] = path
    return paths


@pytest.mark.parametrize("order", ORDERS, ids="-".join)
@pytest.mark.parametrize("name", MZML_FILES)
def test_real_files_read_as_when_built_at_open(converted, name, order, monkeypatch):
    if name not in converted:
        pytest.skip("not convertible to an MS analysis")
    lazy = read_file(converted[name], order, monkeypatch)
    eager = read_file(converted[name], ORDERS[1], monkeypatch, built_at_once=True)
    assert_same_parts(lazy, eager)


def varied_descriptions(with_cone_voltage):
    """Descriptions whose conditions repeat or differ only in the type or sign of a number. (A NaN in a
    condition is left out: NaN hashes by identity, so the order of such conditions in the unique list
    follows memory addresses.)"""
    polarity = _enum.PolarityTypes
    variants = [
        dict(),
        dict(ms_level=2, collision_energy=20.0, precursor_value=445.5),
        dict(ms_level=2, collision_energy=20.0, precursor_value=446.5),
        dict(ms_level=2, collision_energy=20, precursor_value=445.5),
        dict(ms_level=2, collision_energy=-0.0, precursor_value=445.5),
        dict(ms_level=None, polarity=polarity.NEGATIVE, mass_range=ob.Range(50, 1000)),
        dict(ms_level=True, precursor_value=-0.0, is_profile_spectrum_measured=None),
        dict(ms_level=1, precursor_value=0.0, is_profile_spectrum_measured=True, precursor_range=ob.Range(1.0, 2)),
    ]
    descriptions = []
    for i in range(40):
        overrides = dict(variants[i % len(variants)])
        retention_time = [0.25 * i, None, i, math.nan][i % 4] if i % 5 == 3 else 0.25 * i
        if with_cone_voltage and i == 17:
            overrides.update(cone_voltage=30.0, supplemental_properties={"Cone Voltage": "30"})
        descriptions.append(ob.spectrum_description(i, retention_time, current_total_ion=float(i) * 1.5,
                                                    base_peak_intensity=i, base_peak_mz=[100.5, None, math.nan][i % 9 % 3],
                                                    **overrides))
    return descriptions


@pytest.mark.parametrize("order", ORDERS, ids="-".join)
@pytest.mark.parametrize("with_cone_voltage", [False, True], ids=["conditions-wait", "conditions-at-open"])
def test_varied_descriptions_read_as_when_built_at_open(tmp_path, monkeypatch, order, with_cone_voltage):
    path = tmp_path / "varied.ozra"
    path.write_bytes(ob.one_function_file(varied_descriptions(with_cone_voltage)))
    lazy = read_file(path, order, monkeypatch)
    eager = read_file(path, ORDERS[1], monkeypatch, built_at_once=True)
    assert_same_parts(lazy, eager)


def open_bytes(tmp_path, data):
    path = tmp_path / "file.ozra"
    path.write_bytes(data)
    f = OzraFile(str(path))
    return f, f.get_measurement(0).get_qual_analysis(0)


UTF8_SAMPLES = [b"plain", "é€😀".encode(), b"\xef\xbf\xbf", b"\xf4\x8f\xbf\xbf", b"\x00",
                b"\xc3\x28", b"\xc0\xaf", b"\xe0\x80\xaf", b"\xed\xa0\x80", b"\xf4\x90\x80\x80", b"\xf0\x9f\x98",
                b"\xf8\x88\x80\x80\x80", b"\x80", b"\xc2"]


@pytest.mark.parametrize("text", UTF8_SAMPLES)
def test_a_late_description_with_a_string_fails_the_open_as_the_interpreter_decodes_it(tmp_path, text):
    """Descriptions are checked when the analysis opens: a string the interpreter's strict UTF-8 decoder
    refuses fails the open, one it takes reads back as it decodes."""
    raw = ob.Raw(b"\x07" + ob.count(1) + ob.value("key") + b"\x03" + ob.count(len(text)) + text)
    descriptions = [ob.spectrum_description(i, float(i)) for i in range(5)]
    descriptions.append(ob.spectrum_description(5, 5.0, supplemental_properties=raw))
    data = ob.one_function_file(descriptions)
    try:
        expected = text.decode("utf-8")
    except UnicodeDecodeError:
        with pytest.raises(OzraFormatError, match="expected a string of valid UTF-8"):
            open_bytes(tmp_path, data)
        return
    f, analysis = open_bytes(tmp_path, data)
    with f:
        assert field(description(analysis._QualAnalysis__spectrum_index_list[5]), "supplemental_properties") == \
            {"key": expected}


def test_a_bad_condition_index_of_a_late_description_fails_the_open(tmp_path):
    condition = ob.Record("InternalAcquisitionCondition",
                          ob.Record("InternalAcquisitionCoreCondition", 1, None, None, None, None, None, None),
                          None, None)
    descriptions = [ob.spectrum_description(i, float(i), condition_index=0) for i in range(4)]
    descriptions.append(ob.spectrum_description(4, 4.0, condition_index="first"))
    with pytest.raises(OzraFormatError, match=r"acquisition_condition_index from 0 to 1 - 1 .*found 'first'"):
        open_bytes(tmp_path, ob.one_function_file(descriptions, conditions=[condition]))


def test_descriptions_read_after_the_file_is_closed(tmp_path):
    descriptions = varied_descriptions(with_cone_voltage=False)
    f, analysis = open_bytes(tmp_path, ob.one_function_file(descriptions))
    f.close()
    records = analysis._QualAnalysis__spectrum_index_list
    assert [field(description(r), "index") for r in records] == list(range(len(descriptions)))
    assert analysis.get_spectrum(1).acquisition_condition.collision_energy == 20.0
    assert analysis.unique_acquisition_conditions[0].ms_level == 1


def test_threads_reading_descriptions_of_one_analysis_get_the_same_objects(tmp_path):
    count = 3000
    descriptions = [ob.spectrum_description(i, 0.01 * i, ms_level=1 + i % 3, collision_energy=float(i % 7))
                    for i in range(count)]
    f, analysis = open_bytes(tmp_path, ob.one_function_file(descriptions))
    records = analysis._QualAnalysis__spectrum_index_list
    start = threading.Barrier(4)
    results, errors = [None] * 4, []

    def read(slot):
        try:
            start.wait()
            order = records if slot % 2 == 0 else records[::-1]
            seen = [(description(r), field(description(r), "acquisition_condition")) for r in order]
            results[slot] = seen if slot % 2 == 0 else seen[::-1]
        except BaseException as error:  # reported below
            errors.append(error)

    threads = [threading.Thread(target=read, args=(slot,)) for slot in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    with f:
        assert not errors, errors
        for seen in results[1:]:
            assert all(a is b and c is d for (a, c), (b, d) in zip(results[0], seen))
        assert all(d is description(r) for (d, _), r in zip(results[0], records))
        wrong = [(i, c) for i, (_, c) in enumerate(results[0]) if c is None or c.ms_level != 1 + i % 3]
        assert not wrong, wrong[:3]
        assert len(analysis.unique_acquisition_conditions) == 21


def live_records():
    return sum(1 for o in gc.get_objects() if type(o) is qual.SpectrumIndex)


def live_of(class_name):
    return sum(1 for o in gc.get_objects() if type(o).__name__ == class_name)


@pytest.mark.parametrize("kept", [None, "spectrum", "conditions"])
def test_an_analysis_dropped_while_its_conditions_wait_frees_its_records_without_the_collector(tmp_path, kept):
    descriptions = varied_descriptions(with_cone_voltage=False)
    gc.collect()
    gc.disable()
    try:
        before = live_records()
        f, analysis = open_bytes(tmp_path, ob.one_function_file(descriptions))
        held = analysis.get_spectrum(1) if kept == "spectrum" else None
        if kept == "conditions":
            analysis.unique_acquisition_conditions
        f.close()
        del f, analysis
        if held is None:
            assert live_records() == before
            assert live_of("SpectrumIndexBlock") == live_of("DescriptionFrame") == 0
        else:
            # Only the held spectrum's record was made; it keeps the waiting walk, which still works.
            assert live_records() == before + 1
            assert held.acquisition_condition.collision_energy == 20.0
    finally:
        gc.enable()


def test_an_xic_whose_range_builds_the_descriptions_reads_as_with_a_plain_range(tmp_path):
    """The range's own test runs code that builds every description mid-walk, dropping what the
    records keep pending: the points are those of the same requests with a range of the class."""
    path = tmp_path / "varied.ozra"
    path.write_bytes(ob.one_function_file(varied_descriptions(with_cone_voltage=False)))

    class BuildingRange:
        min, max = 0.5, 2.5

        def __init__(self, records):
            self.records, self.tests = records, 0

        def contains_value(self, value):
            self.tests += 1
            for record in self.records:
                description(record)
            return self.min <= value <= self.max

    def points(analysis, retention_time_range):
        options = [qual.ChromatogramFilterOption(c, ValueRange(0.0, 1e9), retention_time_range)
                   for c in analysis.unique_acquisition_conditions]
        return [[(p.spectrum_index, p.retention_time, p.intensity, p.x) for p in xic]
                for xic in analysis.get_multiple_xic(options)]

    with OzraFile(str(path)) as f:
        analysis = f.get_measurement(0).get_qual_analysis(0)
        records = analysis._QualAnalysis__spectrum_index_list
        building = BuildingRange(records)
        lazy = points(analysis, building)
        assert all(type(field(description(r), "acquisition_condition")) is qual.AcquisitionCondition
                   for r in records)
    with OzraFile(str(path)) as f:
        plain = points(f.get_measurement(0).get_qual_analysis(0), ValueRange(0.5, 2.5))
    assert building.tests > 0
    assert any(plain) and same(lazy, plain)


def profiled_file(count):
    """A file of `count` spectra at retention times 0, 1, ..., every third without profile points;
    with the positions and profile positions (0: none) of its spectra."""
    builder = ob.FileBuilder()
    positions = [builder.add(ob.spectrum([1.0, 2.0], [3.0, float(i)])) for i in range(count)]
    profiles = [builder.add(ob.spectrum([1.0], [float(i)])) if i % 3 else 0 for i in range(count)]
    descriptions = [ob.spectrum_description(i, retention_time=float(i), is_profile_spectrum_measured=bool(i % 3))
                    for i in range(count)]
    block = builder.add_spectrum_index_block(positions, descriptions, profile_positions=profiles)
    functions = builder.add_function_index_block([block], [ob.qual_function_description()])
    return builder.build(builder.add_jump_table([functions], [ob.measurement_description()])), positions, profiles


def test_a_nearest_spectrum_look_up_makes_only_the_record_it_returns(tmp_path):
    gc.collect()
    before = live_records()
    f, analysis = open_bytes(tmp_path, profiled_file(40)[0])
    with f:
        assert [analysis.find_nearest_spectrum(t).index for t in (7.2, 7.4, 0.5, 100.0)] == [7, 7, 0, 39]
        assert live_records() == before + 3


@pytest.mark.parametrize("walk", ["conditions", "tic", "bpc", "xic"])
def test_walks_answered_from_descriptions_not_built_make_no_records(tmp_path, walk):
    """The conditions, the TIC/BPC and an XIC of plain conditions read the spectra by index."""
    f, analysis = open_bytes(tmp_path, profiled_file(40)[0])
    with f:
        gc.collect()
        before = live_records()
        conditions = analysis.unique_acquisition_conditions
        condition = conditions[-1]
        times = ValueRange(10.0, 20.0) if walk == "xic" else None
        if walk == "xic":
            points = analysis.get_xic(qual.ChromatogramFilterOption(condition, ValueRange(1.5, 2.5), times))
        elif walk != "conditions":
            points = getattr(analysis, f"get_{walk}")(condition)
        assert live_records() == before
        if walk != "conditions":
            assert [p.spectrum_index for p in points] == [
                i for i in range(40) if analysis.get_spectrum(i).acquisition_condition == condition
                and (times is None or times.contains_value(float(i)))]


@pytest.mark.parametrize("asked, live", [([7, 0, 39, 7, 4], 4), (list(range(30, 0, -3)), 40)])
def test_records_are_made_when_asked_for_and_are_those_the_list_holds(tmp_path, asked, live):
    """An analysis makes the record of a spectrum when it is first asked for (in any order), with the
    stored position and profile position and its own description, and all of them once one in eight
    was asked for; the list holds the records handed out before."""
    count = 40
    data, positions, profiles = profiled_file(count)
    gc.collect()
    before = live_records()
    f, analysis = open_bytes(tmp_path, data)
    with f:
        made = {i: analysis.get_spectrum(i)._Spectrum__spectrum_index for i in asked}
        assert live_records() == before + live
        records = analysis._QualAnalysis__spectrum_index_list
        assert all(records[i] is record for i, record in made.items())
        assert [(r._SpectrumIndex__position, r._SpectrumIndex__profile_position) for r in records] == \
               list(zip(positions, profiles))
        assert [description(r)._InternalSpectrumDescription__index for r in records] == list(range(count))
        assert [p.intensity for p in analysis.get_spectrum(5).get_profile_spectrum_points()] == [5.0]


def test_a_stored_condition_list_reaches_the_spectra_without_making_their_records(tmp_path):
    descriptions = [ob.spectrum_description(i, condition_index=i % 2) for i in range(40)]
    gc.collect()
    before = live_records()
    f, analysis = open_bytes(tmp_path, ob.one_function_file(descriptions, ob.CONDITIONS))
    with f:
        assert live_records() == before
        conditions = analysis.unique_acquisition_conditions
        assert all(analysis.get_spectrum(i).acquisition_condition is conditions[i % 2] for i in (3, 8))
        assert live_records() == before + 2
