// Extracted-ion chromatograms of an MS analysis.
#pragma once

#include "ref.hpp"

namespace ozra::qual {

// QualAnalysis.get_multiple_xic(chromatogram_filter_options): one point list per request.
py::Ref get_multiple_xic(PyObject* analysis, PyObject* chromatogram_filter_options);

}  // namespace ozra::qual
