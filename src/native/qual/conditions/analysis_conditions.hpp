// The acquisition conditions of an MS analysis's spectra, made from their descriptions
// or taken from the function's stored list.
#pragma once

#include "python/ref.hpp"

namespace ozra::qual {

// Each spectrum of `spectra` (the spectrum index list) gets its own condition, made
// from its description; the result is the sorted list of the distinct ones, the
// first of equal ones kept.
py::Ref conditions_from_descriptions(PyObject* spectra);

// The function's stored list (`stored`) as conditions, in stored order; each spectrum
// of `spectra` (the analysis's: a list of records, or a block whose records are made
// only where a description is read) gets the one its description names, shared.
py::Ref conditions_from_stored_list(PyObject* spectra, PyObject* stored);

}  // namespace ozra::qual
