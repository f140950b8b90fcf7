"""OzraFile and Measurement over a stand-in storage layer (see storage_stand_in.py)."""

import gc
import subprocess
import sys

import pytest

from ozra_data_access._internal._description import DetectorTypes, MeasurementDescription
from ozra_data_access._internal._enum import OzraSymbols
from ozra_data_access.access import Measurement, OzraFile
from ozra_data_access.exception import OzraException, OzraFormatError

import storage_stand_in as stand_in
from storage_stand_in import StoredFile, StoredMeasurement, qual_function, quan_function

GETTERS = ["get_qual_analysis", "get_dad_analysis", "get_quan_analysis", "get_analog_analysis"]
DESCRIPTION_PROPERTIES = [
    "sample_name", "sample_id", "acquisition_method_file_name", "dilution_factor", "injection_volume",
    "original_file_path", "instrument_product_name", "measurement_user_name", "plate_code", "well_code",
    "measurement_date_time", "instrument_manufacturer", "source_file_definition", "supplemental_properties", "hash",
]


@pytest.fixture
def files(monkeypatch):
    return stand_in.install(monkeypatch)


def one_of_each_kind():
    return [qual_function(), quan_function(), qual_function(DetectorTypes.DAD), quan_function(DetectorTypes.UV)]


@pytest.fixture
def path(files):
    files["a.ozra"] = StoredFile(measurements=[StoredMeasurement(functions=one_of_each_kind())])
    return "a.ozra"


def reader_of(f):
    return f._OzraFile__reader


class Position(int):
    """An index object whose identity survives only if it is passed on as given (small ints are shared)."""


def test_open_keeps_the_path_and_reads_only_the_jump_table(files):
    class Path(str):
        pass

    given = Path("p.ozra")
    files[given] = StoredFile(measurements=[StoredMeasurement()])
    f = OzraFile(given)
    assert f._OzraFile__file_path is given and f.file_path is given
    assert str(f) == repr(f) == "p.ozra"
    assert reader_of(f).log == [("JumpTable",)]
    assert f._OzraFile__jump_table._JumpTable__measurement_index_list[0]._MeasurementIndex__reader is reader_of(f)


@pytest.mark.parametrize("fields, text", [((1, 10, 0), "1.10.0"), ((2, 0, 13), "2.0.13"), (("3", "x", 7), "3.x.7")])
def test_version_strings(files, fields, text):
    files["v"] = StoredFile(versions=fields, converter_versions=tuple(reversed(fields)))
    f = OzraFile("v")
    assert f.get_file_format_version() == text
    assert f.get_converter_version() == ".".join(str(v) for v in reversed(fields))


@pytest.mark.parametrize("stored_count, index", [(0, 0), (0, -1), (2, -1), (2, 2), (2, 5)])
def test_get_measurement_out_of_range_raises_ozra_exception(files, stored_count, index):
    files["f"] = StoredFile(measurements=[StoredMeasurement()] * 3, num_measurements=stored_count)
    with pytest.raises(OzraException) as raised:
        OzraFile("f").get_measurement(index)
    assert type(raised.value) is OzraException and raised.value.args == ("Index out of range",)


def test_get_measurement_with_an_uncomparable_index_raises_type_error(path):
    with pytest.raises(TypeError):
        OzraFile(path).get_measurement("0")


@pytest.mark.parametrize("getter", GETTERS)
@pytest.mark.parametrize("functions", [one_of_each_kind(), []], ids=["one each", "none"])
def test_analysis_getters_out_of_range_raise_plain_exception(files, getter, functions):
    files["f"] = StoredFile(measurements=[StoredMeasurement(functions=functions)])
    m = OzraFile("f").get_measurement(0)
    count = getattr(m, getter + "_count")()
    for index in (-1, count):
        with pytest.raises(Exception) as raised:
            getattr(m, getter)(index)
        assert type(raised.value) is Exception and raised.value.args == ("Index out of range",)


def test_block_read_call_sequence(files):
    functions = [qual_function(), quan_function()]
    files["f"] = StoredFile(measurements=[StoredMeasurement(), StoredMeasurement(functions=functions)])
    f = OzraFile("f")
    reader = reader_of(f)
    reader.log.clear()
    f.get_measurement(1)
    block, origin = 2000, 2000 + stand_in.MARKER_SIZE
    assert reader.log == [
        ("set_buffer", block),
        ("confirm", OzraSymbols.BEGIN_OF_FUNCTION_INDEX_BLOCK),
        ("get_absolute_position",),
        ("read_uint16_or_32",),
        ("read_int64_array",),
        ("set_decompressed_buffer",),
        ("FunctionIndex", origin + 16),
        ("FunctionIndex", origin + 32),
        ("reset_decompressed_buffer",),
        ("confirm", OzraSymbols.END_OF_FUNCTION_INDEX_BLOCK),
    ]


