"""The writer, the built storage module and docs/format.md against the one
description of the format's markers, records, tags and enumerations
(src/native/schema/format_schema.json, from which the native tables are generated)."""

import importlib.util
import subprocess
import sys
from pathlib import Path

import pytest
from conftest import spectrum

from ozra_data_access._internal import _enum, _storage
from ozra_data_access.writer import FunctionData, records, values

ROOT = Path(__file__).resolve().parents[1]
_spec = importlib.util.spec_from_file_location("generate_tables", ROOT / "src/native/schema/generate_tables.py")
generate_tables = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(generate_tables)

SCHEMA = generate_tables.load()
RECORDS = {record["kind"]: record for record in SCHEMA["records"]}
MARKERS = SCHEMA["markers"]

# Writer data attributes named otherwise than the stored field they fill.
WRITER_NAMES = {
    ("QualDescription", "unique_acquisition_condition_list"): "acquisition_conditions",
    ("QualDescription", "wavelength_arr"): "wavelengths",
}


class _Named:
    """Stands in for a writer data object: each attribute is its own name."""

    def __init__(self, **given):
        self.__dict__.update(given, appended_fields=())

    def __getattr__(self, name):
        return name


class _FalseName(str):
    """An attribute value that is its name and false (is_qual of a quantitative function)."""

    def __bool__(self):
        return False


def _writer_records():
    """(kind, field values) of every record the writer makes; a nested record stands as its name."""
    made = [
        records.measurement_description(_Named()),
        records.spectrum_description(_Named(), "index", ("current_total_ion", "base_peak_intensity", "base_peak_mz"),
                                     "is_profile_spectrum_measured"),
        records.acquisition_condition(_Named()),
        records.acquisition_core_condition(_Named()),
        records.vendor_specific_condition(_Named()),
        records.triple_q_scan_condition(_Named()),
    ]
    for function in (_Named(wavelengths=None),
                     _Named(is_qual=_FalseName("is_qual"), acquisition_conditions=None, wavelengths=None)):
        kind, fields = records.function_description(function)
        nested = [field for field in fields if field is not None and not isinstance(field, str)]
        made.append((kind, [RECORDS[f.kind]["name"] if f in nested else f for f in fields]))
        made += [n.ozra_record() for n in nested]
    return made


def test_writer_stores_each_record_in_schema_order():
    made = _writer_records()
    assert {kind for kind, _ in made} == set(RECORDS)
    for kind, fields in made:
        record = RECORDS[kind]
        expected = [WRITER_NAMES.get((record["class"], name), name) for name in generate_tables.stored_fields(record)]
        if record["class"] == "QualDescription":
            expected[-1] = None  # the stand-in stores no wavelengths
        if record["class"] == "FunctionDescription":
            # One of the two descriptions is stored, the other is None.
            expected = [name if name in fields else None for name in expected]
        assert fields == expected, record["class"]


def test_writer_numbers_tags_kinds_and_enumerations_as_the_schema():
    assert {tag.name.lower(): tag.value for tag in values.Tag} == {t["name"]: t["tag"] for t in SCHEMA["tags"]}
    assert {kind.name.lower(): kind.value for kind in records.RecordKind} == {
        r["name"]: r["kind"] for r in SCHEMA["records"]}
    assert {cls.__name__: number for cls, number in values.ENUMERATION_NUMBERS.items()} == {
        e["class"]: e["number"] for e in SCHEMA["enumerations"]}


def test_writer_and_command_line_name_the_schema_point_encodings():
    from ozra_data_access.cli import build_parser
    from ozra_data_access.writer.model import POINT_ENCODINGS

    # The writer stores each encoding as its position in POINT_ENCODINGS.
    assert list(POINT_ENCODINGS) == [e["value"] for e in sorted(SCHEMA["point_encodings"], key=lambda e: e["number"])]
    commands = build_parser()._subparsers._group_actions[0].choices
    batch_commands = commands["batch"]._subparsers._group_actions[0].choices
    for command in (commands["convert"], batch_commands["convert"]):
        (option,) = [action for action in command._actions if "--point-encoding" in action.option_strings]
        assert sorted(option.choices) == sorted(POINT_ENCODINGS)


@pytest.mark.parametrize("enumeration", SCHEMA["enumerations"], ids=lambda e: e["class"])
def test_enumeration_members_as_the_schema(enumeration):
    members = [[member.name, member.value] for member in getattr(_enum, enumeration["class"])]
    assert members == enumeration["members"]


