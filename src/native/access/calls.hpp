// Reaching the storage layer and the other modules' classes from access.
//
// Every call goes through an attribute lookup on the object (py::call_method with
// a mangled member name, interned at load), and every class through the module's
// namespace at call time, so any object offering those names can stand in.
#pragma once

#include "access_module.hpp"

namespace ozra::access {

// The object currently bound to `name` in the module (a new reference, so that
// rebinding the name during a call cannot free it under us).
inline py::Ref global(PyObject* name) { return py::Ref::borrow(module_name(name)); }

}  // namespace ozra::access
