// The binned map: one read of each selected spectrum, its points dropped into a grid of
// equal-width bins, so that a whole run fits a screen without handing every point out.
#include "qual/binned_map.hpp"

#include "python/allow_threads.hpp"
#include "python/args.hpp"
#include "python/entry.hpp"
#include "python/gc_pause.hpp"
#include "qual/analysis_common.hpp"
#include "qual/dad/dad_walk.hpp"
#include "qual/points_view.hpp"
#include "qual/qual_module.hpp"
#include "qual/spectrum_walk.hpp"
#include "storage/api/storage_api.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace ozra::qual {
namespace {

// A grid of 2**25 cells is 256 MB of float64: more than any screen shows.
constexpr std::size_t largest_cell_count = std::size_t{1} << 25;

// One axis: `bins` equal bins over [low, high], both ends inside (the last bin is closed).
struct Axis {
    double low = 0.0;
    double high = 0.0;
    std::size_t bins = 1;

    static constexpr std::size_t outside = std::numeric_limits<std::size_t>::max();

    // Bins per unit of the axis (0 for a window of one value, all of it in the first bin).
    double per_unit() const { return high > low ? static_cast<double>(bins) / (high - low) : 0.0; }

    std::size_t bin(double value) const {
        if (!(value >= low && value <= high)) return outside;
        return std::min(static_cast<std::size_t>((value - low) * per_unit()), bins - 1);
    }

    double edge(std::size_t i) const {
        if (i == bins) return high;
        return low + (high - low) * static_cast<double>(i) / static_cast<double>(bins);
    }
};

enum class Aggregate { max, sum };

Aggregate aggregate_from(PyObject* name) {
    if (name == nullptr) return Aggregate::max;
    if (PyUnicode_Check(name)) {
        if (PyUnicode_CompareWithASCIIString(name, "max") == 0) return Aggregate::max;
        if (PyUnicode_CompareWithASCIIString(name, "sum") == 0) return Aggregate::sum;
    }
    py::Ref shown = py::Ref::checked(PyObject_Repr(name));
    PyErr_Format(PyExc_ValueError, "get_binned_map: aggregate must be 'max' or 'sum', not %U", shown.get());
    py::throw_error();
}

std::size_t bin_count(PyObject* value, const char* parameter) {
    const Py_ssize_t count = py::as_ssize(value);
    if (count < 1) {
        PyErr_Format(PyExc_ValueError, "get_binned_map: %s must be at least 1, not %zd", parameter, count);
        py::throw_error();
    }
    return static_cast<std::size_t>(count);
}

// The window [min, max] of a range object, refused unless both ends are finite and in order.
std::optional<std::pair<double, double>> window_of(PyObject* range, const char* parameter) {
    if (py::equals_none(range)) return std::nullopt;
    const double low = py::as_double(py::get_attr(range, state().names.min).get());
    const double high = py::as_double(py::get_attr(range, state().names.max).get());
    if (!std::isfinite(low) || !std::isfinite(high) || low > high) {
        PyErr_Format(PyExc_ValueError, "get_binned_map: %s must have finite ends with min <= max, not [%R, %R]",
                     parameter, py::from_double(low).get(), py::from_double(high).get());
        py::throw_error();
    }
    return std::make_pair(low, high);
}

// A selected spectrum: where its points are and its retention time.
struct Selected {
    py::Ref position;
    double retention_time;
};

struct Request {
    PyObject* analysis;
    PyObject* condition;    // null: every spectrum (DAD analyses)
    PyObject* wavelengths;  // null: MS spectra
    std::size_t time_bins;
    std::size_t x_bins;
    std::optional<std::pair<double, double>> time_window;
    std::optional<std::pair<double, double>> x_window;
    Aggregate aggregate;
};

std::vector<Selected> select_spectra(const Request& request) {
    std::vector<Selected> selected;
    const auto keep = [&](const TimedSpectrum& spectrum) {
        if (request.condition != nullptr) {
            py::Ref condition = py::get_attr(spectrum.description, state().names.desc_acquisition_condition);
            if (!py::equals(condition.get(), request.condition)) return;
        }
        const double time = py::as_double(spectrum.retention_time);
        if (request.time_window && !(time >= request.time_window->first && time <= request.time_window->second)) return;
        selected.push_back({py::get_attr(spectrum.spectrum_index, state().names.spectrum_index_position), time});
    };
    if (request.wavelengths != nullptr) {
        for_each_timed_spectrum(request.analysis, keep);
    } else {
        const py::Ref spectra = py::Ref::borrow(as_analysis(request.analysis)->spectrum_index_list);
        for_each_timed_spectrum(spectra.get(), differs_from_none, keep);
    }
    return selected;
}

py::Ref read_points(const Request& request, const Selected& spectrum) {
    return read_spectrum_points(as_analysis(request.analysis)->reader, spectrum.position.get(), request.wavelengths);
}

bool is_storage_points(PyObject* points) { return Py_IS_TYPE(points, storage::value_types_api().spectrum_points); }

// The lowest and highest x of the selected spectra's points: one more read of each.
std::pair<double, double> x_extent(const Request& request, const std::vector<Selected>& selected) {
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    py::SignalCheck signals;
    for (const Selected& spectrum : selected) {
        signals.tick();
        py::Ref points = read_points(request, spectrum);
        const PointsView view(points.get());
        for (std::size_t k = 0; k < view.size(); ++k) {
            const double x = view.data()[k].x;
            if (std::isfinite(x)) {
                low = std::min(low, x);
                high = std::max(high, x);
            }
        }
    }
    if (low > high) py::raise(PyExc_ValueError, "get_binned_map: the selected spectra hold no point to set the x range by; give one");
    return {low, high};
}

std::pair<double, double> time_extent(const std::vector<Selected>& selected) {
    if (selected.empty()) {
        py::raise(PyExc_ValueError,
                  "get_binned_map: no spectrum with a retention time is selected to set the retention time range by; give one");
    }
    double low = selected.front().retention_time;
    double high = low;
    for (const Selected& spectrum : selected) {
        low = std::min(low, spectrum.retention_time);
        high = std::max(high, spectrum.retention_time);
    }
    return {low, high};
}

template <class Value>
Value* column_data(const py::Ref& bytes) {
    return reinterpret_cast<Value*>(PyByteArray_AS_STRING(bytes.get()));
}

py::Ref new_column(std::size_t count, std::size_t item_size) {
    return py::Ref::checked(PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(count * item_size)));
}

