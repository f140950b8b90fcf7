"""The format's tables from format_schema.json: the C++ header the native layers
build from, and the tables of docs/format.md.

    python3 generate_tables.py format_schema.json --header OUT.hpp
    python3 generate_tables.py format_schema.json --docs docs/format.md

The build runs the first; the second rewrites the five tables of docs/format.md
in place (tests/test_format_schema.py fails while they differ).
"""

from __future__ import annotations

import argparse
import json
import re
from pathlib import Path

SCHEMA_PATH = Path(__file__).with_name("format_schema.json")
MARKER_SIZE = 4


def load(path: Path = SCHEMA_PATH) -> dict:
    """The schema, checked to be numbered 0/1.. without gaps, to name each field once and
    to pair each block's begin and end markers."""
    schema = json.loads(Path(path).read_text(encoding="utf-8"))
    _check_markers(schema["markers"])
    _check_numbering([t["tag"] for t in schema["tags"]], 0, "tag")
    _check_numbering([e["number"] for e in schema["enumerations"]], 1, "enumeration number")
    _check_numbering([r["kind"] for r in schema["records"]], 1, "record kind")
    _check_numbering([e["number"] for e in schema["point_encodings"]], 0, "point encoding")
    for record in schema["records"]:
        fields = record["fields"]
        if len(set(fields)) != len(fields):
            raise ValueError(f"{record['class']} names a field twice")
        for key in ("not_stored", "writable"):
            unknown = set(record.get(key, [])) - set(fields)
            if unknown:
                raise ValueError(f"{record['class']}: {key} names unknown fields {sorted(unknown)}")
    return schema


def _check_markers(markers: list[dict]) -> None:
    for marker in markers:
        if len(marker["bytes"]) != MARKER_SIZE or not marker["bytes"].isascii():
            raise ValueError(f"marker {marker['symbol']} is not {MARKER_SIZE} ASCII bytes: {marker['bytes']!r}")
    for what in ("name", "symbol", "bytes"):
        values = [marker[what] for marker in markers]
        if len(set(values)) != len(values):
            raise ValueError(f"two markers have the same {what}")
    if len(markers) % 2:
        raise ValueError("a marker has no partner: each block has a begin and an end marker")
    for begin, end in zip(markers[::2], markers[1::2]):
        block = begin["symbol"].removeprefix("BEGIN_OF_")
        if begin["symbol"] == block or end["symbol"] != "END_OF_" + block:
            raise ValueError(f"{begin['symbol']} and {end['symbol']} are not one block's begin and end markers")


def _check_numbering(numbers: list[int], first: int, what: str) -> None:
    if numbers != list(range(first, first + len(numbers))):
        raise ValueError(f"each {what} follows the one before, from {first}: found {numbers}")


def stored_fields(record: dict) -> list[str]:
    """The fields a file holds for the record, in stored order."""
    return [name for name in record["fields"] if name not in record.get("not_stored", [])]


def _cpp_string(text: str) -> str:
    return json.dumps(text, ensure_ascii=True)


def _cpp_char(character: str) -> str:
    """A C++ literal of one ASCII character: the character itself where that is plain, else its number."""
    return f"'{character}'" if character.isprintable() and character not in "'\\" else str(ord(character))


