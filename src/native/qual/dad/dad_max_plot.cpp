// DADAnalysis.get_max_plot: the tolerance mean around each spectrum's maximum in the window.
#include "qual/dad/dad_chromatogram.hpp"

#include "qual/dad/dad_max_plot_search.hpp"
#include "qual/dad/dad_walk.hpp"
#include "qual/exact_numbers.hpp"
#include "qual/points_view.hpp"
#include "qual/qual_module.hpp"

#include <cmath>
#include <optional>

namespace ozra::qual {
namespace {

// The window's ends read from the range object at every comparison and compared
// with the point's wavelength as numbers, as the interpreter compares them.
class RangeWindow {
public:
    explicit RangeWindow(PyObject* range) : range_(range) {}
    bool below(double x) const { return compare_with_bound(x, state().names.min, Py_LT); }
    bool above(double x) const { return compare_with_bound(x, state().names.max, Py_GT); }

private:
    bool compare_with_bound(double x, PyObject* bound_name, int op) const {
        py::Ref wavelength = py::from_double(x);
        py::Ref bound = py::get_attr(range_, bound_name);
        return py::compare(wavelength.get(), bound.get(), op);
    }
    PyObject* range_;
};

// The native ValueRange cannot change, so its ends may be read once; any other
// range object is asked at every comparison.
std::optional<FixedWindow> fixed_window(PyObject* range) {
    if (Py_TYPE(range) != storage::value_types_api().value_range) return std::nullopt;
    const auto* fields = reinterpret_cast<const storage::ValueRangeObject*>(range);
    const std::optional<double> min = exact_double(fields->min);
    const std::optional<double> max = exact_double(fields->max);
    if (!min || !max) return std::nullopt;
    return FixedWindow{*min, *max};
}

// XicInfo.__create_instance(ValueRange(r.min - tol, r.max + tol)).
py::Ref widened_extraction_record(PyObject* range, PyObject* tolerance) {
    py::Ref min = py::get_attr(range, state().names.min);
    py::Ref max = py::get_attr(range, state().names.max);
    py::Ref low = py::Ref::checked(PyNumber_Subtract(min.get(), tolerance));
    py::Ref high = py::Ref::checked(PyNumber_Add(max.get(), tolerance));
    PyObject* bounds[] = {low.get(), high.get()};
    py::Ref widened = py::Ref::checked(PyObject_Vectorcall(global(state().names.ValueRange).get(), bounds, 2, nullptr));
    py::Ref create = py::get_attr(global(state().names.XicInfo).get(), state().names.xic_info_create_instance);
    return py::Ref::checked(PyObject_CallOneArg(create.get(), widened.get()));
}

// Readies the record for the next read: no early stop, no points.
void reset_extraction_record(PyObject* xic_info) {
    py::set_attr(xic_info, state().names.xic_info_is_break_to_read, Py_False);
    py::Ref points = py::get_attr(xic_info, state().names.xic_info_spectrum_point);
    py::Ref::checked(PyObject_CallMethodNoArgs(points.get(), state().names.clear));
}

void read_for_extraction(PyObject* reader, PyObject* xic_arr, PyObject* wavelengths) {
    if (py::equals_none(wavelengths)) {
        py::Ref::checked(PyObject_CallMethodOneArg(reader, state().names.read_spectrum_for_multiple_xic, xic_arr));
    } else {
        PyObject* args[] = {reader, xic_arr, wavelengths};
        py::Ref::checked(PyObject_VectorcallMethod(state().names.read_dad_spectrum_for_multiple_xic, args,
                                                   3 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    }
}

}  // namespace

py::Ref get_max_plot(PyObject* analysis, PyObject* extract_wavelength_range, PyObject* wavelength_tolerance) {
    const double tolerance = py::as_double(wavelength_tolerance);
    py::Ref tolerance_object = py::from_double(tolerance);
    py::Ref xic_info = widened_extraction_record(extract_wavelength_range, tolerance_object.get());
    py::Ref xic_arr = py::new_list();
    py::append(xic_arr.get(), xic_info.get());

    const std::optional<FixedWindow> fixed = fixed_window(extract_wavelength_range);
    RangeWindow asked(extract_wavelength_range);
    py::Ref no_intensity = py::from_long(0);
    py::Ref no_wavelength = py::from_long(-1);
    PyObject* reader = as_analysis(analysis)->reader;
    for_each_timed_spectrum(analysis, [&](const TimedSpectrum& spectrum) {
        py::Ref position = py::get_attr(spectrum.spectrum_index, state().names.spectrum_index_position);
        {
            const storage::ReaderHold hold(reader);
            py::Ref::checked(PyObject_CallMethodOneArg(reader, state().names.set_buffer, position.get()));
            reset_extraction_record(xic_info.get());
            py::Ref wavelengths = wavelength_array_of(analysis);
            read_for_extraction(reader, xic_arr.get(), wavelengths.get());
        }

        MaxPlotValue value;
        {
            py::Ref points = py::get_attr(xic_info.get(), state().names.xic_info_spectrum_point);
            const PointsView view(points.get());
            value = fixed ? max_plot_value(view.data(), view.size(), *fixed, tolerance)
                          : max_plot_value(view.data(), view.size(), asked, tolerance);
        }
        py::Ref intensity = value.count > 0 ? py::from_double(value.sum / static_cast<double>(value.count))
                                            : no_intensity.copy();
        py::Ref wavelength = value.found ? py::from_double(value.wavelength) : no_wavelength.copy();
        py::Ref index = py::get_attr(spectrum.description, state().names.desc_index);
        py::Ref point = make_chromatogram_point(index.get(), spectrum.retention_time, intensity.get(), wavelength.get());
        py::Ref chromatogram = py::get_attr(xic_info.get(), state().names.xic_info_xic);
        py::append(chromatogram.get(), point.get());
    });
    return py::get_attr(xic_info.get(), state().names.xic_info_xic);
}

}  // namespace ozra::qual
