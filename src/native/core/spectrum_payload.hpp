// Spectrum point data: the header that precedes each spectrum's payload, and
// the decoding of the payload into contiguous (x, intensity) pairs.
#pragma once

#include "core/byte_cursor.hpp"
#include "schema/format_schema.hpp"

#include <cstddef>
#include <cstdint>
#include <limits>

namespace ozra::core {

// One decoded point; the same layout as the points buffer's element.
struct PointPair {
    double x;
    double intensity;
};
static_assert(sizeof(PointPair) == 16);

// BEGIN_OF_SPECTRUM, encoding, x stored, intensity width, reserved, n, stored size.
inline constexpr std::size_t spectrum_header_size = 16;

struct SpectrumHeader {
    std::uint64_t offset = 0;  // of the BEGIN_OF_SPECTRUM marker
    schema::PointEncoding encoding = schema::PointEncoding::raw;
    bool x_stored = true;
    unsigned intensity_width = 8;
    std::uint32_t count = 0;
    std::uint32_t stored_size = 0;

    bool compressed() const noexcept { return encoding != schema::PointEncoding::raw; }
    std::uint64_t payload_offset() const noexcept { return offset + spectrum_header_size; }
    // Bytes of the payload once decompressed: all x values (if stored), then all
    // intensities (each part transformed, same size, in zstd-shuffle).
    std::uint64_t decoded_size() const noexcept {
        return std::uint64_t{count} * ((x_stored ? 8 : 0) + intensity_width);
    }
};

// Reads and checks the header at the cursor, which must start at the marker.
SpectrumHeader read_spectrum_header(ByteCursor& cursor);

// Checks the stored size against the point count before anything is allocated:
// a raw payload holds exactly decoded_size() bytes, a compressed one at most
// the frame ratio bound less. `file_size` bounds the payload and end marker.
void check_spectrum_sizes(const SpectrumHeader& header, std::uint64_t file_size);

// Whether x values never decrease, as points are filled one after another; a
// NaN breaks the order too.
class OrderCheck {
public:
    void add(double x) noexcept {
        ordered_ &= x >= previous_;
        previous_ = x;
    }
    bool ordered() const noexcept { return ordered_; }

private:
    double previous_ = -std::numeric_limits<double>::infinity();
    bool ordered_ = true;
};

// Writes the header.count points of the decompressed payload into `out`; x comes
// from the payload when stored, else from `wavelengths` (header.count values).
// The x values must not decrease (a NaN is refused too).
void decode_points(const SpectrumHeader& header, const std::uint8_t* decoded, const double* wavelengths,
                   PointPair* out);

}  // namespace ozra::core
