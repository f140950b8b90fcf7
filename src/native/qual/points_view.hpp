// A spectrum's points as contiguous (x, intensity) pairs of doubles.
#pragma once

#include "storage/api/storage_api.hpp"

#include <cstddef>
#include <vector>

namespace ozra::qual {

// Uses the points object's own buffer when it offers contiguous (x, intensity)
// pairs (storage::point_pair_count); otherwise reads the
// sequence through len, integer indexing and each record's `x` and `intensity`
// (converted to doubles; the storage layer's point records are read directly) into
// a copy of its own. The buffer is held until the view is destroyed.
class PointsView {
public:
    explicit PointsView(PyObject* points);
    ~PointsView();
    PointsView(const PointsView&) = delete;
    PointsView& operator=(const PointsView&) = delete;

    const storage::Point* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }

private:
    bool take_buffer(PyObject* points);
    void copy_records(PyObject* points);

    Py_buffer buffer_{};
    bool holds_buffer_ = false;
    std::vector<storage::Point> copy_;
    const storage::Point* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace ozra::qual
