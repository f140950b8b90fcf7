// Creating modules' classes and reaching other modules' names.
#pragma once

#include "python/ref.hpp"

namespace ozra::py {

// A method table entry's function, whatever its calling convention (PyMethodDef
// stores every convention as a PyCFunction).
template <class Function>
PyCFunction method_cast(Function function) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// The flags of a method taking positional and keyword arguments through Parameters.
inline constexpr int fastcall_flags = METH_FASTCALL | METH_KEYWORDS;

// Creates a heap type from `spec` and binds it in `module` under its short name.
// The type is kept for the life of the process: native code goes on making and
// testing instances through the returned pointer after the name is unbound.
PyTypeObject* add_type(PyObject* module, PyType_Spec* spec);

// `from module_name import name`, bound into `module` under the same name.
void bind_import(PyObject* module, const char* module_name, const char* name);

// The value bound to `name` in `module`'s namespace, or NameError. A new
// reference: rebinding the name while the caller uses the value cannot free it.
Ref module_global(PyObject* module, PyObject* name);

// An interned string that lives as long as the process.
Kept intern(const char* text);

// A bare instance of `cls`, made by the base allocator as object.__new__(cls)
// does: the class's own refusing __new__ is bypassed.
Ref allocate(PyTypeObject* cls);

// tp_new of the classes that only their private factory may create:
// `Cls()` raises Exception("Inaccessible due to protection level").
PyObject* protected_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs);

// A private field of `owner`, which is unset only when its maker failed part-way
// (or a subclass's own reading method did not fill it): then AttributeError, as
// for a missing attribute. `mangled_name` is the field's `_Class__name`.
PyObject* require_field(PyObject* field, PyObject* owner, const char* mangled_name);

// The class object passed to a classmethod, checked to be a type.
PyTypeObject* as_class(PyObject* cls);

}  // namespace ozra::py
