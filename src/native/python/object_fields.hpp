// Instances whose state is a run of owned PyObject* fields: one traverse /
// clear / dealloc for all of them, how a field is set and handed out by a
// property, and their private members.
#pragma once

#include "python/ref.hpp"

#include <cstddef>
#include <initializer_list>
#include <span>
#include <utility>

namespace ozra::py {

// ---- a run of `count` fields, wherever in the instance it starts ------------

// Stores a value in a field (which may still be NULL in a fresh object), dropping the old one.
inline void set_object_field(PyObject*& field, Ref value) { Py_XSETREF(field, value.release()); }
inline void set_object_field(PyObject*& field, PyObject* value) { set_object_field(field, Ref::borrow(value)); }

inline void set_fields_none(PyObject** fields, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) set_object_field(fields[i], Py_None);
}

inline int visit_fields(PyObject* self, PyObject* const* fields, std::size_t count, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    for (std::size_t i = 0; i < count; ++i) Py_VISIT(fields[i]);
    return 0;
}

// Drops a field's value, leaving it NULL.
inline void clear_field(PyObject*& field) { Py_CLEAR(field); }

inline void clear_fields(PyObject** fields, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) clear_field(fields[i]);
}

// Frees an instance of a heap type and drops the reference it holds to its type;
// the last step of every tp_dealloc (alone, that of a type owning no objects).
inline void free_instance(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

// tp_dealloc of a collectable heap type (and of its subclasses made in Python).
inline void dealloc_collectable(PyObject* self, inquiry clear) {
    PyObject_GC_UnTrack(self);
    clear(self);
    free_instance(self);
}

// ---- layouts of PyObject_HEAD followed only by PyObject* fields: their slots -

template <class Layout>
inline constexpr std::size_t object_field_count = (sizeof(Layout) - sizeof(PyObject)) / sizeof(PyObject*);

inline PyObject** object_fields(PyObject* self) {
    return reinterpret_cast<PyObject**>(reinterpret_cast<char*>(self) + sizeof(PyObject));
}

template <class Layout>
int traverse_object_fields(PyObject* self, visitproc visit, void* arg) {
    return visit_fields(self, object_fields(self), object_field_count<Layout>, visit, arg);
}

template <class Layout>
int clear_object_fields(PyObject* self) {
    clear_fields(object_fields(self), object_field_count<Layout>);
    return 0;
}

template <class Layout>
void dealloc_object_fields(PyObject* self) {
    dealloc_collectable(self, clear_object_fields<Layout>);
}

// The same for a type with a tp_finalize, which may resurrect the instance.
template <class Layout>
void dealloc_finalized_object_fields(PyObject* self) {
    if (PyObject_CallFinalizerFromDealloc(self) < 0) return;  // resurrected by the finalizer
    dealloc_object_fields<Layout>(self);
}

// ---- properties and private members ----------------------------------------

// The closure of a field's property: the field's offset in the instance.
inline void* field_closure(Py_ssize_t offset) { return reinterpret_cast<void*>(offset); }

inline PyObject*& field_at(PyObject* self, void* closure) {
    return *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(self) + reinterpret_cast<Py_ssize_t>(closure));
}

// The getter of a read-only property handing out its field itself.
inline PyObject* get_field(PyObject* self, void* closure) { return Ref::borrow(field_at(self, closure)).release(); }

// The setter of a property that stands for a read-only member: it refuses as the member does.
inline int refuse_setting(PyObject*, PyObject*, void*) {
    PyErr_SetString(PyExc_AttributeError, "readonly attribute");
    return -1;
}

// A field as its public property gives it. A subclass may override the
// property, so for its instances the property itself is asked.
inline Ref public_value(PyObject* self, PyTypeObject* own_type, PyObject* field, PyObject* property) {
    if (Py_TYPE(self) == own_type) return Ref::borrow(field);
    return get_attr(self, property);
}

// Read-only members named `_<class_name>__<field>` at the given offsets, kept for
// the life of the process (the type made from them refers to the names).
PyMemberDef* private_members(const char* class_name,
                             std::initializer_list<std::pair<const char*, Py_ssize_t>> fields);

// The same for consecutive fields, the first at `first_offset`.
PyMemberDef* private_members(const char* class_name, std::span<const char* const> fields, Py_ssize_t first_offset);

}  // namespace ozra::py
