// An open Ozra file: a read-only descriptor read with positioned reads (never
// mapped: a file truncated under a mapping kills the process).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ozra::core {

class FileSource {
public:
    // Opens `path` read-only. Throws std::system_error with the errno of the
    // failure (ENOENT, EACCES, EISDIR, ...) and FormatError for a file that is
    // not a regular file.
    explicit FileSource(const std::string& path);
    ~FileSource();
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    // The size when the file was opened; every position is checked against it.
    std::uint64_t size() const noexcept { return size_; }
    bool closed() const noexcept { return fd_ < 0; }
    // Closes the descriptor; closing again does nothing.
    void close() noexcept;
    // Throws ClosedFileError once closed.
    void require_open() const;
    int fileno() const;

    // Reads exactly `length` bytes at `offset`. The caller has checked the range
    // against size(); a file that shrank since it was opened is a FormatError.
    void read_exact(std::uint64_t offset, std::size_t length, std::uint8_t* out) const;

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

}  // namespace ozra::core
