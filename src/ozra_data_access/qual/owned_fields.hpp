// Objects whose state is a run of owned PyObject* fields: what their slots share.
#pragma once

#include "ref.hpp"

#include <cstddef>

namespace ozra::qual {

// Replaces a field (which may still be NULL in a fresh object) by a new reference to `value`.
inline void store(PyObject*& field, PyObject* value) {
    Py_INCREF(value);
    Py_XSETREF(field, value);
}

inline void store_none(PyObject** fields, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) store(fields[i], Py_None);
}

inline int visit_fields(PyObject* self, PyObject* const* fields, std::size_t count, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    for (std::size_t i = 0; i < count; ++i) Py_VISIT(fields[i]);
    return 0;
}

inline void clear_fields(PyObject** fields, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) Py_CLEAR(fields[i]);
}

// tp_dealloc of a collectable heap type (and of its subclasses made in Python).
inline void dealloc_collectable(PyObject* self, inquiry clear) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    clear(self);
    type->tp_free(self);
    Py_DECREF(type);
}

// A field as its public property gives it. A subclass may override the
// property, so for its instances the property itself is asked.
inline py::Ref public_value(PyObject* self, PyTypeObject* own_type, PyObject* field, PyObject* property) {
    if (Py_TYPE(self) == own_type) return py::Ref::borrow(field);
    return py::get_attr(self, property);
}

// The closure of a field's getter: its index.
inline void* index_closure(std::size_t index) { return reinterpret_cast<void*>(index); }
inline std::size_t closure_index(void* closure) { return reinterpret_cast<std::size_t>(closure); }

}  // namespace ozra::qual
