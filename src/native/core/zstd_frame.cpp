#include "core/zstd_frame.hpp"

#include "core/format_error.hpp"

#include <algorithm>
#include <new>
#include <string>
// For ZSTD_d_stableOutBuffer, a parameter value: no function of the static-only
// interface is called, so the shared library of any 1.4.x or later release serves.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

namespace ozra::core {
namespace {

// The compressed bytes given to zstd per step of a stream: each step publishes the
// blocks it completed (at most 128 KiB each).
constexpr std::size_t stream_input_step = std::size_t{16} << 10;

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

FrameStream::FrameStream(FrameDecompressor& decompressor, const std::uint8_t* frame, std::size_t size,
                         std::uint8_t* out, std::size_t out_size)
    : context_(decompressor.context_.get()),
      frame_(frame),
      size_(size),
      out_(out),
      out_size_(out_size),
      thread_([this] { run(); }) {}

FrameStream::~FrameStream() {
    stop_.store(true, std::memory_order_relaxed);
    thread_.join();
}

void FrameStream::run() noexcept {
    ZSTD_DCtx_reset(context_, ZSTD_reset_session_and_parameters);
    // Straight into the output, without a window buffer of the frame's size; where the
    // library refuses it, zstd copies through its own buffer, slower but the same.
    ZSTD_DCtx_setParameter(context_, ZSTD_d_stableOutBuffer, 1);
    ZSTD_inBuffer in{frame_, 0, 0};
    ZSTD_outBuffer out{out_, out_size_, 0};
    while (!stop_.load(std::memory_order_relaxed)) {
        const std::size_t given = in.pos, produced = out.pos;
        in.size = std::min(size_, in.size + stream_input_step);
        const std::size_t left = ZSTD_decompressStream(context_, &out, &in);
        if (ZSTD_isError(left)) break;
        if (left == 0) {
            whole_ = out.pos == out_size_ && in.pos == size_;
            break;
        }
        // All the bytes given and nothing more made: the frame is cut short.
        if (in.size == size_ && in.pos == given && out.pos == produced) break;
        progress_.store(out.pos, std::memory_order_release);
        progress_.notify_all();
    }
    ZSTD_DCtx_reset(context_, ZSTD_reset_session_and_parameters);
    progress_.store(out.pos | ended_bit, std::memory_order_release);
    progress_.notify_all();
}

std::size_t FrameStream::wait_for(std::size_t wanted) const noexcept {
    std::uint64_t progress = progress_.load(std::memory_order_acquire);
    while ((progress & ended_bit) == 0 && progress < wanted) {
        progress_.wait(progress, std::memory_order_acquire);
        progress = progress_.load(std::memory_order_acquire);
    }
    return static_cast<std::size_t>(progress & ~ended_bit);
}

bool FrameStream::whole() const noexcept {
    wait_for(SIZE_MAX);
    return whole_;
}

}  // namespace ozra::core