// The points [begin, end) into `row`; `check_x` for points not known to lie in the window. A
// point whose intensity is NaN or -inf is passed over. Without branches on the values (random
// intensities mispredict every other one): a largest value starts at -inf, and bins left at -inf
// become NaN once the whole map is made.
template <Aggregate aggregate, bool check_x>
void add_range(const storage::Point* begin, const storage::Point* end, const Axis& x_axis, double* row) {
    const double scale = x_axis.per_unit();
    const std::size_t last = x_axis.bins - 1;
    for (const storage::Point* point = begin; point != end; ++point) {
        if constexpr (check_x) {
            if (!(point->x >= x_axis.low && point->x <= x_axis.high)) continue;
        }
        const double intensity = point->intensity;
        if (!(intensity > -std::numeric_limits<double>::infinity())) continue;
        double& cell = row[std::min(static_cast<std::size_t>((point->x - x_axis.low) * scale), last)];
        if constexpr (aggregate == Aggregate::sum) {
            cell += intensity;
        } else {
            cell = std::max(cell, intensity);
        }
    }
}

// The points of one spectrum into the row of its time bin. Points in increasing x (the storage
// layer's own, found so) are taken from the first inside the window to the last, the others all.
template <Aggregate aggregate>
void add_points(const PointsView& view, const Axis& x_axis, double* row) {
    const storage::Point* begin = view.data();
    const storage::Point* end = begin + view.size();
    const bool increasing = std::is_sorted(begin, end, [](const storage::Point& a, const storage::Point& b) {
        return a.x < b.x;
    }) && (begin == end || (!std::isnan(begin->x) && !std::isnan((end - 1)->x)));
    if (!increasing) {
        add_range<aggregate, true>(begin, end, x_axis, row);
        return;
    }
    begin = std::lower_bound(begin, end, x_axis.low, [](const storage::Point& p, double x) { return p.x < x; });
    end = std::upper_bound(begin, end, x_axis.high, [](double x, const storage::Point& p) { return x < p.x; });
    add_range<aggregate, false>(begin, end, x_axis, row);
}

