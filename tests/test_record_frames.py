"""A spectrum index block whose description frame is large enough to be decompressed while its
descriptions are checked: every description read exactly, and a damaged frame told before any fault
of its records, as when the frame is decompressed first."""

import random

import pytest

import ozra_bytes as ob
from ozra_data_access.access import OzraFile
from ozra_data_access.exception import OzraFormatError

# Descriptions of some 100 bytes each: a frame of 2 MB, some milliseconds of zstd.
COUNT = 20000
LARGE_VALUE = "v" * (200 << 10)  # longer than the bytes a description is first given to be read in


def descriptions(at=None, **common):
    """COUNT descriptions with numbers of their own (so that the frame compresses little and arrives
    in several steps) and the `common` fields; `at` maps an index to the fields of that description."""
    at = at or {}
    rng = random.Random(7)
    fields = [{"index": i, "retention_time": retention_time(i), "current_total_ion": rng.random(),
               "base_peak_intensity": rng.random(), "base_peak_mz": rng.random(), **common, **at.get(i, {})}
              for i in range(COUNT)]
    return [ob.spectrum_description(**f) for f in fields]


def retention_time(i):
    return i + random.Random(i).random()


def write_run(path, records, *, conditions=None, repeat_position=None, damage_checksum=False):
    builder = ob.FileBuilder()
    positions = [builder.add(ob.spectrum([1.0, 2.0], [3.0, float(i)])) for i in range(len(records))]
    if repeat_position is not None:
        positions[repeat_position] = positions[0]
    block = builder.add_spectrum_index_block(positions, records)
    functions = builder.add_function_index_block([block], [ob.qual_function_description(conditions)])
    data = bytearray(builder.build(builder.add_jump_table([functions], [ob.measurement_description()])))
    if damage_checksum:
        frame = ob.compress(b"".join(ob.record(r) for r in records))
        data[data.index(frame) + len(frame) - 1] ^= 0x01  # the frame's last checksum byte
    path.write_bytes(bytes(data))
    return path


def open_analysis(path):
    f = OzraFile(str(path))
    return f, f.get_measurement(0).get_qual_analysis(0)


def test_every_description_of_a_large_frame_is_read_exactly(tmp_path):
    middle = COUNT // 2
    path = write_run(tmp_path / "large.ozra", descriptions({middle: {"supplemental_properties": {"k": LARGE_VALUE}}}))
    f, analysis = open_analysis(path)
    with f:
        assert analysis.get_spectra_count() == COUNT
        condition = analysis.unique_acquisition_conditions[0]
        tic = analysis.get_tic(condition)
        assert [(p.spectrum_index, p.retention_time) for p in tic] == \
               [(i, retention_time(i)) for i in range(COUNT)]
        spectrum = analysis.get_spectrum(middle)
        assert spectrum.supplemental_properties == {"k": LARGE_VALUE}
        assert [(p.x, p.intensity) for p in analysis.get_spectrum(COUNT - 1).get_spectrum_points()] == \
               [(1.0, 3.0), (2.0, float(COUNT - 1))]


@pytest.mark.parametrize("fault", [
    pytest.param({"repeat_position": 2}, id="a position named twice"),
    pytest.param({"conditions": ob.CONDITIONS, "condition_index": 0, "at": {COUNT - 10: {"condition_index": 5}}},
                 id="a condition index outside the stored list"),
    pytest.param({"at": {COUNT // 2: {"supplemental_properties": {"k": LARGE_VALUE}}, COUNT - 1: {"polarity": ob.Raw(b"\x06\x01\x09\x00\x00\x00")}}},
                 id="a description value outside its enumeration"),
])
def test_a_damaged_frame_is_told_before_the_faults_of_its_records(tmp_path, fault):
    fault = dict(fault)
    common = {"condition_index": fault.pop("condition_index")} if "condition_index" in fault else {}
    records = descriptions(fault.pop("at", None), **common)
    sound = write_run(tmp_path / "sound.ozra", records, **fault)
    with pytest.raises(OzraFormatError) as record_fault:
        open_analysis(sound)
    assert "checksum" not in str(record_fault.value)
    damaged = write_run(tmp_path / "damaged.ozra", records, damage_checksum=True, **fault)
    with pytest.raises(OzraFormatError, match=r"an undamaged zstd frame \(zstd: .*checksum"):
        open_analysis(damaged)
