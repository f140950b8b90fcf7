// Decoding of tagged values and records (see "Records" in docs/format.md).
//
// Every byte is checked here, against the format's tables (format_schema.hpp):
// tags, record kinds and field counts, enumeration members, counts against the
// bytes left, the nesting depth. The values themselves are made by a Builder,
// so that the storage layer makes Python objects and the fuzzers make none:
//
//   struct Builder {
//       using Value = ...;  // movable
//       Value none();
//       Value integer(std::int64_t);
//       Value real(double);
//       Value boolean(bool);
//       std::optional<Value> string(const char* utf8, std::size_t size);  // nullopt: not valid UTF-8
//       Value range(Value min, Value max);
//       Value enumeration(std::uint8_t number, std::int32_t value);  // a member of the schema's enumeration
//       Value mapping();
//       void add_pair(Value& mapping, Value key, Value value);     // key made by string()
//       Value list(std::uint32_t size);
//       void set_item(Value& list, std::uint32_t index, Value item);  // each index once, in order
//       Value float_array(const std::uint8_t* little_endian_f64, std::uint32_t count);
//       Value record(schema::RecordKind kind);
//       void set_field(Value& record, int position, Value value);  // position in the record object
//   };
#pragma once

#include "core/byte_cursor.hpp"
#include "core/primitives.hpp"
#include "schema/format_schema.hpp"

#include <cstdint>
#include <string>

namespace ozra::core {

// The deepest nesting of values a file may use; deeper is damage (and would
// otherwise let a file exhaust the stack).
inline constexpr int max_value_depth = 32;

// A count of items that each take at least `item_size` bytes, checked against the bytes left.
std::uint32_t read_item_count(ByteCursor& cursor, const char* what, std::size_t item_size);

// The member test of a tagged enumeration value; FormatError naming what is wrong.
void check_enumeration(ByteCursor& cursor, std::size_t at, std::uint8_t number, std::int32_t value);

// The kind and field count of a record at the cursor, checked; `expected` 0 accepts any kind.
struct RecordHeader {
    std::uint8_t kind;
    std::uint8_t stored;  // fields stored, at least as many as the schema knows
};
RecordHeader read_record_header(ByteCursor& cursor, std::uint8_t expected);

template <class Builder>
class TaggedDecoder {
public:
    using Value = typename Builder::Value;

    TaggedDecoder(ByteCursor& cursor, Builder& builder) noexcept : cursor_(cursor), builder_(builder) {}

    // One record of the given kind, as a record of a frame (nesting level 1).
    Value record(schema::RecordKind kind) { return record_at(static_cast<std::uint8_t>(kind), 1); }
    // One record of any kind.
    Value any_record() { return record_at(0, 1); }

private:
    // A tagged value; its tag is also stored in `*tag_read` when given. The numbers
    // and None that records are mostly made of are read here, without a call;
    // everything else, and every fault, by any_value().
    Value value(int depth, std::uint8_t* tag_read = nullptr) {
        constexpr std::size_t longest_number = 9;  // tag and 8 bytes
        if (depth <= max_value_depth && cursor_.remaining() >= longest_number) {
            const std::uint8_t tag = cursor_.data()[cursor_.consumed()];
            static_assert(schema::none_tag == 0 && schema::integer_tag == 1 && schema::float_tag == 2);
            if (tag <= schema::float_tag) {
                if (tag_read) *tag_read = tag;
                cursor_.take(1, "a value's tag");
                switch (tag) {
                    case schema::none_tag: return builder_.none();
                    case schema::integer_tag: return builder_.integer(cursor_.i64("an integer"));
                    default: return builder_.real(cursor_.f64("a float"));
                }
            }
        }
        return any_value(depth, tag_read);
    }

