// ChromatogramFilterOption: the request of an extracted-ion chromatogram.
#pragma once

#include "python/ref.hpp"

namespace ozra::qual {

void add_chromatogram_filter_option_type(PyObject* module);

}  // namespace ozra::qual
