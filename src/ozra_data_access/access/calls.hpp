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

// A private field of an access object, which is unset only if its maker failed
// part-way; reading it then raises AttributeError as a missing attribute would.
inline PyObject* require_field(PyObject* field, PyObject* owner, const char* mangled_name) {
    if (field == nullptr) {
        PyErr_Format(PyExc_AttributeError, "'%.100s' object has no attribute '%s'", Py_TYPE(owner)->tp_name,
                     mangled_name);
        py::throw_error();
    }
    return field;
}

}  // namespace ozra::access
