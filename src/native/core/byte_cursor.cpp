#include "core/byte_cursor.hpp"

namespace ozra::core {

void ByteCursor::fail_at(std::size_t position, const std::string& what) const {
    if (decompressed_) throw FormatError(what, origin_, position);
    throw FormatError(what, origin_ + position);
}

void ByteCursor::fail_short(std::size_t wanted, const char* what) const {
    fail("expected " + std::string(what) + " (" + std::to_string(wanted) + " bytes), but " +
         (decompressed_ ? "the decompressed data ends" : "the file ends") + " after " +
         std::to_string(remaining()) + " more");
}

}  // namespace ozra::core
