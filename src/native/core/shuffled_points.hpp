// The zstd-shuffle point encoding once decompressed: x values as differences of
// their bit patterns, and every value's bytes shuffled into planes (byte 0 of
// each value, then byte 1 of each, ...), which zstd compresses far better.
#pragma once

#include "core/spectrum_payload.hpp"

#include <cstdint>

namespace ozra::core {

// Writes the n points of a decompressed zstd-shuffle payload into `out`: x from
// the byte planes of the differences at `x_planes`, or (null) from `wavelengths`,
// intensities of `intensity_width` bytes from the planes at `intensity_planes`.
// Answers whether the x values never decrease (NaN fails that test too).
bool fill_shuffled_points(std::size_t n, unsigned intensity_width, const std::uint8_t* x_planes,
                          const double* wavelengths, const std::uint8_t* intensity_planes, PointPair* out);

}  // namespace ozra::core
