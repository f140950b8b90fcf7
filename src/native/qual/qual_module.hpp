// The extension module ozra_data_access.qual: MS and DAD analyses and conditions.
#pragma once

#include "python/ref.hpp"
#include "qual/conditions/acquisition_condition_state.hpp"
#include "qual/conditions/condition_class.hpp"
#include "qual/names.hpp"
#include "qual/numpy_scalar_types.hpp"

namespace ozra::qual {

// The module's one state, made when the module is first loaded and never destroyed:
// the interpreter's types point into it until the process ends. Everything the module
// keeps is here: its module object, interned names, created types, the enumeration
// members and numpy classes it has fetched.
struct QualState {
    py::Kept module;
    QualNames names;
    AcquisitionConditionState acquisition_condition;
    SmallConditionRegistry small_conditions;
    NumpyScalarTypes numpy_scalar_types;
    PyTypeObject* conditions_settler = nullptr;
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
