// The sweep of DADAnalysis.get_chromatogram over one spectrum's points.
#pragma once

#include "storage/api/storage_api.hpp"

#include <cstddef>
#include <optional>

namespace ozra::qual {

struct WindowMean {
    double intensity;   // mean of the interpolated spectrum over the covered span
    double wavelength;  // where the intensity inside the window is highest
};

// The trapezoid mean of the linearly interpolated spectrum over the part of
// [min, max] that the points cover, and the wavelength of its highest value;
// nothing when the window misses the spectrum (or the spectrum is empty).
// The points are taken in increasing wavelength; the sweep stops at the window's end.
std::optional<WindowMean> window_mean(const storage::Point* points, std::size_t count, double min, double max);

}  // namespace ozra::qual
