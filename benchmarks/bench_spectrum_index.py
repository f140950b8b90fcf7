"""Time and memory of SpectrumIndex._SpectrumIndex__create_instance: 100,000
spectrum descriptions decoded from one frame, as an analysis creates them.

    PYTHONPATH=src:tests python3 benchmarks/bench_spectrum_index.py [count]

The descriptions vary as real ones do (index, retention time, summary values,
MS1/MS2 alternating with a collision energy and precursor for MS2). The loop
runs in Python, so each figure includes one Python-level call; the empty-loop
line shows that overhead. The line with the cyclic garbage collector disabled
shows its share: it traverses the growing set of records again and again.
"""

import gc
import statistics
import sys
import time
import tracemalloc
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))

import ozra_bytes as ob  # noqa: E402
from ozra_data_access._internal import _enum  # noqa: E402
from ozra_data_access._internal._index import SpectrumIndex  # noqa: E402
from ozra_data_access._internal._reader import OzraFileReader  # noqa: E402

R = "_OzraFileReader__"


def descriptions(count):
    for i in range(count):
        ms2 = i % 2 == 1
        yield ob.spectrum_description(
            i, 0.002 * i, None, precursor_index=i - 1 if ms2 else None, product_indices=[] if ms2 else [i + 1],
            current_total_ion=1e6 + 37.5 * i, base_peak_intensity=1e4 + 3.25 * i, base_peak_mz=100.0 + (i % 900),
            ms_level=2 if ms2 else 1, collision_energy=20.0 if ms2 else None,
            precursor_range=ob.Range(300.0, 302.0) if ms2 else None, precursor_value=301.0 if ms2 else None,
            polarity=_enum.PolarityTypes.NEGATIVE if i % 4 >= 2 else _enum.PolarityTypes.POSITIVE)


def open_block(path, block, count):
    reader = OzraFileReader._OzraFileReader__create_instance(path)
    getattr(reader, R + "set_buffer")(block)
    getattr(reader, R + "confirm_ozra_symbol")(_enum.OzraSymbols.BEGIN_OF_SPECTRUM_INDEX_BLOCK)
    origin = getattr(reader, R + "get_absolute_position")()
    assert getattr(reader, R + "read_uint32")() == count
    getattr(reader, R + "read_bool")()
    positions = getattr(reader, R + "read_int64_array")()
    getattr(reader, R + "set_decompressed_buffer")()
    return reader, origin, positions


def create_all(reader, origin, positions, count):
    create = SpectrumIndex._SpectrumIndex__create_instance
    return [create(reader, positions[i] + origin, i) for i in range(count)]


def create_all_without_gc(reader, origin, positions, count):
    gc.disable()
    try:
        return create_all(reader, origin, positions, count)
    finally:
        gc.enable()


def empty_loop(reader, origin, positions, count):
    return [(reader, positions[i] + origin, i) for i in range(count)]


def main():
    count = int(sys.argv[1]) if len(sys.argv) > 1 else 100_000
    path = Path("/tmp") / f"bench_spectrum_index_{count}.ozra"
    builder = ob.FileBuilder()
    # A reader refuses two spectra of one function stored at one position: each gets its own points.
    points = ob.spectrum([1.0, 2.0], [3.0, 4.0])
    block = builder.add_spectrum_index_block([builder.add(points) for _ in range(count)], list(descriptions(count)))
    path.write_bytes(builder.build(0))
    print(f"{count} descriptions, file {path.stat().st_size} bytes")

    runs = {"create": create_all, "create, gc disabled": create_all_without_gc, "empty loop": empty_loop}
    timings = {name: [] for name in runs}
    for _ in range(7):
        for name, run in runs.items():
            reader, origin, positions = open_block(path, block, count)
            gc.collect()
            start = time.perf_counter()
            records = run(reader, origin, positions, count)
            timings[name].append(time.perf_counter() - start)
            assert len(records) == count
            del records
            reader._OzraFileReader__stream.close()
    for name, values in timings.items():
        print(f"{name:>20}: {statistics.median(values) / count * 1e9:7.0f} ns per record (median of 7)")

    reader, origin, positions = open_block(path, block, count)
    gc.collect()
    tracemalloc.start()
    records = create_all(reader, origin, positions, count)
    size, _ = tracemalloc.get_traced_memory()
    tracemalloc.stop()
    print(f"{'memory':>20}: {size / count:7.0f} bytes per SpectrumIndex with its description (list included)")
    del records
    reader._OzraFileReader__stream.close()
    path.unlink()


if __name__ == "__main__":
    main()
