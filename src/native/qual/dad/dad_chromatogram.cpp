// DADAnalysis.get_chromatogram: one window mean per spectrum with a retention time.
#include "qual/dad/dad_chromatogram.hpp"

#include "python/allow_threads.hpp"
#include "qual/dad/dad_walk.hpp"
#include "qual/dad/dad_window_mean.hpp"
#include "qual/points_view.hpp"
#include "qual/qual_module.hpp"

namespace ozra::qual {
namespace {

// From this many points on, a window mean takes longer than handing the interpreter
// lock to a waiting thread and back (see the storage layer's reads).
constexpr std::size_t released_mean_points = 16384;

}  // namespace

py::Ref get_dad_chromatogram(PyObject* analysis, PyObject* extract_wavelength_range) {
    py::Ref result = py::new_list();
    py::Ref missed_intensity = py::from_double(0.0);
    py::Ref missed_wavelength = py::from_double(-1.0);
    for_each_timed_spectrum(analysis, [&](const TimedSpectrum& spectrum) {
        py::Ref position = py::get_attr(spectrum.spectrum_index, state().names.spectrum_index_position);
        py::Ref wavelengths = wavelength_array_of(analysis);
        py::Ref points = read_spectrum_points(as_analysis(analysis)->reader, position.get(), wavelengths.get());
        const double min = py::as_double(py::get_attr(extract_wavelength_range, state().names.min).get());
        const double max = py::as_double(py::get_attr(extract_wavelength_range, state().names.max).get());

        std::optional<WindowMean> mean;
        {
            const PointsView view(points.get());
            // The storage layer's own points cannot change: a long mean needs no interpreter lock.
            const bool release = view.size() >= released_mean_points &&
                                 Py_IS_TYPE(points.get(), storage::value_types_api().spectrum_points);
            mean = py::run_released_if(release, [&] { return window_mean(view.data(), view.size(), min, max); });
        }
        py::Ref index = py::get_attr(spectrum.description, state().names.desc_index);
        py::Ref intensity = mean ? py::from_double(mean->intensity) : missed_intensity.copy();
        py::Ref wavelength = mean ? py::from_double(mean->wavelength) : missed_wavelength.copy();
        py::Ref point = make_chromatogram_point(index.get(), spectrum.retention_time, intensity.get(), wavelength.get());
        py::append(result.get(), point.get());
    });
    return result;
}

}  // namespace ozra::qual
