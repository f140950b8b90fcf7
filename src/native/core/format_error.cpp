#include "core/format_error.hpp"

namespace ozra::core {

FormatError::FormatError(const std::string& what_was_expected, std::uint64_t offset)
    : std::runtime_error(what_was_expected + " at byte offset " + std::to_string(offset)), offset_(offset) {}

FormatError::FormatError(const std::string& what_was_expected, std::uint64_t frame_offset,
                         std::uint64_t position_in_frame)
    : std::runtime_error(what_was_expected + " at byte " + std::to_string(position_in_frame) +
                         " of the data decompressed from the frame at byte offset " + std::to_string(frame_offset)),
      offset_(frame_offset) {}

FormatError FormatError::outside_file(std::int64_t position, std::uint64_t file_size) {
    const std::string last = file_size == 0 ? "none: the file is empty" : "0 to " + std::to_string(file_size - 1);
    return FormatError(Message{}, "expected a position inside the file (" + last + "), found byte offset " +
                                      std::to_string(position),
                       position < 0 ? 0 : static_cast<std::uint64_t>(position));
}

}  // namespace ozra::core
