"""Fixtures shared by the tests: small Ozra files written by the writer."""

import pytest

from ozra_data_access._internal._reader import OzraFileReader
from ozra_data_access.writer import FunctionData, MeasurementData, SpectrumData, write_file


@pytest.fixture
def write_ozra(tmp_path):
    """Writes measurements (or functions, wrapped in one measurement) and returns the path."""
    counter = iter(range(1_000_000))

    def write(content, **options):
        if isinstance(content, FunctionData):
            content = [MeasurementData(functions=[content])]
        elif content and isinstance(content[0], FunctionData):
            content = [MeasurementData(functions=list(content))]
        return str(write_file(tmp_path / f"file{next(counter)}.ozra", content, **options))

    return write


@pytest.fixture
def open_file(tmp_path):
    """Writes bytes to a file and opens a reader (of `cls`) on it; the readers are closed afterwards."""
    readers = []

    def opener(data, cls=OzraFileReader):
        path = tmp_path / f"bytes{len(readers)}.ozra"
        path.write_bytes(data)
        readers.append(cls._OzraFileReader__create_instance(path))
        return readers[-1]

    yield opener
    for reader in readers:
        reader._OzraFileReader__stream.close()


def spectrum(retention_time, points=((100.0, 1.0),), **fields):
    """A centroid spectrum with the given (x, intensity) points."""
    x = [p[0] for p in points]
    intensity = [p[1] for p in points]
    return SpectrumData(retention_time=retention_time, x=x, intensity=intensity, **fields)


@pytest.fixture(scope="session")
def converted_runs(tmp_path_factory):
    """`converted_runs(name)`: the shared run `name` converted to an Ozra file (once per session)."""
    from export_runs import ConvertedRuns

    return ConvertedRuns(tmp_path_factory.mktemp("converted_runs"))
