// Decompression of the format's zstd frames, with every check made before the
// output is allocated.
#pragma once

#include "core/byte_buffer.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

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
    struct Free {
        void operator()(ZSTD_DCtx_s* context) const noexcept;
    };
    std::unique_ptr<ZSTD_DCtx_s, Free> context_;
};

}  // namespace ozra::core
