// The one error of the format layer: the bytes are not a valid Ozra file.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace ozra::core {

// What was expected, and the absolute byte offset where it was not found.
class FormatError : public std::runtime_error {
public:
    FormatError(const std::string& what_was_expected, std::uint64_t offset);
    std::uint64_t offset() const noexcept { return offset_; }

private:
    std::uint64_t offset_;
};

}  // namespace ozra::core
