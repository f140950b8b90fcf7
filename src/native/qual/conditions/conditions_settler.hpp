// The settler of an MS analysis whose acquisition conditions wait for their first use.
//
// Every record of the analysis holds the settler as its pending condition: the first
// read of a description, the unique list or a chromatogram calls it, and it makes the
// conditions of all records in one walk over their descriptions, once, whichever thread
// calls first. Another thread calling meanwhile waits for the walk's end with the
// interpreter lock released (the walk runs code: hashes of enumeration members, and may
// let other threads run); the walking thread itself, reaching it again, returns at once.
#pragma once

#include "python/ref.hpp"

namespace ozra::qual {

// A settler over `spectra` (the analysis's spectra: its list of records, or the
// block whose records are made when first asked for), which it holds until the walk
// ends. The settler does not hold the analysis, so that an analysis dropped
// before the walk is freed at once (see release_if_unreachable).
py::Ref new_conditions_settler(PyObject* spectra);

// The sorted unique conditions the walk made, or an empty reference when the walk has
// not ended or failed.
py::Ref settled_conditions(PyObject* settler);

// An analysis dropped while its conditions wait: its records hold the settler, which
// holds their list (a cycle the collector would free, much later). When nothing but
// the analysis (holding `spectra`) and the settler hold the spectra, and nothing else a
// record, nothing can start the walk any more: the settler lets them go, and the
// records are freed with the analysis, now. Runs no code.
void release_if_unreachable(PyObject* settler, PyObject* spectra) noexcept;

// Makes the settlers' class (not bound in the module: nothing outside makes one).
void add_conditions_settler_type(PyObject* module);

}  // namespace ozra::qual
