#include "core/file_header.hpp"

#include "core/primitives.hpp"

#include <algorithm>
#include <string>

namespace ozra::core {
namespace {

// \x89 "OZRA" CR LF 0x1A LF: the non-ASCII byte, CR LF and 0x1A catch text-mode damage.
constexpr std::uint8_t magic[9] = {0x89, 'O', 'Z', 'R', 'A', 0x0D, 0x0A, 0x1A, 0x0A};

Version read_version(ByteCursor& cursor, const char* what) {
    Version version{};
    version.major = cursor.u16(what);
    version.minor = cursor.u16(what);
    version.revision = cursor.u16(what);
    return version;
}

std::string text(const Version& version) {
    return std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
           std::to_string(version.revision);
}

}  // namespace

FileHeader read_file_header(ByteCursor& cursor) {
    const std::size_t available = std::min(cursor.remaining(), sizeof magic);
    const std::uint8_t* start = cursor.take(available, "the Ozra magic");
    if (available < sizeof magic || !std::equal(start, start + available, magic)) {
        cursor.fail_at(0, "expected the Ozra magic '" + printable(magic, sizeof magic) +
                              "' (not an Ozra file, or damaged by a text-mode transfer), found '" +
                              printable(start, available) + "'");
    }
    FileHeader header{};
    const std::size_t version_at = cursor.consumed();
    header.format = read_version(cursor, "the format version");
    if (header.format.major != known_format_major_version) {
        cursor.fail_at(version_at, "unsupported Ozra format version " + text(header.format) +
                                       " (expected major version " + std::to_string(known_format_major_version) + ")");
    }
    header.converter = read_version(cursor, "the converter version");
    header.jump_table_position = cursor.i64("the jump table position");
    return header;
}

}  // namespace ozra::core
