#include "xic_scan.hpp"

#include "names.hpp"

#include <algorithm>
#include <cstring>

namespace ozra::qual {
namespace {

// The first peak at or after `from` with x >= low; the points are in increasing x,
// and every peak before `from` is known to lie below `low`.
std::size_t first_at_or_above(const py::Point* points, std::size_t from, std::size_t count, double low) {
    std::size_t step = 1;
    std::size_t probe = from;
    while (probe < count && points[probe].x < low) {
        from = probe + 1;
        probe = from + step;
        step *= 2;
    }
    const py::Point* end = points + std::min(probe, count);
    return static_cast<std::size_t>(
        std::lower_bound(points + from, end, low, [](const py::Point& p, double v) { return p.x < v; }) - points);
}

// `a < b` and `a > b` as the interpreter decides them, on doubles for two floats.
bool less(PyObject* a, PyObject* b) {
    if (PyFloat_CheckExact(a) && PyFloat_CheckExact(b)) return PyFloat_AS_DOUBLE(a) < PyFloat_AS_DOUBLE(b);
    return py::compare(a, b, Py_LT);
}

bool greater(PyObject* a, PyObject* b) {
    if (PyFloat_CheckExact(a) && PyFloat_CheckExact(b)) return PyFloat_AS_DOUBLE(a) > PyFloat_AS_DOUBLE(b);
    return py::compare(a, b, Py_GT);
}

}  // namespace

bool PointBuffer::acquire(PyObject* spectrum) {
    if (!PyObject_CheckBuffer(spectrum)) return false;
    py::check(PyObject_GetBuffer(spectrum, &view_, PyBUF_RECORDS_RO));
    held_ = true;
    const bool layout = view_.ndim == 1 && view_.itemsize == sizeof(py::Point) && view_.format != nullptr &&
                        std::strcmp(view_.format, py::point_buffer_format) == 0 &&
                        (view_.strides == nullptr || view_.strides[0] == sizeof(py::Point));
    if (!layout) return false;
    points_ = static_cast<const py::Point*>(view_.buf);
    size_ = static_cast<std::size_t>(view_.shape[0]);
    return true;
}

PointBuffer::~PointBuffer() {
    if (held_) PyBuffer_Release(&view_);
}

void sweep_windows(const py::Point* points, std::size_t count, const XicRequests& requests,
                   const std::vector<char>& wanted, double lowest, std::vector<WindowSum>& sums) {
    std::size_t below = 0;  // every peak before it lies below the current window's low
    for (std::size_t j : requests.sweep_order) {
        if (!wanted[j]) continue;
        const XicRequest& request = requests.requests[j];
        below = first_at_or_above(points, below, count, request.low);
        double base_peak = lowest;
        WindowSum result;
        for (std::size_t k = below; k < count && !(points[k].x > request.high); ++k) {
            const double intensity = points[k].intensity;
            if (base_peak < intensity) {
                base_peak = intensity;
                result.base_mz = points[k].x;
            }
            result.sum = result.sum + intensity;
        }
        sums[j] = result;
    }
}

GenericPoints::GenericPoints(PyObject* spectrum, const PointBuffer* buffer)
    : spectrum_(spectrum), buffer_(buffer), size_(buffer ? buffer->size() : py::length(spectrum)) {}

const GenericPoints::Peak& GenericPoints::peak(std::size_t k) {
    while (fetched_.size() <= k) {
        if (buffer_ != nullptr) {
            const py::Point& point = buffer_->points()[fetched_.size()];
            fetched_.push_back({py::from_double(point.x), py::from_double(point.intensity)});
            continue;
        }
        py::Ref position = py::from_size(static_cast<Py_ssize_t>(fetched_.size()));
        py::Ref record = py::Ref::checked(PyObject_GetItem(spectrum_, position.get()));
        Peak fetched{py::get_attr(record.get(), names::x), py::get_attr(record.get(), names::intensity)};
        fetched_.push_back(std::move(fetched));
    }
    return fetched_[k];
}

WindowSum GenericPoints::scan(const XicRequest& request, double lowest) {
    py::Ref low = request.low_object.copy();
    py::Ref high = request.high_object.copy();
    py::Ref base_peak = py::from_double(lowest);
    double base_peak_value = lowest;
    WindowSum result;
    for (std::size_t k = 0; k < size_; ++k) {
        const Peak& p = peak(k);
        if (!low) low = py::get_attr(request.window.get(), names::min);
        if (less(p.x.get(), low.get())) continue;
        if (!high) high = py::get_attr(request.window.get(), names::max);
        if (greater(p.x.get(), high.get())) break;
        const bool higher = PyFloat_CheckExact(p.intensity.get()) ? base_peak_value < PyFloat_AS_DOUBLE(p.intensity.get())
                                                                   : less(base_peak.get(), p.intensity.get());
        const double intensity = py::as_double(p.intensity.get());
        if (higher) {
            base_peak_value = intensity;
            base_peak = py::from_double(intensity);
            result.base_mz = py::as_double(p.x.get());
        }
        result.sum = result.sum + intensity;
    }
    return result;
}

}  // namespace ozra::qual
