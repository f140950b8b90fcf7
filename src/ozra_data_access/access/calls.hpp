// Reaching the storage layer and the other modules' classes from access.
//
// Every call goes through an attribute lookup on the object (a mangled member
// name, interned at load), and every class through the module's namespace at
// call time, so any object offering those names can stand in.
#pragma once

#include "access_module.hpp"

namespace ozra::access {

// The object currently bound to `name` in the module (a new reference, so that
// rebinding the name during a call cannot free it under us).
inline py::Ref global(PyObject* name) { return py::Ref::borrow(module_name(name)); }

// object.name(arguments...), with `name` interned.
template <class... Arguments>
py::Ref call_method(PyObject* object, PyObject* name, Arguments... arguments) {
    PyObject* stack[] = {object, arguments...};
    return py::Ref::checked(PyObject_VectorcallMethod(name, stack, 1 + sizeof...(arguments), nullptr));
}

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

// `index < 0 or index >= count`, tested in that order with the interpreter's
// comparisons (so an index that cannot be compared raises TypeError).
inline bool out_of_range(PyObject* index, PyObject* count) {
    py::Ref zero = py::from_long(0);
    return py::compare(index, zero.get(), Py_LT) || py::compare(index, count, Py_GE);
}

}  // namespace ozra::access
