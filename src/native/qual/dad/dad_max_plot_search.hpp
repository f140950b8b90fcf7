// The per-spectrum part of DADAnalysis.get_max_plot: the highest point inside the
// window and the mean of the points within the tolerance around it.
#pragma once

#include "storage/api/storage_api.hpp"

#include <cstddef>
#include <limits>

namespace ozra::qual {

struct MaxPlotValue {
    bool found;           // a point inside the window rose above the start value
    double wavelength;    // the highest point's wavelength (the lowest one on ties)
    double sum;           // intensities within the tolerance around it
    std::size_t count;    // how many points that sum holds
};

// `Window` answers below(x) (x < window start) and above(x) (x > window end); the
// points are taken in increasing wavelength, so both passes stop at the first
// point past their interval.
template <class Window>
MaxPlotValue max_plot_value(const storage::Point* points, std::size_t count, Window& window, double tolerance) {
    const double start = -std::numeric_limits<double>::max();
    double base_peak = start;
    double base_x = start;
    for (std::size_t j = 0; j < count; ++j) {
        if (window.below(points[j].x)) continue;
        if (window.above(points[j].x)) break;
        if (base_peak < points[j].intensity) {
            base_peak = points[j].intensity;
            base_x = points[j].x;
        }
    }
    if (base_x == start) return MaxPlotValue{false, 0.0, 0.0, 0};

    double sum = 0.0;
    std::size_t taken = 0;
    for (std::size_t j = 0; j < count; ++j) {
        if (points[j].x < base_x - tolerance) continue;
        if (points[j].x > tolerance + base_x) break;
        sum += points[j].intensity;
        ++taken;
    }
    return MaxPlotValue{true, base_x, sum, taken};
}

// A window whose ends are plain doubles.
struct FixedWindow {
    double min;
    double max;
    bool below(double x) const noexcept { return x < min; }
    bool above(double x) const noexcept { return x > max; }
};

}  // namespace ozra::qual
