#include "core/file_source.hpp"

#include "core/format_error.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace ozra::core {

FileSource::FileSource(const std::string& path) {
    // O_NONBLOCK so that opening a FIFO does not wait for a writer; it is
    // refused below, and has no effect on the regular files that are kept.
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), path);
    struct stat status;
    if (::fstat(fd, &status) != 0) {
        const int error = errno;
        ::close(fd);
        throw std::system_error(error, std::generic_category(), path);
    }
    if (S_ISDIR(status.st_mode)) {
        ::close(fd);
        throw std::system_error(EISDIR, std::generic_category(), path);
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(fd);
        throw FormatError("expected an Ozra file (a regular file), found a device, pipe or socket", 0);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    fd_ = fd;
    size_ = static_cast<std::uint64_t>(status.st_size);
    closed_.store(false, std::memory_order_release);
}

FileSource::~FileSource() {
    if (fd_ >= 0) ::close(fd_);
}

void FileSource::close() noexcept {
    const std::lock_guard<std::mutex> lock(use_);
    closed_.store(true, std::memory_order_release);
    if (reads_ == 0 && fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void FileSource::require_open() const {
    if (closed()) throw ClosedFileError();
}

int FileSource::fileno() const {
    require_open();
    return fd_;
}

void FileSource::begin_read() {
    const std::lock_guard<std::mutex> lock(use_);
    require_open();
    ++reads_;
}

void FileSource::end_read() noexcept {
    const std::lock_guard<std::mutex> lock(use_);
    if (--reads_ == 0 && closed() && fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void FileSource::read_exact(std::uint64_t offset, std::size_t length, std::uint8_t* out) {
    read_at_least(offset, length, length, out);
}

std::size_t FileSource::read_at_least(std::uint64_t offset, std::size_t needed, std::size_t wanted, std::uint8_t* out) {
    begin_read();
    struct EndRead {
        FileSource* file;
        ~EndRead() { file->end_read(); }
    } end_read_when_done{this};
    std::size_t done = 0;
    while (done < needed) {
        const ssize_t got = ::pread(fd_, out + done, wanted - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            throw FormatError("expected " + std::to_string(needed) + " readable bytes (read failed: " +
                                  std::generic_category().message(errno) + ")",
                              offset + done);
        }
        if (got == 0) {
            throw FormatError("expected " + std::to_string(needed - done) +
                                  " more bytes, but the file ends (it shrank after it was opened)",
                              offset + done);
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

}  // namespace ozra::core
