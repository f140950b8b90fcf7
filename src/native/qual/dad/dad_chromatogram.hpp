// Wavelength-window chromatograms and max plots of a DAD analysis.
#pragma once

#include "python/ref.hpp"

namespace ozra::qual {

// DADAnalysis.get_chromatogram(extract_wavelength_range) (dad_chromatogram.cpp).
py::Ref get_dad_chromatogram(PyObject* analysis, PyObject* extract_wavelength_range);

// DADAnalysis.get_max_plot(extract_wavelength_range, wavelength_tolerance) (dad_max_plot.cpp).
py::Ref get_max_plot(PyObject* analysis, PyObject* extract_wavelength_range, PyObject* wavelength_tolerance);

}  // namespace ozra::qual
