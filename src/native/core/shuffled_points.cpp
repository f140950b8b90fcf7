#include "core/shuffled_points.hpp"

#include <bit>
#include <cstddef>

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

// The value at `index` of byte planes of `plane_size` bytes each. The planes hold
// little-endian bytes, so this builds the value the same way on every host.
template <class T>
T gather(const std::uint8_t* planes, std::size_t plane_size, std::size_t index) {
    using Bits = typename Unsigned<sizeof(T)>::type;
    Bits bits = 0;
    for (std::size_t byte = 0; byte < sizeof(T); ++byte) {
        bits |= Bits{planes[byte * plane_size + index]} << (8 * byte);
    }
    return std::bit_cast<T>(bits);
}

template <class Intensity>
bool fill(std::size_t n, const std::uint8_t* x_planes, const double* wavelengths,
          const std::uint8_t* intensity_planes, PointPair* out) {
    std::uint64_t bits = 0;
    OrderCheck order;
    for (std::size_t i = 0; i < n; ++i) {
        double x;
        if (x_planes) {
            bits += gather<std::uint64_t>(x_planes, n, i);  // modulo 2^64, as written
            x = std::bit_cast<double>(bits);
        } else {
            x = wavelengths[i];
        }
        out[i] = {x, static_cast<double>(gather<Intensity>(intensity_planes, n, i))};
        order.add(x);
    }
    return order.ordered();
}

}  // namespace

bool fill_shuffled_points(std::size_t n, unsigned intensity_width, const std::uint8_t* x_planes,
                          const double* wavelengths, const std::uint8_t* intensity_planes, PointPair* out) {
    return intensity_width == 8 ? fill<double>(n, x_planes, wavelengths, intensity_planes, out)
                                : fill<float>(n, x_planes, wavelengths, intensity_planes, out);
}

}  // namespace ozra::core