def test_ozra_symbols_are_the_schema_markers():
    assert [[symbol.name, symbol.value] for symbol in _enum.OzraSymbols] == [
        [marker["symbol"], marker["bytes"].encode("ascii")] for marker in MARKERS]


def test_writer_opens_and_closes_each_block_with_the_schema_markers(write_ozra):
    # A file with every kind of block: jump table, function index, spectrum index, spectra.
    data = Path(write_ozra(FunctionData.qual_ms([spectrum(1.0), spectrum(2.0)]))).read_bytes()
    for begin, end in zip(MARKERS[::2], MARKERS[1::2]):
        opened = data.count(begin["bytes"].encode("ascii"))
        assert opened >= 1 and data.count(end["bytes"].encode("ascii")) == opened, begin["symbol"]


REPLACED_ENUMERATION = """
import enum, sys
from ozra_data_access._internal import _enum
name, changes = sys.argv[1], eval(sys.argv[2])
members = {member.name: member.value for member in getattr(_enum, name)}
setattr(_enum, name, enum.Enum(name, {**members, **changes}))
try:
    from ozra_data_access._internal import _storage
except ImportError as error:
    print(error)
"""


@pytest.mark.parametrize("enumeration, changes, message", [
    ("OzraSymbols", {"END_OF_SPECTRUM": b":SX}"},
     "OzraSymbols.END_OF_SPECTRUM is b':SX}', not b':SP}' as the format's tables say"),
    ("OzraSymbols", {"END_OF_EVERYTHING": b":EV}"}, "OzraSymbols has members the format's tables do not know"),
    ("PolarityTypes", {"BOTH": 4}, "PolarityTypes.BOTH is 4, not 3 as the format's tables say"),
])
def test_storage_module_refuses_enumerations_other_than_the_schema(enumeration, changes, message):
    run = subprocess.run([sys.executable, "-c", REPLACED_ENUMERATION, enumeration, repr(changes)],
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == message


@pytest.mark.parametrize("record", SCHEMA["records"], ids=lambda r: r["class"])
def test_built_record_classes_hold_the_schema_fields(record):
    # A module built from another schema (a stale build) fails here.
    cls = getattr(_storage, record["class"])
    prefix = f"_{record['class']}__"
    assert sorted(name[len(prefix):] for name in vars(cls) if name.startswith(prefix)) == sorted(record["fields"])
    made = cls(**{name: name for name in record["fields"]})
    assert [getattr(made, prefix + name) for name in record["fields"]] == record["fields"]


def test_format_description_holds_the_schema_tables():
    text = (ROOT / "docs/format.md").read_text(encoding="utf-8")
    for table in generate_tables.render_docs_tables(SCHEMA):
        assert table in text, (
            "docs/format.md differs from the schema; rewrite its tables with\n"
            "python3 src/native/schema/generate_tables.py src/native/schema/format_schema.json --docs docs/format.md\n"
            + table)


@pytest.mark.parametrize("damage, message", [
    (lambda s: s["tags"].pop(3), "each tag follows the one before"),
    (lambda s: s["records"][0]["fields"].append("sample_id"), "names a field twice"),
    (lambda s: s["records"][1].update(not_stored=["nothing"]), "not_stored names unknown fields"),
    (lambda s: s["markers"][2].update(bytes="{FI"), "BEGIN_OF_FUNCTION_INDEX_BLOCK is not 4 ASCII bytes"),
    (lambda s: s["markers"].pop(), "a marker has no partner"),
    (lambda s: s["markers"].insert(3, s["markers"].pop(5)),
     "BEGIN_OF_FUNCTION_INDEX_BLOCK and END_OF_SPECTRUM_INDEX_BLOCK are not one block's"),
    (lambda s: s["markers"][7].update(bytes=":SI}"), "two markers have the same bytes"),
])
def test_schema_refuses_gaps_and_unknown_names(tmp_path, damage, message):
    import json

    schema = json.loads((ROOT / "src/native/schema/format_schema.json").read_text(encoding="utf-8"))
    damage(schema)
    path = tmp_path / "schema.json"
    path.write_text(json.dumps(schema), encoding="utf-8")
    with pytest.raises(ValueError, match=message):
        generate_tables.load(path)