def test_functions_sorted_into_four_kinds_in_stored_order(files):
    functions = [qual_function(), quan_function(), qual_function(DetectorTypes.DAD), qual_function(),
                 quan_function(DetectorTypes.ANALOG), qual_function(DetectorTypes.UNKNOWN)]
    files["f"] = StoredFile(measurements=[StoredMeasurement(functions=functions)])
    f = OzraFile("f")
    m = f.get_measurement(0)

    def descriptions(kind):
        return [fi._FunctionIndex__function_description for fi in getattr(m, "_Measurement__" + kind + "_index_list")]

    assert descriptions("qual") == [functions[0], functions[3]]
    assert descriptions("quan") == [functions[1]]
    assert descriptions("dad") == [functions[2], functions[5]]
    assert descriptions("analog") == [functions[4]]
    assert [m.get_qual_analysis_count(), m.get_quan_analysis_count(), m.get_dad_analysis_count(),
            m.get_analog_analysis_count()] == [2, 1, 2, 1]

    index = Position(1)
    analysis = m.get_qual_analysis(index=index)
    assert analysis.cls is stand_in.ANALYSIS_CLASSES["QualAnalysis"] and analysis.index is index
    assert analysis.function_index is m._Measurement__qual_index_list[1]
    first, second = m.get_dad_analysis(0), m.get_dad_analysis(0)
    assert first is not second and first.function_index is second.function_index
    assert first.cls.__name__ == "DADAnalysis"
    assert m.get_quan_analysis(0).cls.__name__ == "QuanAnalysis"
    assert m.get_analog_analysis(0).cls.__name__ == "AnalogAnalysis"


def test_get_measurement_builds_a_new_measurement_each_time(path):
    f = OzraFile(path)
    index = Position(0)
    first, second = f.get_measurement(index), f.get_measurement(index)
    assert first is not second and first.index is index
    assert [call for call in reader_of(f).log if call[0] == "set_buffer"] == [("set_buffer", 1000)] * 2


@pytest.mark.parametrize("name", DESCRIPTION_PROPERTIES)
def test_description_fields_are_passed_through_unchanged(files, name):
    value = object()
    files["f"] = StoredFile(measurements=[StoredMeasurement(MeasurementDescription(**{name: value}))])
    assert getattr(OzraFile("f").get_measurement(0), name) is value


@pytest.mark.parametrize("sample_name, sample_id, functions, text", [
    ("S1", "A7", [qual_function(), qual_function(), qual_function(DetectorTypes.DAD), quan_function(DetectorTypes.UV)],
     "[Sample Name] S1, [Sample ID] A7, [#Qual] 2, [#Quan] 0, [#DAD] 1, [#Analog] 1"),
    ("", None, [], "[#Qual] 0, [#Quan] 0, [#DAD] 0, [#Analog] 0"),
    (None, "A7", [quan_function()], "[Sample ID] A7, [#Qual] 0, [#Quan] 1, [#DAD] 0, [#Analog] 0"),
    (12, "", [], "[Sample Name] 12, [#Qual] 0, [#Quan] 0, [#DAD] 0, [#Analog] 0"),
])
def test_measurement_text_form(files, sample_name, sample_id, functions, text):
    description = MeasurementDescription(sample_name=sample_name, sample_id=sample_id)
    files["f"] = StoredFile(measurements=[StoredMeasurement(description, functions)])
    m = OzraFile("f").get_measurement(0)
    assert str(m) == repr(m) == text


def test_close_is_repeatable_and_keeps_in_memory_answers(files):
    files["f"] = StoredFile(measurements=[StoredMeasurement()], versions=(2, 0, 13))
    f = OzraFile("f")
    stream = reader_of(f).stream
    assert f.close() is None
    f.close()
    with f:
        pass
    assert stream.close_calls == 1
    assert f.get_measurement_count() == 1 and f.get_file_format_version() == "2.0.13" and str(f) == "f"
    with pytest.raises(ValueError, match="closed file"):
        f.get_measurement(0)


def test_with_block_closes_and_lets_the_exception_through(path):
    with pytest.raises(KeyError) as raised:
        with OzraFile(path) as f:
            opened = f
            raise KeyError("inside")
    assert raised.value.args == ("inside",)
    assert isinstance(opened, OzraFile) and reader_of(opened).stream.closed
    assert opened.__exit__(None, None, None) is None


