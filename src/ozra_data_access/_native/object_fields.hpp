// Instances laid out as PyObject_HEAD followed only by PyObject* fields: one
// traverse / clear / dealloc for all of them, and their private members.
#pragma once

#include "ref.hpp"

#include <initializer_list>
#include <utility>

namespace ozra::py {

template <class Layout>
inline constexpr Py_ssize_t object_field_count =
    static_cast<Py_ssize_t>((sizeof(Layout) - sizeof(PyObject)) / sizeof(PyObject*));

inline PyObject** object_fields(PyObject* self) {
    return reinterpret_cast<PyObject**>(reinterpret_cast<char*>(self) + sizeof(PyObject));
}

template <class Layout>
int traverse_object_fields(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    PyObject** fields = object_fields(self);
    for (Py_ssize_t i = 0; i < object_field_count<Layout>; ++i) Py_VISIT(fields[i]);
    return 0;
}

template <class Layout>
int clear_object_fields(PyObject* self) {
    PyObject** fields = object_fields(self);
    for (Py_ssize_t i = 0; i < object_field_count<Layout>; ++i) Py_CLEAR(fields[i]);
    return 0;
}

template <class Layout>
void dealloc_object_fields(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    clear_object_fields<Layout>(self);
    type->tp_free(self);
    Py_DECREF(type);
}

// Read-only members named `_<class_name>__<field>` at the given offsets, kept for
// the life of the process (the type made from them refers to the names).
PyMemberDef* private_members(const char* class_name,
                             std::initializer_list<std::pair<const char*, Py_ssize_t>> fields);

// Stores a new value in an object field, dropping the old one.
inline void set_object_field(PyObject*& field, Ref value) { Py_XSETREF(field, value.release()); }

}  // namespace ozra::py
