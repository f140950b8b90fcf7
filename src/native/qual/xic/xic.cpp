// QualAnalysis.get_multiple_xic and get_xic_matrix: every request served by one pass
// over the spectra (xic_pass.hpp), the results laid out as point lists or as a matrix.
#include "qual/xic/xic.hpp"

#include "python/allow_threads.hpp"
#include "python/entry.hpp"
#include "qual/analysis_common.hpp"
#include "qual/qual_module.hpp"
#include "qual/xic/xic_pass.hpp"
#include "storage/api/storage_api.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

namespace ozra::qual {
namespace {

// From this many windows of one spectrum on, their sums take longer than handing
// the interpreter lock to a waiting thread and back (see the storage layer's reads).
constexpr std::size_t released_window_count = 32;

// The storage layer's own points: in increasing x, and out of reach of other threads'
// Python code.
bool is_storage_points(PyObject* spectrum) {
    return Py_IS_TYPE(spectrum, storage::value_types_api().spectrum_points);
}

// The native points of one spectrum's windows. Its spectrum index and retention time
// are converted once and copied into each point, as the class's constructor would
// set them; the fields that stay objects are set point by point.
class SpectrumChromatogramPoints {
public:
    SpectrumChromatogramPoints(PyObject* spectrum_index, PyObject* retention_time)
        : type_(storage::value_types_api().chromatogram_point), values_{spectrum_index, retention_time} {
        for (int field : shared_fields) {
            storage::set_point_value(&converted_, field, values_[field]);
            // An object is not copied: each point takes its own reference.
            if (converted_.kinds[field] == storage::PointValueKind::object) {
                py::Ref taken = py::Ref::steal(converted_.values[field].object);
                copied_ = false;
            }
        }
    }

