// Wavelength-window chromatograms and max plots of a DAD analysis.
#pragma once

#include "ref.hpp"

namespace ozra::qual {

// DADAnalysis.get_chromatogram(extract_wavelength_range).
py::Ref get_dad_chromatogram(PyObject* analysis, PyObject* extract_wavelength_range);

// DADAnalysis.get_max_plot(extract_wavelength_range, wavelength_tolerance).
py::Ref get_max_plot(PyObject* analysis, PyObject* extract_wavelength_range, PyObject* wavelength_tolerance);

}  // namespace ozra::qual
