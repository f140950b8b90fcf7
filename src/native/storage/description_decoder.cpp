#include "description_decoder.hpp"

#include "imports.hpp"
#include "primitives.hpp"
#include "storage_module.hpp"
#include "types.hpp"

#include <array>
#include <span>
#include <string>
#include <vector>

namespace ozra::storage {
namespace {

using py::Ref;

// The deepest nesting of values a file may use; deeper is damage (and would
// otherwise let a file exhaust the stack).
constexpr int max_depth = 32;

using namespace schema;  // the tags

struct KindLayout {
    PyTypeObject* type = nullptr;
    const char* name = nullptr;
    std::span<const int> stored_fields;  // record field position of each stored field, in stored order
};

constexpr std::uint8_t last_kind = last_record_kind;
std::array<KindLayout, last_kind + 1> kinds;  // indexed by kind number; 0 unused

Ref decode_value(core::ByteCursor& cursor, int depth);

// A count of items that each take at least `item_size` bytes, checked against the bytes left.
std::uint32_t item_count(core::ByteCursor& cursor, const char* what, std::size_t item_size) {
    const std::size_t at = cursor.consumed();
    const std::uint32_t n = core::read_count(cursor, what);
    if (n > cursor.remaining() / item_size) {
        cursor.fail_at(at, std::string("expected ") + what + " of at most " +
                               std::to_string(cursor.remaining() / item_size) + " (the bytes left), found " +
                               std::to_string(n));
    }
    return n;
}

Ref decode_string(core::ByteCursor& cursor, std::size_t at) {
    const std::uint32_t n = item_count(cursor, "a string length", 1);
    const auto* bytes = reinterpret_cast<const char*>(cursor.take(n, "the bytes of a string"));
    PyObject* text = PyUnicode_DecodeUTF8(bytes, n, "strict");
    if (text == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) py::throw_error();
        PyErr_Clear();
        cursor.fail_at(at, "expected a string of valid UTF-8");
    }
    return Ref::checked(text);
}

Ref decode_range_bound(core::ByteCursor& cursor) {
    const std::size_t at = cursor.consumed();
    const std::uint8_t tag = cursor.u8("a range bound's tag");
    if (tag == integer_tag) return py::from_long(cursor.i64("an integer range bound"));
    if (tag == float_tag) return py::from_double(cursor.f64("a float range bound"));
    cursor.fail_at(at, "expected a range bound of tag 1 (integer) or 2 (float), found tag " + std::to_string(tag));
}

Ref decode_range(core::ByteCursor& cursor) {
    Ref min = decode_range_bound(cursor);
    Ref max = decode_range_bound(cursor);
    return new_value_range(std::move(min), std::move(max));
}

Ref decode_enumeration(core::ByteCursor& cursor, std::size_t at) {
    const std::uint8_t enumeration = cursor.u8("an enumeration number");
    const std::int32_t value = cursor.i32("an enumeration value");
    PyObject* member = enumeration_member(enumeration, value);
    if (member != nullptr) return Ref::borrow(member);
    if (enumeration < 1 || enumeration > enumeration_count) {
        cursor.fail_at(at, "expected an enumeration number 1 to " + std::to_string(enumeration_count) + ", found " +
                               std::to_string(enumeration));
    }
    cursor.fail_at(at, std::string("expected a value of ") + enumerations[enumeration - 1].class_name + ", found " +
                           std::to_string(value));
}

Ref decode_mapping(core::ByteCursor& cursor, int depth) {
    const std::uint32_t n = item_count(cursor, "a mapping's pair count", 2);
    Ref mapping = Ref::checked(PyDict_New());
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::size_t key_at = cursor.consumed();
        Ref key = decode_value(cursor, depth + 1);
        if (!PyUnicode_CheckExact(key.get())) cursor.fail_at(key_at, "expected a string (tag 3) as mapping key");
        Ref value = decode_value(cursor, depth + 1);
        py::check(PyDict_SetItem(mapping.get(), key.get(), value.get()));
    }
    return mapping;
}

