#include "format_error.hpp"

namespace ozra::core {

FormatError::FormatError(const std::string& what_was_expected, std::uint64_t offset)
    : std::runtime_error(what_was_expected + " at byte offset " + std::to_string(offset)), offset_(offset) {}

}  // namespace ozra::core
