#include "core/spectrum_payload.hpp"

#include "core/primitives.hpp"
#include "core/shuffled_points.hpp"
#include "core/zstd_frame.hpp"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <limits>
#include <string>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ozra::core {
namespace {

[[noreturn]] void fail(const SpectrumHeader& header, const std::string& what) {
    throw FormatError("expected " + what, header.offset);
}

// "0 (raw), 1 (zstd) or 2 (...)", from the format's table.
std::string known_encodings() {
    std::string text;
    for (unsigned number = 0; number <= schema::last_point_encoding; ++number) {
        if (number > 0) text += number == schema::last_point_encoding ? " or " : ", ";
        text += std::to_string(number) + " (" + schema::point_encoding_names[number] + ")";
    }
    return text;
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

}  // namespace

SpectrumHeader read_spectrum_header(ByteCursor& cursor) {
    SpectrumHeader header;
    header.offset = cursor.offset_of(cursor.consumed());
    read_marker(cursor, Marker::begin_spectrum);
    const std::size_t encoding_at = cursor.consumed();
    const std::uint8_t encoding = cursor.u8("the spectrum's encoding");
    if (encoding > schema::last_point_encoding) {
        cursor.fail_at(encoding_at, "expected the spectrum encoding " + known_encodings() + ", found " +
                                        std::to_string(encoding));
    }
    header.encoding = static_cast<schema::PointEncoding>(encoding);
    const std::size_t x_at = cursor.consumed();
    const std::uint8_t x_flag = cursor.u8("the spectrum's x flag");
    if (x_flag > 1) {
        cursor.fail_at(x_at, "expected the x flag 0 (stored) or 1 (not stored), found " + std::to_string(x_flag));
    }
    header.x_stored = x_flag == 0;
    const std::size_t width_at = cursor.consumed();
    header.intensity_width = cursor.u8("the spectrum's intensity width");
    if (header.intensity_width != 4 && header.intensity_width != 8) {
        cursor.fail_at(width_at,
                       "expected the intensity width 4 or 8, found " + std::to_string(header.intensity_width));
    }
    const std::size_t reserved_at = cursor.consumed();
    const std::uint8_t reserved = cursor.u8("the spectrum's reserved byte");
    if (reserved != 0) cursor.fail_at(reserved_at, "expected the reserved byte 0, found " + std::to_string(reserved));
    header.count = cursor.u32("the spectrum's point count");
    header.stored_size = cursor.u32("the spectrum's stored size");
    return header;
}

void check_spectrum_sizes(const SpectrumHeader& header, std::uint64_t file_size) {
    const std::uint64_t room = file_size - std::min(file_size, header.payload_offset());
    if (std::uint64_t{header.stored_size} + marker_size > room) {
        throw FormatError("expected a payload of " + std::to_string(header.stored_size) +
                              " bytes and the END_OF_SPECTRUM marker, but the file ends after " +
                              std::to_string(room) + " more bytes",
                          header.payload_offset());
    }
    const std::uint64_t decoded = header.decoded_size();
    if (!header.compressed() && decoded != header.stored_size) {
        fail(header, "a raw payload of " + std::to_string(decoded) + " bytes for " + std::to_string(header.count) +
                         " points, found a stored size of " + std::to_string(header.stored_size));
    }
    if (header.compressed() && decoded > max_compression_ratio * header.stored_size) {
        fail(header, "at most " + std::to_string(max_compression_ratio) + " times the " +
                         std::to_string(header.stored_size) + " stored bytes for " + std::to_string(header.count) +
                         " points of " + std::to_string(decoded) + " bytes");
    }
}

namespace {

#if defined(__SSE2__)
// The pairs of points fill_points makes for stored x values and intensities of 8 bytes
// on a little-endian machine, two at a time, the pairs made and the order tested in
// vector registers (about twice the speed of the loop): every point of an even count,
// all but the last of an odd one. Returns how many were filled; `order` has seen the
// last of them, and `ordered` is false if they decrease somewhere.
std::size_t fill_double_pairs(std::size_t n, const std::uint8_t* xs, const std::uint8_t* intensities, PointPair* out,
                              OrderCheck& order, bool& ordered) {
    auto* pairs = reinterpret_cast<double*>(out);
    __m128d previous = _mm_set1_pd(-std::numeric_limits<double>::infinity());
    __m128d in_order = _mm_castsi128_pd(_mm_set1_epi32(-1));
    std::size_t i = 0;
    for (; i + 2 <= n; i += 2) {
        const __m128d x = _mm_loadu_pd(reinterpret_cast<const double*>(xs + 8 * i));
        const __m128d intensity = _mm_loadu_pd(reinterpret_cast<const double*>(intensities + 8 * i));
        _mm_storeu_pd(pairs + 2 * i, _mm_unpacklo_pd(x, intensity));
        _mm_storeu_pd(pairs + 2 * i + 2, _mm_unpackhi_pd(x, intensity));
        // (x[i] >= x[i - 1], x[i + 1] >= x[i]); a NaN compares false.
        in_order = _mm_and_pd(in_order, _mm_cmpge_pd(x, _mm_shuffle_pd(previous, x, 1)));
        previous = x;
    }
    order.add(_mm_cvtsd_f64(_mm_unpackhi_pd(previous, previous)));
    ordered = _mm_movemask_pd(in_order) == 3;
    return i;
}
#endif

// Fills the points in one pass over the payload (x and intensity side by side, as
// the stored order puts them apart), and answers whether the x values never
// decrease; NaN fails that test too.
template <class Intensity>
bool fill_points(std::size_t n, const std::uint8_t* xs, const double* wavelengths, const std::uint8_t* intensities,
                 PointPair* out) {
    OrderCheck order;
    bool ordered = true;
    std::size_t i = 0;
#if defined(__SSE2__)
    if constexpr (std::is_same_v<Intensity, double> && std::endian::native == std::endian::little) {
        if (xs) i = fill_double_pairs(n, xs, intensities, out, order, ordered);
    }
#endif
    for (; i < n; ++i) {
        const double x = xs ? load_le<double>(xs + 8 * i) : wavelengths[i];
        out[i].x = x;
        out[i].intensity = load_le<Intensity>(intensities + sizeof(Intensity) * i);
        order.add(x);
    }
    return ordered && order.ordered();
}

}  // namespace

void decode_points(const SpectrumHeader& header, const std::uint8_t* decoded, const double* wavelengths,
                   PointPair* out) {
    const std::size_t n = header.count;
    const std::uint8_t* xs = header.x_stored ? decoded : nullptr;
    const std::uint8_t* intensities = header.x_stored ? decoded + 8 * n : decoded;
    const bool ordered = header.encoding == schema::PointEncoding::zstd_shuffle
                             ? fill_shuffled_points(n, header.intensity_width, xs, wavelengths, intensities, out)
                         : header.intensity_width == 8 ? fill_points<double>(n, xs, wavelengths, intensities, out)
                                                       : fill_points<float>(n, xs, wavelengths, intensities, out);
    if (ordered) return;
    for (std::size_t i = 0; i < n; ++i) {
        // Written so that a NaN fails too.
        if (!(out[i].x == out[i].x) || (i > 0 && !(out[i].x >= out[i - 1].x))) {
            fail(header, std::string(header.x_stored ? "x values" : "wavelengths") +
                             " in non-decreasing order, found " + number(out[i].x) + " at point " +
                             std::to_string(i) + (i > 0 ? " after " + number(out[i - 1].x) : ""));
        }
    }
}

}  // namespace ozra::core
