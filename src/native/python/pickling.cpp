#include "python/pickling.hpp"

#include "python/object_fields.hpp"

namespace ozra::py {
namespace {

Ref fields_tuple(PyObject* const* fields, std::size_t count) {
    Ref tuple = Ref::checked(PyTuple_New(static_cast<Py_ssize_t>(count)));
    for (std::size_t i = 0; i < count; ++i) PyTuple_SET_ITEM(tuple.get(), i, Ref::borrow(fields[i]).release());
    return tuple;
}

}  // namespace

Ref reduce_to_constructor(PyObject* self, PyObject* const* fields, std::size_t count) {
    Ref arguments = fields_tuple(fields, count);
    return Ref::checked(PyTuple_Pack(2, reinterpret_cast<PyObject*>(Py_TYPE(self)), arguments.get()));
}

Ref reduce_to_state(PyObject* self, PyObject* const* fields, std::size_t count) {
    Ref copyreg = Ref::checked(PyImport_ImportModule("copyreg"));
    Ref new_object = Ref::checked(PyObject_GetAttrString(copyreg.get(), "__newobj__"));
    Ref arguments = Ref::checked(PyTuple_Pack(1, reinterpret_cast<PyObject*>(Py_TYPE(self))));
    Ref state = fields_tuple(fields, count);
    return Ref::checked(PyTuple_Pack(3, new_object.get(), arguments.get(), state.get()));
}

void restore_state(PyObject* self, PyObject** fields, std::size_t count, PyObject* state) {
    if (!PyTuple_Check(state) || PyTuple_GET_SIZE(state) != static_cast<Py_ssize_t>(count)) {
        PyErr_Format(PyExc_TypeError, "%.100s.__setstate__() takes a tuple of %zu values, not %.100s",
                     Py_TYPE(self)->tp_name, count, Py_TYPE(state)->tp_name);
        throw_error();
    }
    for (std::size_t i = 0; i < count; ++i) set_object_field(fields[i], PyTuple_GET_ITEM(state, i));
}

}  // namespace ozra::py
