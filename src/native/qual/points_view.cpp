#include "qual/points_view.hpp"

#include "qual/qual_module.hpp"

namespace ozra::qual {

PointsView::PointsView(PyObject* points) {
    if (!take_buffer(points)) copy_records(points);
}

PointsView::~PointsView() {
    if (holds_buffer_) PyBuffer_Release(&buffer_);
}

bool PointsView::take_buffer(PyObject* points) {
    if (!PyObject_CheckBuffer(points)) return false;
    if (PyObject_GetBuffer(points, &buffer_, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) {
        // An exporter that cannot give this layout (a strided view, say) is read as a sequence.
        if (!py::clear_layout_refusal()) py::throw_error();
        return false;
    }
    holds_buffer_ = true;
    const Py_ssize_t count = storage::point_pair_count(points, buffer_);
    if (count < 0) {
        PyBuffer_Release(&buffer_);
        holds_buffer_ = false;
        return false;
    }
    data_ = static_cast<const storage::Point*>(buffer_.buf);
    size_ = static_cast<std::size_t>(count);
    return true;
}

void PointsView::copy_records(PyObject* points) {
    const Py_ssize_t count = py::length(points);
    copy_.reserve(static_cast<std::size_t>(count));
    PyTypeObject* native_point = storage::value_types_api().spectrum_point;
    for (Py_ssize_t j = 0; j < count; ++j) {
        py::Ref point = py::Ref::checked(PySequence_GetItem(points, j));
        if (Py_IS_TYPE(point.get(), native_point)) {
            // The storage layer's own record (the extraction reads fill their lists with
            // these): its doubles are read in place, without a float object per value.
            const auto* native = reinterpret_cast<const storage::SpectrumPointObject*>(point.get());
            copy_.push_back(storage::Point{native->x, native->intensity});
            continue;
        }
        const double x = py::as_double(py::get_attr(point.get(), state().names.x).get());
        const double intensity = py::as_double(py::get_attr(point.get(), state().names.intensity).get());
        copy_.push_back(storage::Point{x, intensity});
    }
    data_ = copy_.data();
    size_ = copy_.size();
}

}  // namespace ozra::qual
