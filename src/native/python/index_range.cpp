#include "python/index_range.hpp"

#include "python/entry.hpp"

namespace ozra::py {

bool out_of_range(PyObject* index, PyObject* count) {
    Ref zero = from_long(0);
    return compare(index, zero.get(), Py_LT) || compare(index, count, Py_GE);
}

void check_index(PyObject* index, Py_ssize_t count) {
    Ref bound = from_size(count);
    if (out_of_range(index, bound.get())) raise_exception("Index out of range");
}

}  // namespace ozra::py
