#include "shuffled_points.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <limits>

namespace ozra::core {
namespace {

template <std::size_t Size>
struct Unsigned;
template <>
struct Unsigned<4> {
    using type = std::uint32_t;
};
template <>
struct Unsigned<8> {
    using type = std::uint64_t;
};

// Gathers `count` values from byte planes of `plane_size` bytes each, starting
// `first` values in. The planes hold little-endian bytes, so this builds the
// value the same way on every host.
template <class T>
void unshuffle(const std::uint8_t* planes, std::size_t plane_size, std::size_t first, std::size_t count, T* out) {
    using Bits = typename Unsigned<sizeof(T)>::type;
    for (std::size_t i = 0; i < count; ++i) {
        Bits bits = 0;
        for (std::size_t byte = 0; byte < sizeof(T); ++byte) {
            bits |= Bits{planes[byte * plane_size + first + i]} << (8 * byte);
        }
        out[i] = std::bit_cast<T>(bits);
    }
}

// Chunks small enough to stay in the first-level cache, large enough that the
// byte-plane gathers vectorise.
constexpr std::size_t chunk_points = 256;

template <class Intensity>
bool fill(std::size_t n, const std::uint8_t* x_planes, const double* wavelengths,
          const std::uint8_t* intensity_planes, PointPair* out) {
    std::uint64_t deltas[chunk_points];
    Intensity intensities[chunk_points];
    std::uint64_t bits = 0;
    bool ordered = true;
    double previous = -std::numeric_limits<double>::infinity();
    for (std::size_t first = 0; first < n; first += chunk_points) {
        const std::size_t count = std::min(chunk_points, n - first);
        if (x_planes) unshuffle(x_planes, n, first, count, deltas);
        unshuffle(intensity_planes, n, first, count, intensities);
        for (std::size_t i = 0; i < count; ++i) {
            double x;
            if (x_planes) {
                bits += deltas[i];  // modulo 2^64, as written
                x = std::bit_cast<double>(bits);
            } else {
                x = wavelengths[first + i];
            }
            out[first + i] = {x, static_cast<double>(intensities[i])};
            ordered &= x >= previous;
            previous = x;
        }
    }
    return ordered;
}

}  // namespace

bool fill_shuffled_points(const SpectrumHeader& header, const std::uint8_t* decoded, const double* wavelengths,
                          PointPair* out) {
    const std::size_t n = header.count;
    const std::uint8_t* x_planes = header.x_stored ? decoded : nullptr;
    const std::uint8_t* intensity_planes = header.x_stored ? decoded + 8 * n : decoded;
    return header.intensity_width == 8 ? fill<double>(n, x_planes, wavelengths, intensity_planes, out)
                                       : fill<float>(n, x_planes, wavelengths, intensity_planes, out);
}

}  // namespace ozra::core