py::Ref binned_map(const Request& request) {
    const std::vector<Selected> selected = select_spectra(request);
    const auto [time_low, time_high] = request.time_window ? *request.time_window : time_extent(selected);
    const auto [x_low, x_high] = request.x_window ? *request.x_window : x_extent(request, selected);
    const Axis time_axis{time_low, time_high, request.time_bins};
    const Axis x_axis{x_low, x_high, request.x_bins};

    const std::size_t cells = time_axis.bins * x_axis.bins;
    py::Ref values = new_column(cells, sizeof(double));
    py::Ref spectrum_count = new_column(time_axis.bins, sizeof(std::int64_t));
    double* matrix = column_data<double>(values);
    std::int64_t* counts = column_data<std::int64_t>(spectrum_count);
    constexpr double none = -std::numeric_limits<double>::infinity();
    std::fill(matrix, matrix + cells, request.aggregate == Aggregate::sum ? 0.0 : none);
    std::fill(counts, counts + time_axis.bins, 0);

    py::SignalCheck signals;
    for (const Selected& spectrum : selected) {
        signals.tick();
        const std::size_t time_bin = time_axis.bin(spectrum.retention_time);
        if (time_bin == Axis::outside) continue;
        ++counts[time_bin];
        py::Ref points = read_points(request, spectrum);
        const PointsView view(points.get());
        // The storage layer's own points cannot change, and the grid is not handed out yet.
        double* row = matrix + time_bin * x_axis.bins;
        py::run_released_if(is_storage_points(points.get()), [&] {
            if (request.aggregate == Aggregate::sum) {
                add_points<Aggregate::sum>(view, x_axis, row);
            } else {
                add_points<Aggregate::max>(view, x_axis, row);
            }
        });
    }
    if (request.aggregate == Aggregate::max) {
        std::replace(matrix, matrix + cells, none, std::numeric_limits<double>::quiet_NaN());
    }

    py::Ref time_edges = new_column(time_axis.bins + 1, sizeof(double));
    py::Ref x_edges = new_column(x_axis.bins + 1, sizeof(double));
    for (std::size_t i = 0; i <= time_axis.bins; ++i) column_data<double>(time_edges)[i] = time_axis.edge(i);
    for (std::size_t i = 0; i <= x_axis.bins; ++i) column_data<double>(x_edges)[i] = x_axis.edge(i);
    return py::Ref::checked(
        PyTuple_Pack(4, time_edges.get(), x_edges.get(), values.get(), spectrum_count.get()));
}

// The BinnedMap of ozra_data_access.arrays made from the native columns.
py::Ref as_binned_map(const py::Ref& columns) {
    py::Ref arrays = py::Ref::checked(PyImport_ImportModule("ozra_data_access.arrays"));
    return py::call_method(arrays.get(), state().names.binned_map, PyTuple_GET_ITEM(columns.get(), 0),
                           PyTuple_GET_ITEM(columns.get(), 1), PyTuple_GET_ITEM(columns.get(), 2),
                           PyTuple_GET_ITEM(columns.get(), 3));
}

void check_cell_count(const Request& request) {
    if (request.x_bins > largest_cell_count / request.time_bins) {
        PyErr_Format(PyExc_ValueError, "get_binned_map: %zu x %zu bins exceed the %zu cells a map may have",
                     request.time_bins, request.x_bins, largest_cell_count);
        py::throw_error();
    }
}

}  // namespace

PyObject* qual_get_binned_map(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&] {
        static const py::Parameters parameters(
            "get_binned_map",
            {"acquisition_condition", "time_bins", "x_bins", "retention_time_range", "x_range", "aggregate"}, 3);
        auto parsed = py::parse_arguments<6>(parameters, args, nargs, kwnames);
        // None selects the spectra of every condition.
        const Request request{self,
                              py::equals_none(parsed[0]) ? nullptr : parsed[0],
                              nullptr,
                              bin_count(parsed[1], "time_bins"),
                              bin_count(parsed[2], "x_bins"),
                              window_of(parsed.or_none(3), "retention_time_range"),
                              window_of(parsed.or_none(4), "x_range"),
                              aggregate_from(parsed[5])};
        check_cell_count(request);
        const py::GcPause pause;
        return as_binned_map(binned_map(request));
    });
}

PyObject* dad_get_binned_map(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&] {
        static const py::Parameters parameters(
            "get_binned_map",
            {"time_bins", "wavelength_bins", "retention_time_range", "wavelength_range", "aggregate"}, 2);
        auto parsed = py::parse_arguments<5>(parameters, args, nargs, kwnames);
        py::Ref wavelengths = wavelength_array_of(self);
        const Request request{self,
                              nullptr,
                              wavelengths.get(),
                              bin_count(parsed[0], "time_bins"),
                              bin_count(parsed[1], "wavelength_bins"),
                              window_of(parsed.or_none(2), "retention_time_range"),
                              window_of(parsed.or_none(3), "wavelength_range"),
                              aggregate_from(parsed[4])};
        check_cell_count(request);
        const py::GcPause pause;
        return as_binned_map(binned_map(request));
    });
}

}  // namespace ozra::qual
