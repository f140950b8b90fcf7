#include "qual/xic/xic_scan.hpp"

#include "qual/qual_module.hpp"

#include <algorithm>

namespace ozra::qual {
namespace {

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
    const Py_ssize_t count = storage::point_pair_count(spectrum, view_);
    if (count < 0) return false;
    points_ = static_cast<const storage::Point*>(view_.buf);
    size_ = static_cast<std::size_t>(count);
    return true;
}

PointBuffer::~PointBuffer() {
    if (held_) PyBuffer_Release(&view_);
}

WindowSum window_sum(const storage::Point* points, std::size_t count, double low, double high, double lowest) {
    const storage::Point* end = points + count;
    const storage::Point* peak = std::lower_bound(points, end, low, [](const storage::Point& p, double v) { return p.x < v; });
    return sum_from(peak, end, high, lowest);
}

GenericPoints::GenericPoints(PyObject* spectrum, const PointBuffer* buffer) : spectrum_(spectrum), buffer_(buffer) {}

const GenericPoints::Peak& GenericPoints::peak(std::size_t k) {
    while (fetched_.size() <= k) {
        if (buffer_ != nullptr) {
            const storage::Point& point = buffer_->points()[fetched_.size()];
            fetched_.push_back({py::from_double(point.x), py::from_double(point.intensity)});
            continue;
        }
        py::Ref position = py::from_size(static_cast<Py_ssize_t>(fetched_.size()));
        py::Ref record = py::Ref::checked(PyObject_GetItem(spectrum_, position.get()));
        Peak fetched{py::get_attr(record.get(), state().names.x), py::get_attr(record.get(), state().names.intensity)};
        fetched_.push_back(std::move(fetched));
    }
    return fetched_[k];
}

WindowSum GenericPoints::scan(const XicRequest& request, double lowest) {
    if (!size_) size_ = buffer_ ? buffer_->size() : static_cast<std::size_t>(py::length(spectrum_));
    py::Ref window = request.window.copy();
    py::Ref low = request.low_object.copy();
    py::Ref high = request.high_object.copy();
    py::Ref base_peak = py::from_double(lowest);
    double base_peak_value = lowest;
    WindowSum result;
    for (std::size_t k = 0; k < *size_; ++k) {
        const Peak& p = peak(k);
        if (!window) window = py::get_attr(request.option.get(), state().names.extract_mz_range);
        if (!low) low = py::get_attr(window.get(), state().names.min);
        if (less(p.x.get(), low.get())) continue;
        if (!high) high = py::get_attr(window.get(), state().names.max);
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
