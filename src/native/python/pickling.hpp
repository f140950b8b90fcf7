// Pickling by value for instances whose state is a run of PyObject* fields.
#pragma once

#include "python/ref.hpp"

#include <cstddef>

namespace ozra::py {

// `__reduce__` of a class whose constructor takes its fields in order:
// (type(self), (field, ...)).
Ref reduce_to_constructor(PyObject* self, PyObject* const* fields, std::size_t count);

// `__reduce__` of a class made empty by `cls.__new__(cls)` and filled by `__setstate__`:
// (copyreg.__newobj__, (type(self),), (field, ...)).
Ref reduce_to_state(PyObject* self, PyObject* const* fields, std::size_t count);

// `__setstate__(state)`: the tuple `reduce_to_state` made, one value per field.
void restore_state(PyObject* self, PyObject** fields, std::size_t count, PyObject* state);

}  // namespace ozra::py
