#include "imports.hpp"

#include "entry.hpp"

namespace ozra::storage {
namespace {

Imports loaded;

// The references live for the process: dropping them at exit would run after
// the interpreter has gone.
PyObject* keep(py::Ref object) { return object.release(); }

PyObject* attribute_of_module(const char* module_name, const char* name) {
    py::Ref module = py::Ref::checked(PyImport_ImportModule(module_name));
    return keep(py::Ref::checked(PyObject_GetAttrString(module.get(), name)));
}

std::vector<std::pair<std::int64_t, PyObject*>> members_by_value(PyObject* enumeration) {
    std::vector<std::pair<std::int64_t, PyObject*>> members;
    py::Ref iterator = py::Ref::checked(PyObject_GetIter(enumeration));
    while (py::Ref member = py::Ref::steal(PyIter_Next(iterator.get()))) {
        py::Ref value = py::Ref::checked(PyObject_GetAttrString(member.get(), "value"));
        const long long number = PyLong_AsLongLong(value.get());
        if (number == -1 && PyErr_Occurred()) py::throw_error();
        members.emplace_back(number, keep(std::move(member)));
    }
    if (PyErr_Occurred()) py::throw_error();
    return members;
}

}  // namespace

const Imports& imports() { return loaded; }

void load_imports() {
    loaded.format_error = attribute_of_module("ozra_data_access.exception", "OzraFormatError");
    loaded.array_type = attribute_of_module("array", "array");

    const char* enum_module = "ozra_data_access._internal._enum";
    py::Ref symbols = py::Ref::checked(PyObject_GetAttrString(
        py::Ref::checked(PyImport_ImportModule(enum_module)).get(), "OzraSymbols"));
    for (std::size_t i = 0; i < core::marker_count; ++i) {
        loaded.symbols[i] = keep(py::Ref::checked(
            PyObject_GetAttrString(symbols.get(), core::marker_name(static_cast<core::Marker>(i)))));
    }
    for (std::size_t i = 0; i < enumeration_count; ++i) {
        py::Ref enumeration = py::Ref::checked(PyObject_GetAttrString(
            py::Ref::checked(PyImport_ImportModule(enum_module)).get(), schema::enumerations[i].class_name));
        loaded.members[i] = members_by_value(enumeration.get());
    }
}

PyObject* enumeration_member(std::uint8_t enumeration, std::int64_t value) noexcept {
    if (enumeration < 1 || enumeration > enumeration_count) return nullptr;
    for (const auto& [number, member] : loaded.members[enumeration - 1]) {
        if (number == value) return member;
    }
    return nullptr;
}

core::Marker marker_of(PyObject* symbol) {
    for (std::size_t i = 0; i < core::marker_count; ++i) {
        if (loaded.symbols[i] == symbol) return static_cast<core::Marker>(i);
    }
    PyErr_Format(PyExc_TypeError, "expected an OzraSymbols member, not %.200s", Py_TYPE(symbol)->tp_name);
    py::throw_error();
}

py::Ref new_array(const char* typecode, const void* data, std::size_t size) {
    // Py_BuildValue makes None of a null pointer, which an empty vector's data() may be.
    const void* bytes = size == 0 ? "" : data;
    return py::Ref::checked(
        PyObject_CallFunction(loaded.array_type, "sy#", typecode, bytes, static_cast<Py_ssize_t>(size)));
}

}  // namespace ozra::storage
