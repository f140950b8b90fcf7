#include "qual/analysis_common.hpp"

#include "python/entry.hpp"
#include "python/object_fields.hpp"
#include "python/types.hpp"
#include "qual/exact_numbers.hpp"
#include "qual/qual_module.hpp"
#include "qual/spectrum_walk.hpp"
#include "storage/api/storage_api.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace ozra::qual {
py::Ref qual_description_of(PyObject* function_index) {
    py::Ref function_description = py::get_attr(function_index, state().names.function_description);
    return py::get_attr(function_description.get(), state().names.qual_description);
}

py::Ref description_of(PyObject* spectrum_index) {
    return py::get_attr(spectrum_index, state().names.spectrum_index_description);
}

py::Ref retention_time_of(PyObject* description) {
    return py::get_attr(description, state().names.desc_retention_time);
}

namespace {

// The analysis keeps the records before their profile positions are set.
void publish_spectrum_index_list(PyObject* records, void* analysis_object) noexcept {
    AnalysisObject* analysis = as_analysis(static_cast<PyObject*>(analysis_object));
    py::set_object_field(analysis->spectrum_index_list, py::Ref::borrow(records));
    py::clear_field(analysis->retention_times);  // made from the records it replaces
}

}  // namespace

void read_spectrum_index_block(PyObject* self, bool lazily) {
    AnalysisObject* analysis = as_analysis(self);
    py::Ref position = py::get_attr(analysis->function_index, state().names.function_index_position);
    py::Ref create = py::get_attr(global(state().names.SpectrumIndex).get(), state().names.spectrum_index_create_instance);
    py::Ref::checked(storage::value_types_api().read_spectrum_index_block(
        analysis->reader, position.get(), create.get(), true, lazily, publish_spectrum_index_list, self));
}

py::Ref spectrum_index_at(PyObject* spectra, Py_ssize_t i) {
    return PyList_Check(spectra) ? py::list_item(spectra, i) : py::Ref::checked(PySequence_GetItem(spectra, i));
}

py::Ref read_spectrum_points(PyObject* reader, PyObject* position, PyObject* wavelengths) {
    PyObject* dad_wavelengths = wavelengths == nullptr || py::equals_none(wavelengths) ? nullptr : wavelengths;
    return py::Ref::checked(storage::value_types_api().read_spectrum_points(reader, position, dad_wavelengths));
}

double largest_finite_double() {
    py::Ref float_info = py::get_attr(global(state().names.sys).get(), state().names.float_info);
    return py::as_double(py::get_attr(float_info.get(), state().names.max).get());
}

namespace {

// The retention times of the analysis's spectra as doubles, NaN where there is
// none (NaN, like None, never comes nearer than float_info.max), with whether they
// never decrease: the tuple (bytes, bool). None when a search must use the
// interpreter's arithmetic: when some retention time is not a float, or when a
// record is not the storage layer's own, whose fields never change.
py::Ref retention_time_table(PyObject* spectra) {
    const storage::ValueTypesApi& storage = storage::value_types_api();
    const Py_ssize_t count = py::length(spectra);
    py::Ref table = py::Ref::checked(PyBytes_FromStringAndSize(nullptr, count * static_cast<Py_ssize_t>(sizeof(double))));
    auto* values = reinterpret_cast<double*>(PyBytes_AS_STRING(table.get()));
    for (Py_ssize_t i = 0; i < count; ++i) {
        // A description not built yet is not built for its retention time, nor its record made.
        if (const storage::SpectrumSummary* summary = storage.pending_at(spectra, i).summary) {
            switch (summary->kind(storage::SpectrumSummary::retention_time)) {
                case storage::StoredKind::none: values[i] = std::numeric_limits<double>::quiet_NaN(); continue;
                case storage::StoredKind::real: values[i] = summary->real(storage::SpectrumSummary::retention_time); continue;
                default: return py::Ref::none();
            }
        }
        py::Ref spectrum_index = spectrum_index_at(spectra, i);
        if (Py_TYPE(spectrum_index.get()) != storage.spectrum_index) return py::Ref::none();
        py::Ref description = description_of(spectrum_index.get());
        if (Py_TYPE(description.get()) != storage.internal_spectrum_description) return py::Ref::none();
        py::Ref rt = py::get_attr(description.get(), state().names.desc_retention_time);
        if (rt.get() == Py_None) {
            values[i] = std::numeric_limits<double>::quiet_NaN();
        } else if (PyFloat_CheckExact(rt.get())) {
            values[i] = PyFloat_AS_DOUBLE(rt.get());
        } else {
            return py::Ref::none();
        }
    }
    // NaN is not ordered: a table holding one is searched linearly.
    bool sorted = true;
    for (Py_ssize_t i = 0; i < count && sorted; ++i) {
        sorted = !std::isnan(values[i]) && (i == 0 || values[i - 1] <= values[i]);
    }
    return py::Ref::checked(PyTuple_Pack(2, table.get(), sorted ? Py_True : Py_False));
}

// The rule itself: the first position whose |rt - target| is smaller than every
// earlier one and than `largest`.
Py_ssize_t nearest_by_scan(const double* values, Py_ssize_t count, double target, double largest) {
    double min_diff = largest;
    Py_ssize_t target_index = -1;
    for (Py_ssize_t i = 0; i < count; ++i) {
        const double diff = std::fabs(values[i] - target);
        if (diff < min_diff) {
            min_diff = diff;
            target_index = i;
        }
    }
    return target_index;
}

// The same answer over retention times that never decrease (no NaN). Rounding is
// monotonic, so |rt - target| never increases up to the first rt >= target and never
// decreases from there: the smallest difference is at one of the two neighbours of
// that place, and the rule's answer is the first position with that difference
// (further left when rounding makes earlier differences equal, as it can far from
// the target).
Py_ssize_t nearest_by_bisection(const double* values, Py_ssize_t count, double target, double largest) {
    if (!std::isfinite(target)) return -1;  // every difference is infinite or NaN
    const double* end = values + count;
    const double* right = std::lower_bound(values, end, target);
    const auto diff = [target](double rt) { return std::fabs(rt - target); };
    const bool has_left = right != values;
    const double left_diff = has_left ? diff(right[-1]) : std::numeric_limits<double>::infinity();
    const double right_diff = right != end ? diff(*right) : std::numeric_limits<double>::infinity();
    const double best = std::min(left_diff, right_diff);
    if (!(best < largest)) return -1;
    if (has_left && left_diff == best) {
        const double* first = std::partition_point(values, right, [&](double rt) { return diff(rt) > best; });
        return first - values;
    }
    return right - values;
}

// The search with the interpreter's own arithmetic and comparisons.
Py_ssize_t nearest_by_interpreter(PyObject* spectra, PyObject* retention_time, double largest) {
    py::Ref min_diff = py::from_double(largest);
    Py_ssize_t target_index = -1;
    for_each_timed_spectrum(spectra, differs_from_none, [&](const TimedSpectrum& spectrum) {
        py::Ref difference = py::Ref::checked(PyNumber_Subtract(spectrum.retention_time, retention_time));
        py::Ref diff = py::Ref::checked(PyNumber_Absolute(difference.get()));
        if (py::compare(diff.get(), min_diff.get(), Py_LT)) {
            min_diff = std::move(diff);
            target_index = spectrum.position;
        }
    });
    return target_index;
}

}  // namespace

