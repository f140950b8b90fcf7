#include "core/primitives.hpp"

#include <algorithm>
#include <cstdio>

namespace ozra::core {

const std::array<std::uint8_t, marker_size>& marker_bytes(Marker marker) noexcept {
    return schema::markers[static_cast<std::size_t>(marker)].bytes;
}

const char* marker_name(Marker marker) noexcept { return schema::markers[static_cast<std::size_t>(marker)].symbol; }

std::string printable(const std::uint8_t* bytes, std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        if (bytes[i] >= 0x20 && bytes[i] < 0x7F && bytes[i] != '\\') {
            text += static_cast<char>(bytes[i]);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", bytes[i]);
            text += escaped;
        }
    }
    return text;
}

std::uint32_t read_count(ByteCursor& cursor, const char* what) {
    const std::uint16_t short_count = cursor.u16(what);
    if (short_count != 0xFFFF) return short_count;
    return cursor.u32(what);
}

bool read_bool(ByteCursor& cursor, const char* what) {
    const std::size_t at = cursor.consumed();
    const std::uint8_t value = cursor.u8(what);
    if (value > 1) cursor.fail_at(at, "expected " + std::string(what) + " (0 or 1), found " + std::to_string(value));
    return value == 1;
}

void read_marker(ByteCursor& cursor, Marker expected) {
    const std::string what = std::string("the marker ") + marker_name(expected);
    const std::size_t at = cursor.consumed();
    const std::uint8_t* found = cursor.take(marker_size, what.c_str());
    const auto& wanted = marker_bytes(expected);
    if (std::equal(wanted.begin(), wanted.end(), found)) return;
    cursor.fail_at(at, "expected " + what + " '" + printable(wanted.data(), marker_size) + "', found '" +
                           printable(found, marker_size) + "'");
}

void read_i64_array(ByteCursor& cursor, std::vector<std::int64_t>& out) {
    const std::size_t at = cursor.consumed();
    const std::uint32_t n = read_count(cursor, "the element count of an i64 array");
    if (n > cursor.remaining() / 8) {
        cursor.fail_at(at, "expected an i64 array of at most " + std::to_string(cursor.remaining() / 8) +
                               " elements (the bytes that follow), found a count of " + std::to_string(n));
    }
    const std::uint8_t* bytes = cursor.take(std::size_t{n} * 8, "the elements of an i64 array");
    out.resize(n);
    for (std::uint32_t i = 0; i < n; ++i) out[i] = load_le<std::int64_t>(bytes + std::size_t{i} * 8);
}

}  // namespace ozra::core
