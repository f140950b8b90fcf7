// A reusable byte buffer that grows without zero-filling what it will overwrite.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace ozra::core {

class ByteBuffer {
public:
    // Makes room for `size` bytes; the contents are unspecified afterwards.
    std::uint8_t* reserve(std::size_t size) {
        if (size > capacity_) {
            data_.reset(new std::uint8_t[size]);
            capacity_ = size;
        }
        size_ = size;
        return data_.get();
    }
    std::uint8_t* data() noexcept { return data_.get(); }
    const std::uint8_t* data() const noexcept { return data_.get(); }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    // Keeps the first `size` bytes of those reserved last.
    void resize(std::size_t size) noexcept { size_ = std::min(size, capacity_); }
    // Gives the memory back when a rare huge block made it large.
    void shrink_to(std::size_t limit) {
        if (capacity_ > limit) {
            data_.reset();
            capacity_ = size_ = 0;
        }
    }

private:
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
};

}  // namespace ozra::core