def test_destroying_the_file_closes_the_shared_stream(path):
    m = OzraFile(path).get_measurement(0)
    (reader,) = stand_in.OzraFileReader.created
    assert reader.stream.closed
    assert m.get_qual_analysis_count() == 1 and str(m).startswith("[#Qual] 1")
    with pytest.raises(ValueError, match="closed file"):
        m.get_qual_analysis(0)


def test_failed_construction(files, monkeypatch):
    reports = []
    monkeypatch.setattr(sys, "unraisablehook", reports.append)
    with pytest.raises(FileNotFoundError):
        OzraFile("missing")
    damage = OzraFormatError("bad jump table at byte 12")
    files["damaged"] = StoredFile(fail_jump_table=damage)
    with pytest.raises(OzraFormatError) as raised:
        OzraFile("damaged")
    assert raised.value is damage
    gc.collect()
    (reader,) = stand_in.OzraFileReader.created
    assert reader.stream.closed
    assert reports == []


def test_errors_while_reading_a_block_propagate_unchanged(path, monkeypatch):
    damage = OzraFormatError("expected the end of the function index block at byte 1068")

    def confirm(reader, symbol):
        if symbol == OzraSymbols.END_OF_FUNCTION_INDEX_BLOCK:
            raise damage

    monkeypatch.setattr(stand_in.OzraFileReader, "_OzraFileReader__confirm_ozra_symbol", confirm)
    with pytest.raises(OzraFormatError) as raised:
        OzraFile(path).get_measurement(0)
    assert raised.value is damage


def test_protection_subclassing_and_read_only_fields(path):
    with pytest.raises(Exception) as raised:
        Measurement()
    assert type(raised.value) is Exception and raised.value.args == ("Inaccessible due to protection level",)
    with pytest.raises(TypeError):
        Measurement(1)

    class MyFile(OzraFile):
        pass

    class MyMeasurement(Measurement):
        pass

    f = MyFile(path)
    index_record = f._OzraFile__jump_table._JumpTable__measurement_index_list[0]
    m = MyMeasurement._Measurement__create_instance(index_record, 0)
    assert type(m) is MyMeasurement and m.get_dad_analysis_count() == 1
    for obj, field in [(f, "_OzraFile__reader"), (m, "_Measurement__index"), (m, "_Measurement__qual_index_list")]:
        with pytest.raises(AttributeError):
            setattr(obj, field, None)


@pytest.mark.parametrize("call, message", [
    (lambda f, m: f.get_measurement(), "missing required argument 'index'"),
    (lambda f, m: f.get_measurement(0, 1), "takes at most 1 argument (2 given)"),
    (lambda f, m: f.get_measurement(position=0), "'position' is an invalid keyword argument for get_measurement()"),
    (lambda f, m: f.__exit__(None, None), "missing required argument 'trace'"),
    (lambda f, m: f.close(1), "takes no arguments"),
    (lambda f, m: m.get_dad_analysis(), "missing required argument 'index'"),
    (lambda f, m: OzraFile(), "missing required argument 'file_path'"),
])
def test_argument_errors(path, call, message):
    f = OzraFile(path)
    m = f.get_measurement(index=0)
    with pytest.raises(TypeError, match=message.replace("(", r"\(").replace(")", r"\)")):
        call(f, m)


# A fresh interpreter in which `source` lacks `name`; it imports `target` and prints what it raised
# and which of the later modules of the import order were loaded all the same.
MISSING_NAME = """
import importlib, sys, types
source, name, target, later = sys.argv[1:]
real = importlib.import_module(source)
fake = types.ModuleType(source)
fake.__dict__.update({key: value for key, value in vars(real).items() if key != name})
sys.modules[source] = fake
try:
    importlib.import_module(target)
except Exception as error:
    print(type(error).__name__, error.name, later in sys.modules)
    print(error)
"""


@pytest.mark.parametrize("source, name, target, later", [
    ("ozra_data_access.exception", "OzraException", "ozra_data_access.access", "ozra_data_access.qual"),
    ("ozra_data_access.quan", "AnalogAnalysis", "ozra_data_access.access", "-"),
    ("ozra_data_access.common", "SpectrumTypes", "ozra_data_access.qual", "-"),
])
def test_a_name_that_cannot_be_bound_fails_the_import(source, name, target, later):
    run = subprocess.run([sys.executable, "-c", MISSING_NAME, source, name, target, later],
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    raised, message = run.stdout.splitlines()
    assert raised == f"ImportError {source} False"
    assert message.startswith(f"cannot import name '{name}' from '{source}' (")
