// The index test of every getter that takes a position.
//
// `index < 0` is tested first, then `index >= count`, with the interpreter's
// comparisons: an index that cannot be compared with an int raises their
// TypeError, and a negative position never counts from the end.
#pragma once

#include "python/ref.hpp"

namespace ozra::py {

bool out_of_range(PyObject* index, PyObject* count);

// Raises Exception("Index out of range") when `index` is outside 0 to count - 1.
void check_index(PyObject* index, Py_ssize_t count);

}  // namespace ozra::py
