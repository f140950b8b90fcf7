#include "core/zstd_frame.hpp"

#include "core/format_error.hpp"

#include <algorithm>
#include <new>
#include <string>
#include <zstd.h>

namespace ozra::core {
namespace {

// RFC 8878: the frame magic, then the frame header descriptor whose bit 2 is
// the content checksum flag.
constexpr std::uint8_t frame_magic[4] = {0x28, 0xB5, 0x2F, 0xFD};
constexpr std::uint8_t checksum_flag = 0x04;

[[noreturn]] void fail(const std::string& what, std::uint64_t offset) { throw FormatError("expected " + what, offset); }

}  // namespace

void FrameDecompressor::Free::operator()(ZSTD_DCtx_s* context) const noexcept { ZSTD_freeDCtx(context); }

FrameDecompressor::FrameDecompressor() : context_(ZSTD_createDCtx()) {
    if (!context_) throw std::bad_alloc();
}

FrameDecompressor::~FrameDecompressor() = default;

std::uint64_t FrameDecompressor::declared_size(const std::uint8_t* frame, std::size_t size,
                                               std::uint64_t offset) const {
    if (size < 5 || !std::equal(frame_magic, frame_magic + 4, frame)) {
        fail("a zstd frame (magic 28 b5 2f fd)", offset);
    }
    if ((frame[4] & checksum_flag) == 0) fail("a zstd frame with a content checksum", offset);
    const unsigned long long content_size = ZSTD_getFrameContentSize(frame, size);
    if (content_size == ZSTD_CONTENTSIZE_UNKNOWN) fail("a zstd frame that declares its decompressed size", offset);
    if (content_size == ZSTD_CONTENTSIZE_ERROR) fail("a valid zstd frame header", offset);
    const std::size_t frame_size = ZSTD_findFrameCompressedSize(frame, size);
    if (ZSTD_isError(frame_size)) {
        fail("a complete zstd frame in the " + std::to_string(size) + " stored bytes (zstd: " +
                 ZSTD_getErrorName(frame_size) + ")",
             offset);
    }
    if (frame_size != size) {
        fail("one zstd frame filling its " + std::to_string(size) + " stored bytes, found a frame of " +
                 std::to_string(frame_size),
             offset);
    }
    if (content_size > max_compression_ratio * size) {
        fail("a decompressed size of at most " + std::to_string(max_compression_ratio) + " times the " +
                 std::to_string(size) + " stored bytes, found " + std::to_string(content_size),
             offset);
    }
    return content_size;
}

void FrameDecompressor::decompress(const std::uint8_t* frame, std::size_t size, std::uint64_t offset,
                                   ByteBuffer& out, std::optional<std::uint64_t> expected_size) {
    const std::uint64_t content_size = declared_size(frame, size, offset);
    if (expected_size && content_size != *expected_size) {
        fail("a zstd frame declaring " + std::to_string(*expected_size) + " decompressed bytes, found " +
                 std::to_string(content_size),
             offset);
    }
    std::uint8_t* destination = out.reserve(content_size);
    const std::size_t produced = ZSTD_decompressDCtx(context_.get(), destination, content_size, frame, size);
    if (ZSTD_isError(produced)) {
        fail(std::string("an undamaged zstd frame (zstd: ") + ZSTD_getErrorName(produced) + ")", offset);
    }
    if (produced != content_size) {
        fail("a zstd frame decompressing to its declared " + std::to_string(content_size) + " bytes, found " +
                 std::to_string(produced),
             offset);
    }
}

}  // namespace ozra::core
