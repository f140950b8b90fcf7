#include "core/tagged_values.hpp"

namespace ozra::core {

std::uint32_t read_item_count(ByteCursor& cursor, const char* what, std::size_t item_size) {
    const std::size_t at = cursor.consumed();
    const std::uint32_t n = read_count(cursor, what);
    if (n > cursor.remaining() / item_size) {
        cursor.fail_at(at, std::string("expected ") + what + " of at most " +
                               std::to_string(cursor.remaining() / item_size) + " (the bytes left), found " +
                               std::to_string(n));
    }
    return n;
}

void check_enumeration(ByteCursor& cursor, std::size_t at, std::uint8_t number, std::int32_t value) {
    if (number < 1 || number > schema::enumeration_count) {
        cursor.fail_at(at, "expected an enumeration number 1 to " + std::to_string(schema::enumeration_count) +
                               ", found " + std::to_string(number));
    }
    const schema::EnumerationSchema& enumeration = schema::enumerations[number - 1];
    for (const schema::EnumerationMember& member : enumeration.members) {
        if (member.value == value) return;
    }
    cursor.fail_at(at, std::string("expected a value of ") + enumeration.class_name + ", found " +
                           std::to_string(value));
}

RecordHeader read_record_header(ByteCursor& cursor, std::uint8_t expected) {
    const std::size_t at = cursor.consumed();
    const std::uint8_t kind = cursor.u8("a record kind");
    if (kind < 1 || kind > schema::last_record_kind) {
        cursor.fail_at(at, "expected a record kind 1 to " + std::to_string(schema::last_record_kind) + ", found " +
                               std::to_string(kind));
    }
    const schema::RecordSchema& layout = schema::records[kind];
    if (expected != 0 && kind != expected) {
        cursor.fail_at(at, std::string("expected a ") + schema::records[expected].class_name + " record (kind " +
                               std::to_string(expected) + "), found a " + layout.class_name + " (kind " +
                               std::to_string(kind) + ")");
    }
    const std::size_t count_at = cursor.consumed();
    const std::uint8_t stored = cursor.u8("a record's field count");
    if (stored < layout.stored.size()) {
        cursor.fail_at(count_at, std::string("expected at least ") + std::to_string(layout.stored.size()) +
                                     " fields in a " + layout.class_name + " record, found " + std::to_string(stored));
    }
    return {kind, stored};
}

}  // namespace ozra::core
