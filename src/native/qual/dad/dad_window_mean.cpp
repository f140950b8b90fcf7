#include "qual/dad/dad_window_mean.hpp"

#include <limits>

namespace ozra::qual {
namespace {

using storage::Point;

// The intensity at `t` on the straight line from `a` to `b`.
double interpolate(const Point& a, const Point& b, double t) {
    return a.intensity + (b.intensity - a.intensity) / (b.x - a.x) * (t - a.x);
}

// When the covered span shrinks to one wavelength (every point there shares it,
// or the window touches the spectrum only at its first or last wavelength), the
// mean is that of the points at that wavelength: points[begin] and its
// neighbours in direction `step` that share its wavelength.
WindowMean single_wavelength(const Point* points, std::size_t count, std::size_t begin, std::ptrdiff_t step) {
    const double wavelength = points[begin].x;
    double sum = 0.0;
    std::size_t taken = 0;
    for (std::ptrdiff_t j = static_cast<std::ptrdiff_t>(begin);
         j >= 0 && j < static_cast<std::ptrdiff_t>(count) && points[j].x == wavelength; j += step) {
        sum += points[j].intensity;
        ++taken;
    }
    return WindowMean{sum / static_cast<double>(taken), wavelength};
}

}  // namespace

std::optional<WindowMean> window_mean(const Point* points, std::size_t count, double min, double max) {
    if (count == 0 || max < points[0].x || min > points[count - 1].x) return std::nullopt;
    const std::size_t last = count - 1;
    if (min <= points[0].x && max == points[0].x) return single_wavelength(points, count, 0, 1);

    double ave_intensity = 0.0;
    double base_intensity = -std::numeric_limits<double>::max();
    double base_x = -1.0;
    bool range_start_at_middle = false;
    for (std::size_t j = 0;; ++j) {
        const Point& a = points[j];
        if (j == last) {
            if (!range_start_at_middle && j == 0) {
                ave_intensity = a.intensity;
            } else {
                const double span = range_start_at_middle ? a.x - min : a.x - points[0].x;
                if (span == 0.0) return single_wavelength(points, count, last, -1);
                ave_intensity = ave_intensity / span;
            }
            if (a.intensity > base_intensity) {
                base_intensity = a.intensity;
                base_x = a.x;
            }
            return WindowMean{ave_intensity, base_x};
        }
        const Point& b = points[j + 1];
        if (b.x < min) continue;
        if (a.x < min && min <= b.x) {
            if (max <= b.x) {
                if (min == max) return WindowMean{interpolate(a, b, max), min};
                const double intensity1 = interpolate(a, b, min);
                const double intensity2 = interpolate(a, b, max);
                const double wavelength = intensity1 == intensity2 ? (min + max) / 2
                                          : intensity1 < intensity2 ? max
                                                                    : min;
                return WindowMean{(intensity1 + intensity2) / 2, wavelength};
            }
            const double intensity1 = interpolate(a, b, min);
            ave_intensity += (intensity1 + b.intensity) / 2 * (b.x - min);
            range_start_at_middle = true;
            base_intensity = intensity1;
            base_x = min;
            continue;
        }
        if (a.intensity > base_intensity) {
            base_intensity = a.intensity;
            base_x = a.x;
        }
        if (a.x < max && max <= b.x) {
            const double intensity2 = interpolate(a, b, max);
            ave_intensity += (intensity2 + a.intensity) / 2 * (max - a.x);
            ave_intensity = range_start_at_middle ? ave_intensity / (max - min) : ave_intensity / (max - points[0].x);
            if (intensity2 > base_intensity) base_x = max;
            return WindowMean{ave_intensity, base_x};
        }
        ave_intensity += (a.intensity + b.intensity) / 2 * (b.x - a.x);
    }
}

}  // namespace ozra::qual