    Value any_value(int depth, std::uint8_t* tag_read) {
        const std::size_t at = cursor_.consumed();
        if (depth > max_value_depth) {
            cursor_.fail_at(at, "expected values nested at most " + std::to_string(max_value_depth) + " deep");
        }
        const std::uint8_t tag = cursor_.u8("a value's tag");
        if (tag_read) *tag_read = tag;
        switch (tag) {
            case schema::none_tag: return builder_.none();
            case schema::integer_tag: return builder_.integer(cursor_.i64("an integer"));
            case schema::float_tag: return builder_.real(cursor_.f64("a float"));
            case schema::string_tag: return string(at);
            case schema::boolean_tag: return builder_.boolean(read_bool(cursor_, "a boolean"));
            case schema::range_tag: return range();
            case schema::enumeration_tag: return enumeration(at);
            case schema::mapping_tag: return mapping(depth);
            case schema::list_tag: return list(depth);
            case schema::record_tag: return record_at(0, depth);
            case schema::float_array_tag: return float_array();
            default:
                cursor_.fail_at(at, "expected a value tag 0 to " + std::to_string(schema::last_tag) + ", found " +
                                        std::to_string(tag));
        }
    }

    Value string(std::size_t at) {
        const std::uint32_t n = read_item_count(cursor_, "a string length", 1);
        const auto* bytes = reinterpret_cast<const char*>(cursor_.take(n, "the bytes of a string"));
        auto text = builder_.string(bytes, n);
        if (!text) cursor_.fail_at(at, "expected a string of valid UTF-8");
        return std::move(*text);
    }

    Value range_bound() {
        const std::size_t at = cursor_.consumed();
        const std::uint8_t tag = cursor_.u8("a range bound's tag");
        if (tag == schema::integer_tag) return builder_.integer(cursor_.i64("an integer range bound"));
        if (tag == schema::float_tag) return builder_.real(cursor_.f64("a float range bound"));
        cursor_.fail_at(at, "expected a range bound of tag 1 (integer) or 2 (float), found tag " + std::to_string(tag));
    }

    Value range() {
        Value min = range_bound();
        Value max = range_bound();
        return builder_.range(std::move(min), std::move(max));
    }

    Value enumeration(std::size_t at) {
        const std::uint8_t number = cursor_.u8("an enumeration number");
        const std::int32_t value = cursor_.i32("an enumeration value");
        check_enumeration(cursor_, at, number, value);
        return builder_.enumeration(number, value);
    }

    Value mapping(int depth) {
        const std::uint32_t n = read_item_count(cursor_, "a mapping's pair count", 2);
        Value mapping = builder_.mapping();
        for (std::uint32_t i = 0; i < n; ++i) {
            const std::size_t key_at = cursor_.consumed();
            std::uint8_t key_tag = 0;
            Value key = value(depth + 1, &key_tag);
            if (key_tag != schema::string_tag) cursor_.fail_at(key_at, "expected a string (tag 3) as mapping key");
            Value item = value(depth + 1);
            builder_.add_pair(mapping, std::move(key), std::move(item));
        }
        return mapping;
    }

    Value list(int depth) {
        const std::uint32_t n = read_item_count(cursor_, "a list's length", 1);
        Value list = builder_.list(n);
        for (std::uint32_t i = 0; i < n; ++i) builder_.set_item(list, i, value(depth + 1));
        return list;
    }

    Value float_array() {
        const std::uint32_t n = read_item_count(cursor_, "a float array's length", 8);
        return builder_.float_array(cursor_.take(std::size_t{n} * 8, "the elements of a float array"), n);
    }

    Value record_at(std::uint8_t expected, int depth) {
        const RecordHeader header = read_record_header(cursor_, expected);
        const schema::RecordSchema& layout = schema::records[header.kind];
        Value record = builder_.record(static_cast<schema::RecordKind>(header.kind));
        for (int position : layout.stored) builder_.set_field(record, position, value(depth + 1));
        // Fields appended by a later minor version.
        for (std::size_t i = layout.stored.size(); i < header.stored; ++i) value(depth + 1);
        return record;
    }

    ByteCursor& cursor_;
    Builder& builder_;
};

}  // namespace ozra::core
