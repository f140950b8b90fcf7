// Extracted-ion chromatograms of an MS analysis.
#pragma once

#include "python/ref.hpp"

namespace ozra::qual {

// QualAnalysis.get_multiple_xic(chromatogram_filter_options): one point list per request.
py::Ref get_multiple_xic(PyObject* analysis, PyObject* chromatogram_filter_options);

// QualAnalysis.get_xic_matrix: (retention_time, spectrum_index, intensity, requests),
// the columns as bytearrays of float64, int64 and float64 (spectra x requests, NaN where a request
// does not use the spectrum) over the spectra get_multiple_xic would use, in order.
py::Ref get_xic_matrix(PyObject* analysis, PyObject* chromatogram_filter_options);

}  // namespace ozra::qual
