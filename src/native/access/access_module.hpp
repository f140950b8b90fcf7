// The extension module ozra_data_access.access: the file object and measurements.
#pragma once

#include "ref.hpp"

namespace ozra::access {

// Adds OzraFile and Measurement to the module at load.
void add_file_types(PyObject* module);
void add_measurement_type(PyObject* module);

// The object bound to `name` in the module, looked up when a method runs so that
// a test or a caller can put another object (a stand-in reader, say) in its
// place: every class is reached through the module's namespace at call time, and
// every storage call through an attribute lookup on the object (py::call_method
// with a mangled member name, interned at load). `name` must be interned.
py::Ref global(PyObject* name);

}  // namespace ozra::access
