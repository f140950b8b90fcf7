// An open Ozra file: a read-only descriptor read with positioned reads (never
// mapped: a file truncated under a mapping kills the process).
//
// Reads may run on several threads while another closes the file: close() marks
// the file closed at once (reads that start later throw ClosedFileError) and the
// descriptor itself is closed by whichever comes last, close() or the last read
// in flight, so that no read ever uses a descriptor number the system has given
// to another file in the meantime.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
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
    bool closed() const noexcept { return closed_.load(std::memory_order_acquire); }
    // Marks the file closed and closes the descriptor, or leaves that to the last
    // read in flight; closing again does nothing.
    void close() noexcept;
    // Throws ClosedFileError once closed.
    void require_open() const;
    int fileno() const;

    // Reads exactly `length` bytes at `offset`. The caller has checked the range
    // against size(); a file that shrank since it was opened is a FormatError.
    void read_exact(std::uint64_t offset, std::size_t length, std::uint8_t* out);
    // Reads `needed` bytes at `offset` as read_exact does, and up to `wanted` (the
    // caller's range, checked against size()) when they come in the same reads.
    // Returns the count read.
    std::size_t read_at_least(std::uint64_t offset, std::size_t needed, std::size_t wanted, std::uint8_t* out);

private:
    // Counts a read in flight; throws ClosedFileError once the file is closed.
    void begin_read();
    void end_read() noexcept;

    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::atomic<bool> closed_{true};
    std::mutex use_;      // guards reads_ and the closing of fd_
    unsigned reads_ = 0;  // reads in flight
};

}  // namespace ozra::core
