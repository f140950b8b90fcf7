// A stand-in for the zstd functions the reader calls, linked into the
// plain_file_fuzzer only: a "frame" is the zstd magic, a frame header
// descriptor byte with the checksum flag, then the content as is. With it the
// fuzzer mutates description records directly instead of compressed bytes that
// a checksum guards. The executable's definitions take precedence over
// libzstd's for the extension modules it loads.
#include <cstddef>
#include <cstring>

namespace {

constexpr std::size_t plain_header_size = 5;  // magic and descriptor
constexpr unsigned char magic[4] = {0x28, 0xB5, 0x2F, 0xFD};
constexpr std::size_t unknown_size = static_cast<std::size_t>(-1);
constexpr std::size_t error_size = static_cast<std::size_t>(-2);
constexpr std::size_t corrupted = static_cast<std::size_t>(-20);  // an error code as ZSTD_isError sees it

bool is_plain(const void* frame, std::size_t size) {
    return size >= plain_header_size && std::memcmp(frame, magic, sizeof magic) == 0;
}

int context;

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void* ZSTD_createDCtx() { return &context; }
__attribute__((visibility("default"))) std::size_t ZSTD_freeDCtx(void*) { return 0; }
__attribute__((visibility("default"))) unsigned ZSTD_isError(std::size_t code) { return code > static_cast<std::size_t>(-120); }
__attribute__((visibility("default"))) const char* ZSTD_getErrorName(std::size_t) { return "plain frame error"; }

__attribute__((visibility("default"))) unsigned long long ZSTD_getFrameContentSize(const void* frame, std::size_t size) {
    if (!is_plain(frame, size)) return size < plain_header_size ? unknown_size : error_size;
    return size - plain_header_size;
}

__attribute__((visibility("default"))) std::size_t ZSTD_findFrameCompressedSize(const void* frame, std::size_t size) {
    return is_plain(frame, size) ? size : corrupted;
}

__attribute__((visibility("default"))) std::size_t ZSTD_decompressDCtx(void*, void* destination, std::size_t capacity,
                                                                        const void* frame, std::size_t size) {
    if (!is_plain(frame, size) || size - plain_header_size > capacity) return corrupted;
    std::memcpy(destination, static_cast<const unsigned char*>(frame) + plain_header_size, size - plain_header_size);
    return size - plain_header_size;
}

// A large frame of records is decompressed while it is read: here the stream fails at
// once, and the reader then decompresses the frame whole, as after any failed stream.
__attribute__((visibility("default"))) std::size_t ZSTD_DCtx_reset(void*, int) { return 0; }
__attribute__((visibility("default"))) std::size_t ZSTD_DCtx_setParameter(void*, int, int) { return 0; }
__attribute__((visibility("default"))) std::size_t ZSTD_decompressStream(void*, void*, void*) { return corrupted; }

}