Ref decode_list(core::ByteCursor& cursor, int depth) {
    const std::uint32_t n = item_count(cursor, "a list's length", 1);
    Ref list = py::new_list(n);
    for (std::uint32_t i = 0; i < n; ++i) PyList_SET_ITEM(list.get(), i, decode_value(cursor, depth + 1).release());
    return list;
}

Ref decode_float_array(core::ByteCursor& cursor) {
    const std::uint32_t n = item_count(cursor, "a float array's length", 8);
    const std::uint8_t* bytes = cursor.take(std::size_t{n} * 8, "the elements of a float array");
    std::vector<double> values(n);
    for (std::uint32_t i = 0; i < n; ++i) values[i] = core::load_le<double>(bytes + std::size_t{i} * 8);
    return new_array("d", values.data(), values.size() * sizeof(double));
}

// A record (kind, field count, fields); `expected` 0 accepts any kind.
Ref decode_record_at(core::ByteCursor& cursor, std::uint8_t expected, int depth) {
    const std::size_t at = cursor.consumed();
    const std::uint8_t kind = cursor.u8("a record kind");
    if (kind < 1 || kind > last_kind) {
        cursor.fail_at(at, "expected a record kind 1 to " + std::to_string(last_kind) + ", found " +
                               std::to_string(kind));
    }
    const KindLayout& layout = kinds[kind];
    if (expected != 0 && kind != expected) {
        cursor.fail_at(at, std::string("expected a ") + kinds[expected].name + " record (kind " +
                               std::to_string(expected) + "), found a " + layout.name + " (kind " +
                               std::to_string(kind) + ")");
    }
    const std::size_t count_at = cursor.consumed();
    const std::uint8_t stored = cursor.u8("a record's field count");
    if (stored < layout.stored_fields.size()) {
        cursor.fail_at(count_at, std::string("expected at least ") + std::to_string(layout.stored_fields.size()) +
                                     " fields in a " + layout.name + " record, found " + std::to_string(stored));
    }
    Ref record = new_record(layout.type);
    for (int field : layout.stored_fields) set_record_field(record.get(), field, decode_value(cursor, depth + 1));
    // Fields appended by a later minor version.
    for (std::size_t i = layout.stored_fields.size(); i < stored; ++i) decode_value(cursor, depth + 1);
    return record;
}

Ref decode_value(core::ByteCursor& cursor, int depth) {
    const std::size_t at = cursor.consumed();
    if (depth > max_depth) cursor.fail_at(at, "expected values nested at most " + std::to_string(max_depth) + " deep");
    const std::uint8_t tag = cursor.u8("a value's tag");
    switch (tag) {
        case none_tag: return Ref::none();
        case integer_tag: return py::from_long(cursor.i64("an integer"));
        case float_tag: return py::from_double(cursor.f64("a float"));
        case string_tag: return decode_string(cursor, at);
        case boolean_tag: return Ref::boolean(core::read_bool(cursor, "a boolean"));
        case range_tag: return decode_range(cursor);
        case enumeration_tag: return decode_enumeration(cursor, at);
        case mapping_tag: return decode_mapping(cursor, depth);
        case list_tag: return decode_list(cursor, depth);
        case record_tag: return decode_record_at(cursor, 0, depth);
        case float_array_tag: return decode_float_array(cursor);
        default:
            cursor.fail_at(at, "expected a value tag 0 to " + std::to_string(last_tag) + ", found " +
                                   std::to_string(tag));
    }
}

}  // namespace

void prepare_description_decoding(const DescriptionTypes& types) {
    for (std::size_t kind = 1; kind <= last_kind; ++kind) {
        kinds[kind] = {types[kind], schema::records[kind].class_name, schema::records[kind].stored};
    }
}

py::Ref decode_record(core::ByteCursor& cursor, RecordKind kind) {
    return decode_record_at(cursor, static_cast<std::uint8_t>(kind), 1);
}

}  // namespace ozra::storage
