// Decompression of the format's zstd frames, with every check made before the
// output is allocated.
#pragma once

#include "core/byte_buffer.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>

struct ZSTD_DCtx_s;

namespace ozra::core {

// A frame may claim at most this many times its stored size: zstd reaches such
// ratios only on degenerate data, so a larger claim is damage.
inline constexpr std::uint64_t max_compression_ratio = 256;

class FrameDecompressor {
public:
    FrameDecompressor();
    ~FrameDecompressor();
    FrameDecompressor(const FrameDecompressor&) = delete;
    FrameDecompressor& operator=(const FrameDecompressor&) = delete;

    // The decompressed size the frame of `size` bytes at `frame` declares,
    // checked: exactly one zstd frame filling the bytes, with its content
    // checksum and a declared size within the ratio bound. `offset` is the
    // file offset of the frame, for errors.
    std::uint64_t declared_size(const std::uint8_t* frame, std::size_t size, std::uint64_t offset) const;

    // Decompresses the frame into `out` (declared_size() bytes, which must equal
    // `expected_size` when given), verifying the checksum and that zstd
    // produced exactly the declared size.
    void decompress(const std::uint8_t* frame, std::size_t size, std::uint64_t offset, ByteBuffer& out,
                    std::optional<std::uint64_t> expected_size);

private:
    friend class FrameStream;
    struct Free {
        void operator()(ZSTD_DCtx_s* context) const noexcept;
    };
    std::unique_ptr<ZSTD_DCtx_s, Free> context_;
};

// A frame decompressing on a thread of its own, read while it arrives: a large
// frame of records is checked on one core while zstd produces it on another. The
// decompressor, the frame's bytes and the output stay untouched by the caller and
// alive until the stream is gone (its destructor stops the thread and waits for it).
// A stream that fails says only that: decompress() on the same bytes tells why, in
// the words every other frame's failure is told in.
class FrameStream {
public:
    // Starts decompressing the `size` bytes at `frame` (checked by declared_size())
    // into the `out_size` (its declared size) bytes at `out`. std::system_error when
    // no thread can be started.
    FrameStream(FrameDecompressor& decompressor, const std::uint8_t* frame, std::size_t size, std::uint8_t* out,
                std::size_t out_size);
    ~FrameStream();
    FrameStream(const FrameStream&) = delete;
    FrameStream& operator=(const FrameStream&) = delete;

    // The bytes decompressed so far, once at least `wanted` of them are, or the
    // stream has ended.
    std::size_t wait_for(std::size_t wanted) const noexcept;
    // Whether the stream has ended, after which wait_for() no longer waits.
    bool ended() const noexcept { return (progress_.load(std::memory_order_acquire) & ended_bit) != 0; }
    // Waits for the end: whether zstd produced the whole frame, its checksum matching.
    bool whole() const noexcept;

private:
    static constexpr std::uint64_t ended_bit = std::uint64_t{1} << 63;
    void run() noexcept;

    ZSTD_DCtx_s* context_;
    const std::uint8_t* frame_;
    std::size_t size_;
    std::uint8_t* out_;
    std::size_t out_size_;
    bool whole_ = false;  // written before the ended bit is published
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> progress_{0};  // bytes decompressed, with ended_bit once the thread is done
    std::thread thread_;  // last: started once everything above is set
};

}  // namespace ozra::core