def render_header(schema: dict) -> str:
    """The C++ header: markers, tags, enumerations, point encodings and records as constant tables (plain C++)."""
    markers = schema["markers"]
    out = [
        "// Generated from src/native/schema/format_schema.json by generate_tables.py at build time.",
        "// The block markers, records, value tags, enumerations and point encodings of the format,",
        "// as constant tables.",
        "#pragma once",
        "",
        "#include <array>",
        "#include <cstddef>",
        "#include <cstdint>",
        "#include <span>",
        "",
        "namespace ozra::schema {",
        "",
        "// The markers that open and close each block, in the order of OzraSymbols.",
        "enum class Marker : std::uint8_t {",
        *(f"    {m['name']}," for m in markers),
        "};",
        f"inline constexpr std::size_t marker_count = {len(markers)};",
        f"inline constexpr std::size_t marker_size = {MARKER_SIZE};",
        "",
        "struct MarkerSchema {",
        "    std::array<std::uint8_t, marker_size> bytes;",
        "    const char* symbol;  // its member of OzraSymbols",
        "};",
        "",
        "// Indexed by Marker.",
        "inline constexpr std::array<MarkerSchema, marker_count> markers{{",
        *(f"    {{{{{', '.join(_cpp_char(c) for c in m['bytes'])}}}, {_cpp_string(m['symbol'])}}}," for m in markers),
        "}};",
        "",
        "// The first byte of a tagged value.",
        "enum Tag : std::uint8_t {",
        *(f"    {t['name']}_tag = {t['tag']}," for t in schema["tags"]),
        "};",
        f"inline constexpr std::uint8_t last_tag = {schema['tags'][-1]['tag']};",
        "",
        "// The enumerations a tagged value can name, numbered as in the file.",
        "enum class Enumeration : std::uint8_t {",
        *(f"    {e['name']} = {e['number']}," for e in schema["enumerations"]),
        "};",
        f"inline constexpr std::uint8_t enumeration_count = {len(schema['enumerations'])};",
        "",
        "struct EnumerationMember {",
        "    const char* name;",
        "    std::int32_t value;",
        "};",
        "",
        "struct EnumerationSchema {",
        "    const char* class_name;  // of ozra_data_access._internal._enum",
        "    std::span<const EnumerationMember> members;",
        "};",
        "",
    ]
    for e in schema["enumerations"]:
        members = ", ".join(f"{{{_cpp_string(name)}, {value}}}" for name, value in e["members"])
        out.append(f"inline constexpr EnumerationMember {e['name']}_members[] = {{{members}}};")
    out += [
        "",
        "// Indexed by enumeration number - 1.",
        f"inline constexpr std::array<EnumerationSchema, enumeration_count> enumerations{{{{",
        *(f"    {{{_cpp_string(e['class'])}, {e['name']}_members}}," for e in schema["enumerations"]),
        "}};",
        "",
        "// How a spectrum's point data is stored, numbered as in the file.",
        "enum class PointEncoding : std::uint8_t {",
        *(f"    {e['name']} = {e['number']}," for e in schema["point_encodings"]),
        "};",
        f"inline constexpr std::uint8_t last_point_encoding = {schema['point_encodings'][-1]['number']};",
        "// Indexed by encoding number: the name a writer takes.",
        "inline constexpr const char* point_encoding_names[] = {"
        + ", ".join(_cpp_string(e["value"]) for e in schema["point_encodings"]) + "};",
        "",
        "// The first byte of a record.",
        "enum class RecordKind : std::uint8_t {",
        *(f"    {r['name']} = {r['kind']}," for r in schema["records"]),
        "};",
        f"inline constexpr std::uint8_t last_record_kind = {schema['records'][-1]['kind']};",
        "",
        "// The position of each field in its record object.",
    ]
    for r in schema["records"]:
        out.append(f"namespace {r['name']} {{")
        out.append(f"enum Field : int {{ {', '.join(r['fields'])} }};")
        out.append("}")
    out += [
        "",
        "struct FieldSchema {",
        "    const char* name;",
        "    bool writable;  // from Python; the others are read-only",
        "};",
        "",
        "struct RecordSchema {",
        "    const char* class_name;  // of ozra_data_access._internal._storage",
        "    const char* doc;",
        "    std::span<const FieldSchema> fields;  // the record object's fields, in order",
        "    std::span<const int> stored;          // the field position of each stored field, in stored order",
        "};",
        "",
    ]
    for r in schema["records"]:
        writable = set(r.get("writable", []))
        fields = ", ".join(f"{{{_cpp_string(name)}, {'true' if name in writable else 'false'}}}"
                           for name in r["fields"])
        positions = ", ".join(str(r["fields"].index(name)) for name in stored_fields(r))
        out.append(f"inline constexpr FieldSchema {r['name']}_fields[] = {{{fields}}};")
        out.append(f"inline constexpr int {r['name']}_stored[] = {{{positions}}};")
    out += [
        "",
        "// Indexed by record kind; kind 0 is no record.",
        "inline constexpr std::array<RecordSchema, last_record_kind + 1> records{{",
        "    {nullptr, nullptr, {}, {}},",
        *(f"    {{{_cpp_string(r['class'])}, {_cpp_string(r['doc'])}, {r['name']}_fields, {r['name']}_stored}},"
          for r in schema["records"]),
        "}};",
        "",
        "}  // namespace ozra::schema",
        "",
    ]
    return "\n".join(out)


def render_docs_tables(schema: dict) -> list[str]:
    """docs/format.md's tables of markers, records, tags, enumerations and point encodings, in that order."""
    pairs = zip(schema["markers"][::2], schema["markers"][1::2])
    markers = ["| symbol | bytes |", "|---|---|"]
    markers += [f"| `{begin['symbol']}` / `{end['symbol']}` | `{begin['bytes']}` / `{end['bytes']}` |"
                for begin, end in pairs]
    records = ["| kind | record | stored fields, in order |", "|---|---|---|"]
    records += [f"| {r['kind']} | {r['class']} | {', '.join(stored_fields(r))} |" for r in schema["records"]]
    tags = ["| tag | value | payload | decoded as |", "|---|---|---|---|"]
    tags += [f"| {t['tag']} | {t['value']} | {t['payload']} | {t['decoded_as']} |" for t in schema["tags"]]
    enumerations = ["| enumeration | class | values |", "|---|---|---|"]
    enumerations += [
        f"| {e['number']} | `{e['class']}` | {', '.join(f'{name} {value}' for name, value in e['members'])} |"
        for e in schema["enumerations"]
    ]
    encodings = ["| encoding | name | stored payload |", "|---|---|---|"]
    encodings += [f"| {e['number']} | `{e['value']}` | {e['stored']} |" for e in schema["point_encodings"]]
    return ["\n".join(table) + "\n" for table in (markers, records, tags, enumerations, encodings)]


def rewrite_docs(schema: dict, path: Path) -> None:
    """Replaces each table of `path` whose header line matches a rendered table's."""
    text = Path(path).read_text(encoding="utf-8")
    for table in render_docs_tables(schema):
        header = table.split("\n", 1)[0]
        pattern = re.compile(re.escape(header) + r"\n(?:\|.*\n)*")
        text, found = pattern.subn(lambda _match: table, text)
        if found != 1:
            raise ValueError(f"{path}: expected one table headed {header!r}, found {found}")
    Path(path).write_text(text, encoding="utf-8")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("schema", type=Path)
    parser.add_argument("--header", type=Path, help="write the C++ header here")
    parser.add_argument("--docs", type=Path, help="rewrite the tables of this format description")
    arguments = parser.parse_args()
    schema = load(arguments.schema)
    if arguments.header:
        text = render_header(schema)
        # Unchanged output keeps its time stamp, so nothing rebuilds needlessly.
        if not arguments.header.exists() or arguments.header.read_text(encoding="utf-8") != text:
            arguments.header.parent.mkdir(parents=True, exist_ok=True)
            arguments.header.write_text(text, encoding="utf-8")
    if arguments.docs:
        rewrite_docs(schema, arguments.docs)


if __name__ == "__main__":
    main()
