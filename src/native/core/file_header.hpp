// The fixed header at the start of every Ozra file.
#pragma once

#include "core/byte_cursor.hpp"

#include <cstdint>

namespace ozra::core {

inline constexpr std::uint16_t known_format_major_version = 1;
inline constexpr std::size_t file_header_size = 29;

struct Version {
    std::uint16_t major, minor, revision;
};

struct FileHeader {
    Version format;
    Version converter;
    std::int64_t jump_table_position;
};

// Reads the magic, the two version triples and the jump table position; a
// format major version other than the known one is refused.
FileHeader read_file_header(ByteCursor& cursor);

}  // namespace ozra::core