    py::Ref make(const WindowSum& window) const {
        py::Ref point = storage::new_chromatogram_point(type_);
        auto* values = reinterpret_cast<storage::ChromatogramPointObject*>(point.get());
        for (int field : shared_fields) {
            if (copied_) {
                values->values[field] = converted_.values[field];
                values->kinds[field] = converted_.kinds[field];
            } else {
                storage::set_point_value(values, field, values_[field]);
            }
        }
        storage::set_point_real(values, storage::point_intensity, window.sum);
        storage::set_point_real(values, storage::point_x, window.base_mz);
        // Known to the collector only when it keeps an object, as the class's own points.
        if (storage::point_keeps_objects(values)) PyObject_GC_Track(point.get());
        return point;
    }

private:
    static constexpr int shared_fields[] = {storage::point_spectrum_index, storage::point_retention_time};
    PyTypeObject* type_;
    PyObject* values_[2];  // borrowed for the spectrum's points
    storage::ChromatogramPointObject converted_{};
    bool copied_ = true;
};

// The points of a call, kept in the order made (spectrum by spectrum) with their
// requests, then dealt into one list per request: appending each point to its
// request's list as it is made touches a cache line per request for every spectrum.
class MadePoints {
public:
    explicit MadePoints(std::size_t requests) : counts_(requests, 0) {
        if (requests > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
    }

    void add(std::size_t request, py::Ref point) {
        points_.push_back(std::move(point));
        requests_.push_back(static_cast<std::uint32_t>(request));
        ++counts_[request];
    }

    void reserve(std::size_t points) {
        points_.reserve(points);
        requests_.reserve(points);
    }

    // One list per request, its points in the order made.
    py::Ref lists() {
        py::Ref results = py::new_list(static_cast<Py_ssize_t>(counts_.size()));
        std::vector<PyObject**> next(counts_.size());  // where each list's next point goes
        for (std::size_t j = 0; j < counts_.size(); ++j) {
            py::Ref chromatogram = py::new_list(static_cast<Py_ssize_t>(counts_[j]));
            next[j] = reinterpret_cast<PyListObject*>(chromatogram.get())->ob_item;
            PyList_SET_ITEM(results.get(), j, chromatogram.release());
        }
        for (std::size_t k = 0; k < points_.size(); ++k) *next[requests_[k]]++ = points_[k].release();
        return results;
    }

private:
    std::vector<py::Ref> points_;
    std::vector<std::uint32_t> requests_;
    std::vector<std::size_t> counts_;
};

}  // namespace

py::Ref get_multiple_xic(PyObject* analysis, PyObject* chromatogram_filter_options) {
    XicPass pass(analysis, chromatogram_filter_options);
    MadePoints made(pass.request_count());
    made.reserve(pass.fixed_window_count());
    const ChromatogramPoints points;
    std::vector<WindowSum> sums;
    py::SignalCheck signals;
    for (const Candidate& candidate : pass.candidates()) {
        signals.tick();
        py::Ref spectrum = pass.read_points(candidate);
        PointBuffer buffer;
        const bool native = buffer.acquire(spectrum.get());
        // Windows over the storage layer's own points, whose points are made without a
        // Python call, are swept after the tests, together, with the interpreter lock
        // released: nothing another thread does can change them.
        const bool sweep = native && points.native() && candidate.index && is_storage_points(spectrum.get());
        py::Ref index = candidate.index.copy();
        const std::vector<SweptWindow>& windows = pass.test(
            candidate, spectrum.get(), native ? &buffer : nullptr, sweep, [&](std::size_t j, const WindowSum& window) {
                if (!index) index = py::get_attr(candidate.description.get(), state().names.desc_index);
                made.add(j, points.make(index.get(), candidate.retention_time.get(), window.sum, window.base_mz));
            });
        if (windows.empty()) continue;
        sums.resize(windows.size());
        py::run_released_if(windows.size() >= released_window_count, [&] {
            sweep_windows(buffer, true, windows, pass.lowest(),
                          [&](std::size_t k, const WindowSum& window) { sums[k] = window; });
        });
        const SpectrumChromatogramPoints spectrum_points(index.get(), candidate.retention_time.get());
        for (std::size_t k = 0; k < windows.size(); ++k) made.add(windows[k].request, spectrum_points.make(sums[k]));
    }
    return made.lists();
}

namespace {

template <class Value>
Value* column_data(const py::Ref& bytes) {
    return reinterpret_cast<Value*>(PyByteArray_AS_STRING(bytes.get()));
}

py::Ref new_column(std::size_t count, std::size_t item_size) {
    return py::Ref::checked(PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(count * item_size)));
}

}  // namespace

py::Ref get_xic_matrix(PyObject* analysis, PyObject* chromatogram_filter_options) {
    XicPass pass(analysis, chromatogram_filter_options);
    const std::size_t rows = pass.request_count();
    const std::size_t columns = pass.candidates().size();
    if (columns != 0 && rows > static_cast<std::size_t>(PY_SSIZE_T_MAX) / sizeof(double) / columns) throw std::bad_alloc();

    // Spectrum by spectrum, so each spectrum fills one contiguous run of the matrix:
    // laid out as (spectra, requests), handed out transposed.
    py::Ref intensity = new_column(rows * columns, sizeof(double));
    py::Ref retention_time = new_column(columns, sizeof(double));
    py::Ref spectrum_index = new_column(columns, sizeof(long long));
    double* matrix = column_data<double>(intensity);

    py::SignalCheck signals;
    for (std::size_t c = 0; c < columns; ++c) {
        signals.tick();
        const Candidate& candidate = pass.candidates()[c];
        double* row = matrix + c * rows;
        column_data<double>(retention_time)[c] = py::as_double(candidate.retention_time.get());
        py::Ref index = candidate.index ? candidate.index.copy()
                                        : py::get_attr(candidate.description.get(), state().names.desc_index);
        const long long index_value = PyLong_AsLongLong(index.get());
        if (index_value == -1 && PyErr_Occurred()) py::throw_error();
        column_data<long long>(spectrum_index)[c] = index_value;

        py::Ref spectrum = pass.read_points(candidate);
        PointBuffer buffer;
        const bool native = buffer.acquire(spectrum.get());
        // NaN where the spectrum's requests leave it, unless the sweep writes them all.
        if (!(native && pass.takes_every_request(candidate))) {
            std::fill(row, row + rows, std::numeric_limits<double>::quiet_NaN());
        }
        const std::vector<SweptWindow>& windows =
            pass.test(candidate, spectrum.get(), native ? &buffer : nullptr, native,
                      [&](std::size_t j, const WindowSum& window) { row[j] = window.sum; });
        if (windows.empty()) continue;
        // The storage layer's own points and a matrix not handed out yet: no other thread reaches them.
        const bool storage_points = is_storage_points(spectrum.get());
        py::run_released_if(windows.size() >= released_window_count && storage_points, [&] {
            sweep_windows(buffer, storage_points, windows, pass.lowest(),
                          [&](std::size_t k, const WindowSum& window) { row[windows[k].request] = window.sum; });
        });
    }
    py::Ref request_count = py::from_size(static_cast<Py_ssize_t>(rows));
    return py::Ref::checked(
        PyTuple_Pack(4, retention_time.get(), spectrum_index.get(), intensity.get(), request_count.get()));
}

}  // namespace ozra::qual
