// The zstd-shuffle point encoding once decompressed: x values as differences of
// their bit patterns, and every value's bytes shuffled into planes (byte 0 of
// each value, then byte 1 of each, ...), which zstd compresses far better.
#pragma once

#include "spectrum_payload.hpp"

#include <cstdint>

namespace ozra::core {

// Writes the header.count points of a decompressed zstd-shuffle payload into
// `out`, x from the payload when stored, else from `wavelengths`; answers
// whether the x values never decrease (NaN fails that test too).
bool fill_shuffled_points(const SpectrumHeader& header, const std::uint8_t* decoded, const double* wavelengths,
                          PointPair* out);

}  // namespace ozra::core
