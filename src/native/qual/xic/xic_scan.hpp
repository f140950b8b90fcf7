// The scan of one spectrum's points for the m/z windows of the requests that use it.
#pragma once

#include "python/ref.hpp"
#include "qual/xic/xic_requests.hpp"
#include "storage/api/storage_api.hpp"

#include <cstddef>
#include <optional>
#include <vector>

namespace ozra::qual {

// What one window gives for one spectrum: the summed intensity and the m/z of the
// first most intense peak (0.0 when the window holds no peak).
struct WindowSum {
    double sum = 0.0;
    double base_mz = 0.0;
};

// The spectrum's points as a buffer of contiguous (x, intensity) pairs, when the
// spectrum object offers one (storage::point_pair_count); released with the object.
class PointBuffer {
public:
    // Takes the buffer of `spectrum`; false when it offers none or another layout.
    bool acquire(PyObject* spectrum);
    ~PointBuffer();

    const storage::Point* points() const { return points_; }
    std::size_t size() const { return size_; }

private:
    Py_buffer view_{};
    bool held_ = false;
    const storage::Point* points_ = nullptr;
    std::size_t size_ = 0;
};

// The window's sum from its first peak `peak` on, up to the last peak with x <= high
// (or `end`); the base peak is the first most intense one above `lowest`.
inline WindowSum sum_from(const storage::Point* peak, const storage::Point* end, double high, double lowest) {
    double base_peak = lowest;
    WindowSum result;
    for (; peak != end && !(peak->x > high); ++peak) {
        if (base_peak < peak->intensity) {
            base_peak = peak->intensity;
            result.base_mz = peak->x;
        }
        result.sum = result.sum + peak->intensity;
    }
    return result;
}

// The window [low, high] of points in increasing x: a binary search for its first
// peak, then a linear pass up to its last.
WindowSum window_sum(const storage::Point* points, std::size_t count, double low, double high, double lowest);

// Any sequence of records with `x` and `intensity`: each request's window is scanned
// from the first peak with the interpreter's comparisons, as written in the rule of the
// chromatogram; the length is read at the first scan, and each point's record and
// fields once per spectrum, only as far as some window's scan reaches. Over a points
// buffer (`buffer` not null) the fields are the buffer's doubles, for windows whose
// bounds are not plain doubles.
class GenericPoints {
public:
    GenericPoints(PyObject* spectrum, const PointBuffer* buffer);
    WindowSum scan(const XicRequest& request, double lowest);

private:
    struct Peak {
        py::Ref x;
        py::Ref intensity;
    };
    const Peak& peak(std::size_t k);

    PyObject* spectrum_;
    const PointBuffer* buffer_;
    std::optional<std::size_t> size_;
    std::vector<Peak> fetched_;
};

}  // namespace ozra::qual
