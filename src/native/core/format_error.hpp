// The errors of the format layer.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace ozra::core {

// The bytes are not a valid Ozra file: what was expected, and where it was not found.
class FormatError : public std::runtime_error {
public:
    // At an absolute file offset: "<expected> at byte offset <offset>".
    FormatError(const std::string& what_was_expected, std::uint64_t offset);
    // Inside the data decompressed from the frame that starts at `frame_offset`:
    // "<expected> at byte <position> of the data decompressed from the frame at byte offset <frame_offset>".
    FormatError(const std::string& what_was_expected, std::uint64_t frame_offset, std::uint64_t position_in_frame);
    // A position (handed to the reader) that lies outside the file.
    static FormatError outside_file(std::int64_t position, std::uint64_t file_size);
    // The absolute file offset the message names (the frame's, for decompressed data).
    std::uint64_t offset() const noexcept { return offset_; }

private:
    struct Message {};
    FormatError(Message, const std::string& message, std::uint64_t offset)
        : std::runtime_error(message), offset_(offset) {}
    std::uint64_t offset_;
};

// A read on a file that was closed.
class ClosedFileError : public std::logic_error {
public:
    ClosedFileError() : std::logic_error("I/O operation on closed file") {}
};

// A reader operation called out of order (e.g. leaving a frame that was never entered).
class UsageError : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

}  // namespace ozra::core
