// The primitive encodings of the format: count, bool, i64 array and block markers.
#pragma once

#include "core/byte_cursor.hpp"
#include "schema/format_schema.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ozra::core {

// The block markers of the format's tables (format_schema.json).
using schema::Marker;
using schema::marker_count;
using schema::marker_size;

// The four bytes of a marker ("{SI:").
const std::array<std::uint8_t, marker_size>& marker_bytes(Marker marker) noexcept;
// Its symbol name (BEGIN_OF_SPECTRUM_INDEX_BLOCK).
const char* marker_name(Marker marker) noexcept;

// The largest encoded count: a u16 escape and a u32.
inline constexpr std::size_t max_count_size = 6;

// A u16; 0xFFFF escapes to a following u32.
std::uint32_t read_count(ByteCursor& cursor, const char* what);
// A u8 that must be 0 or 1.
bool read_bool(ByteCursor& cursor, const char* what);
// Four bytes that must be the given marker.
void read_marker(ByteCursor& cursor, Marker expected);
// A count n, then n i64 (the count is checked against the bytes left before any allocation).
void read_i64_array(ByteCursor& cursor, std::vector<std::int64_t>& out);

// Bytes shown in a message: printable ASCII as is, anything else as \xNN.
std::string printable(const std::uint8_t* bytes, std::size_t size);

}  // namespace ozra::core
