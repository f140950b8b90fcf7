#include "python/types.hpp"

#include "python/args.hpp"
#include "python/entry.hpp"

#include <cstring>

namespace ozra::py {

PyTypeObject* add_type(PyObject* module, PyType_Spec* spec) {
    Ref type = Ref::checked(PyType_FromModuleAndSpec(module, spec, nullptr));
    const char* dot = strrchr(spec->name, '.');
    check(PyModule_AddObjectRef(module, dot ? dot + 1 : spec->name, type.get()));
    return reinterpret_cast<PyTypeObject*>(Kept(std::move(type)).get());
}

namespace {

// The ImportError of `from module_name import name` for a name the module lacks,
// worded as the interpreter words it.
[[noreturn]] void raise_cannot_import(PyObject* source, const char* module_name, const char* name) {
    Ref location = Ref::steal(PyModule_GetFilenameObject(source));
    if (!location) PyErr_Clear();  // no file: "unknown location", as the interpreter says
    Ref message = Ref::checked(
        location ? PyUnicode_FromFormat("cannot import name '%s' from '%s' (%U)", name, module_name, location.get())
                 : PyUnicode_FromFormat("cannot import name '%s' from '%s' (unknown location)", name, module_name));
    Ref module_name_object = Ref::checked(PyUnicode_FromString(module_name));
    PyErr_SetImportError(message.get(), module_name_object.get(), location.get());
    throw_error();
}

}  // namespace

void bind_import(PyObject* module, const char* module_name, const char* name) {
    Ref source = Ref::checked(PyImport_ImportModule(module_name));
    Ref value = Ref::steal(PyObject_GetAttrString(source.get(), name));
    if (!value) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_error();
        PyErr_Clear();
        raise_cannot_import(source.get(), module_name, name);
    }
    check(PyModule_AddObjectRef(module, name, value.get()));
}

Ref module_global(PyObject* module, PyObject* name) {
    PyObject* value = PyDict_GetItemWithError(PyModule_GetDict(module), name);
    if (value == nullptr) {
        if (!PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
        throw_error();
    }
    return Ref::borrow(value);
}

Kept intern(const char* text) { return Kept(Ref::checked(PyUnicode_InternFromString(text))); }

Ref allocate(PyTypeObject* cls) { return Ref::checked(cls->tp_alloc(cls, 0)); }

PyObject* protected_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
    return guard([&]() -> Ref {
        static const Parameters parameters("__new__", {}, 0);
        parse_arguments<0>(parameters, args, kwargs);
        raise_exception("Inaccessible due to protection level");
    });
}

PyObject* require_field(PyObject* field, PyObject* owner, const char* mangled_name) {
    if (field == nullptr) {
        PyErr_Format(PyExc_AttributeError, "'%.100s' object has no attribute '%s'", Py_TYPE(owner)->tp_name,
                     mangled_name);
        throw_error();
    }
    return field;
}

PyTypeObject* as_class(PyObject* cls) {
    if (!PyType_Check(cls)) raise(PyExc_TypeError, "a class method needs a class");
    return reinterpret_cast<PyTypeObject*>(cls);
}

}  // namespace ozra::py
