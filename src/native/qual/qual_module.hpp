// The extension module ozra_data_access.qual: MS and DAD analyses and conditions.
#pragma once

#include "names.hpp"
#include "ref.hpp"

namespace ozra::qual {

// The module's one state, made when the module is first loaded and kept for the
// life of the process.
struct QualState {
    QualNames names;
};

QualState& state();

// Each part adds its classes to the module at load, in this order.
void add_condition_types(PyObject* module);
void add_spectrum_types(PyObject* module);
void add_ms_analysis_types(PyObject* module);
void add_dad_analysis_types(PyObject* module);

// The object bound to `name` in the module, looked up when a method runs so that
// a test or a caller can put another object in its place. `name` must be interned.
py::Ref global(PyObject* name);

}  // namespace ozra::qual
