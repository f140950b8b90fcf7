// A bounded cursor over bytes that knows where they came from, so that every
// error names the absolute byte offset (or the frame and the position inside
// its decompressed data).
#pragma once

#include "core/format_error.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace ozra::core {

// Little-endian load of a fixed-width value.
template <class T>
T load_le(const std::uint8_t* bytes) noexcept {
    T value;
    std::memcpy(&value, bytes, sizeof value);
    if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) {
        auto* raw = reinterpret_cast<std::uint8_t*>(&value);
        for (std::size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(raw[i], raw[sizeof(T) - 1 - i]);
    }
    return value;
}

class ByteCursor {
public:
    ByteCursor() = default;
    // Bytes read from the file at `file_offset`.
    static ByteCursor file(const std::uint8_t* data, std::size_t size, std::uint64_t file_offset) noexcept {
        return ByteCursor(data, size, file_offset, false);
    }
    // Bytes decompressed from the frame stored at `frame_offset`.
    static ByteCursor decompressed(const std::uint8_t* data, std::size_t size, std::uint64_t frame_offset) noexcept {
        return ByteCursor(data, size, frame_offset, true);
    }

    std::size_t consumed() const noexcept { return position_; }
    // All the bytes of the cursor, read or not.
    const std::uint8_t* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    std::size_t remaining() const noexcept { return size_ - position_; }
    bool at_end() const noexcept { return position_ == size_; }
    // Absolute file offset of the byte at `position` (for file bytes).
    std::uint64_t offset_of(std::size_t position) const noexcept { return origin_ + position; }

    // The next `n` bytes; `what` names them for the error when fewer remain.
    const std::uint8_t* take(std::size_t n, const char* what) {
        if (n > remaining()) fail_short(n, what);
        const std::uint8_t* bytes = data_ + position_;
        position_ += n;
        return bytes;
    }
    template <class T>
    T fixed(const char* what) {
        return load_le<T>(take(sizeof(T), what));
    }
    std::uint8_t u8(const char* what) { return fixed<std::uint8_t>(what); }
    std::uint16_t u16(const char* what) { return fixed<std::uint16_t>(what); }
    std::uint32_t u32(const char* what) { return fixed<std::uint32_t>(what); }
    std::int32_t i32(const char* what) { return fixed<std::int32_t>(what); }
    std::int64_t i64(const char* what) { return fixed<std::int64_t>(what); }
    double f64(const char* what) { return fixed<double>(what); }

    // Throws a FormatError for the bytes at `position` ("expected ..." in `what`).
    [[noreturn]] void fail_at(std::size_t position, const std::string& what) const;
    [[noreturn]] void fail(const std::string& what) const { fail_at(position_, what); }

private:
    ByteCursor(const std::uint8_t* data, std::size_t size, std::uint64_t origin, bool decompressed) noexcept
        : data_(data), size_(size), origin_(origin), decompressed_(decompressed) {}
    [[noreturn]] void fail_short(std::size_t wanted, const char* what) const;

    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t position_ = 0;
    std::uint64_t origin_ = 0;  // file offset of the first byte, or of the frame
    bool decompressed_ = false;
};

}  // namespace ozra::core
