// The extension module ozra_data_access.access: the file object and measurements.
#pragma once

#include "ref.hpp"

namespace ozra::access {

// Adds OzraFile and Measurement to the module at load.
void add_file_types(PyObject* module);
void add_measurement_type(PyObject* module);

// A name bound in the module, looked up when a method runs so that a test or a
// caller can put another object (a stand-in reader, say) in its place.
// `name` must be interned. The result is borrowed.
PyObject* module_name(PyObject* name);

}  // namespace ozra::access