Py_ssize_t nearest_spectrum_position(PyObject* self, PyObject* retention_time) {
    AnalysisObject* analysis = as_analysis(self);
    // Held: the comparisons below may run Python code that reads the analysis anew.
    const py::Ref spectra = py::Ref::borrow(analysis->spectrum_index_list);
    const double largest = largest_finite_double();
    if (analysis->retention_times == nullptr) analysis->retention_times = retention_time_table(spectra.get()).release();
    const std::optional<double> target = exact_double(retention_time);
    if (!PyTuple_Check(analysis->retention_times) || !target) {
        return nearest_by_interpreter(spectra.get(), retention_time, largest);
    }
    // Float arithmetic on doubles: what the interpreter would compute, without its objects.
    PyObject* table = PyTuple_GET_ITEM(analysis->retention_times, 0);
    const auto* values = reinterpret_cast<const double*>(PyBytes_AS_STRING(table));
    const Py_ssize_t count = PyBytes_GET_SIZE(table) / static_cast<Py_ssize_t>(sizeof(double));
    if (PyTuple_GET_ITEM(analysis->retention_times, 1) == Py_True) {
        return nearest_by_bisection(values, count, *target, largest);
    }
    return nearest_by_scan(values, count, *target, largest);
}

ChromatogramPoints::ChromatogramPoints()
    : point_class_(global(state().names.SpectrumBasedChromatogramPoint)),
      native_(point_class_.get() == reinterpret_cast<PyObject*>(storage::value_types_api().chromatogram_point)) {}

namespace {

// A point of the native class, its values set as its constructor sets them. It is
// known to the collector only when it keeps an object: a point of numbers, like a
// tuple of numbers, can never be part of a cycle.
template <class SetValues>
py::Ref native_point(SetValues&& set_values) {
    py::Ref point = storage::new_chromatogram_point(storage::value_types_api().chromatogram_point);
    auto* values = reinterpret_cast<storage::ChromatogramPointObject*>(point.get());
    set_values(values);
    if (storage::point_keeps_objects(values)) PyObject_GC_Track(point.get());
    return point;
}

}  // namespace

py::Ref ChromatogramPoints::make(PyObject* spectrum_index, PyObject* retention_time, PyObject* intensity,
                                 PyObject* x) const {
    if (native_) {
        return native_point([&](storage::ChromatogramPointObject* point) {
            storage::set_point_value(point, storage::point_spectrum_index, spectrum_index);
            storage::set_point_value(point, storage::point_retention_time, retention_time);
            storage::set_point_value(point, storage::point_intensity, intensity);
            storage::set_point_value(point, storage::point_x, x);
        });
    }
    PyObject* args[] = {spectrum_index, retention_time, intensity, x};
    return py::Ref::checked(PyObject_Vectorcall(point_class_.get(), args, 4, nullptr));
}

py::Ref ChromatogramPoints::make(PyObject* spectrum_index, PyObject* retention_time, double intensity,
                                 double x) const {
    if (native_) {
        return native_point([&](storage::ChromatogramPointObject* point) {
            storage::set_point_value(point, storage::point_spectrum_index, spectrum_index);
            storage::set_point_value(point, storage::point_retention_time, retention_time);
            storage::set_point_real(point, storage::point_intensity, intensity);
            storage::set_point_real(point, storage::point_x, x);
        });
    }
    py::Ref intensity_object = py::from_double(intensity);
    py::Ref x_object = py::from_double(x);
    return make(spectrum_index, retention_time, intensity_object.get(), x_object.get());
}

py::Ref make_chromatogram_point(PyObject* spectrum_index, PyObject* retention_time, PyObject* intensity,
                                PyObject* x) {
    return ChromatogramPoints().make(spectrum_index, retention_time, intensity, x);
}

}  // namespace ozra::qual
