// The points of one spectrum: SpectrumPoints, a read-only sequence of
// contiguous (x, intensity) doubles with the buffer protocol, and SpectrumPoint,
// the small record its indexing returns.
#pragma once

#include "core/spectrum_payload.hpp"
#include "python/ref.hpp"
#include "storage/api/storage_api.hpp"

#include <cstddef>

namespace ozra::storage {

static_assert(sizeof(core::PointPair) == sizeof(storage::Point) && offsetof(core::PointPair, intensity) ==
                                                                   offsetof(storage::Point, intensity));

// A new points object of `count` points, which the caller fills through `points`.
py::Ref new_spectrum_points(std::size_t count, core::PointPair** points);
// A new SpectrumPoint record.
py::Ref new_spectrum_point(double x, double intensity);

// Creates both classes (kept in the module state).
void add_spectrum_point_types(PyObject* module);

}  // namespace ozra::storage
