#include "storage/imports.hpp"

#include "python/args.hpp"
#include "python/entry.hpp"

#include <cstring>

namespace ozra::storage {
namespace {

Imports loaded;

py::Kept attribute_of_module(const char* module_name, const char* name) {
    py::Ref module = py::Ref::checked(PyImport_ImportModule(module_name));
    return py::Kept(py::Ref::checked(PyObject_GetAttrString(module.get(), name)));
}

// ImportError when the enumeration has more members than the `known` ones of the format's tables.
void refuse_unknown_members(PyObject* enumeration, std::size_t known, const char* class_name) {
    if (py::length(enumeration) != static_cast<Py_ssize_t>(known)) {
        PyErr_Format(PyExc_ImportError, "%s has members the format's tables do not know", class_name);
        py::throw_error();
    }
}

// The members of an enumeration class named by the format's tables; ImportError
// when the class does not hold exactly those members with those values.
std::vector<py::Kept> members_of(PyObject* enumeration, const schema::EnumerationSchema& expected) {
    std::vector<py::Kept> members;
    for (const schema::EnumerationMember& entry : expected.members) {
        py::Ref member = py::Ref::checked(PyObject_GetAttrString(enumeration, entry.name));
        py::Ref value = py::Ref::checked(PyObject_GetAttrString(member.get(), "value"));
        const long long number = py::as_long_long(value.get());
        if (number != entry.value) {
            PyErr_Format(PyExc_ImportError, "%s.%s is %lld, not %d as the format's tables say", expected.class_name,
                         entry.name, number, static_cast<int>(entry.value));
            py::throw_error();
        }
        members.emplace_back(std::move(member));
    }
    refuse_unknown_members(enumeration, members.size(), expected.class_name);
    return members;
}

// OzraSymbols' members in the order of the format's markers; ImportError when the
// class does not hold exactly those markers with those bytes.
std::array<py::Kept, core::marker_count> symbols_of(PyObject* enumeration) {
    std::array<py::Kept, core::marker_count> symbols;
    for (std::size_t i = 0; i < core::marker_count; ++i) {
        const schema::MarkerSchema& marker = schema::markers[i];
        py::Ref member = py::Ref::checked(PyObject_GetAttrString(enumeration, marker.symbol));
        py::Ref value = py::Ref::checked(PyObject_GetAttrString(member.get(), "value"));
        const bool same = PyBytes_Check(value.get()) &&
                          PyBytes_GET_SIZE(value.get()) == static_cast<Py_ssize_t>(core::marker_size) &&
                          std::memcmp(PyBytes_AS_STRING(value.get()), marker.bytes.data(), core::marker_size) == 0;
        if (!same) {
            PyErr_Format(PyExc_ImportError, "OzraSymbols.%s is %R, not b'%.4s' as the format's tables say",
                         marker.symbol, value.get(), reinterpret_cast<const char*>(marker.bytes.data()));
            py::throw_error();
        }
        symbols[i] = py::Kept(std::move(member));
    }
    refuse_unknown_members(enumeration, core::marker_count, "OzraSymbols");
    return symbols;
}

}  // namespace

const Imports& imports() { return loaded; }

void load_imports() {
    loaded.format_error = attribute_of_module("ozra_data_access.exception", "OzraFormatError");
    loaded.array_type = attribute_of_module("array", "array");

    const char* enum_module = "ozra_data_access._internal._enum";
    py::Ref symbols = py::Ref::checked(PyObject_GetAttrString(
        py::Ref::checked(PyImport_ImportModule(enum_module)).get(), "OzraSymbols"));
    loaded.symbols = symbols_of(symbols.get());
    for (std::size_t i = 0; i < enumeration_count; ++i) {
        py::Ref enumeration = py::Ref::checked(PyObject_GetAttrString(
            py::Ref::checked(PyImport_ImportModule(enum_module)).get(), schema::enumerations[i].class_name));
        loaded.members[i] = members_of(enumeration.get(), schema::enumerations[i]);
    }
}

PyObject* enumeration_member(std::uint8_t enumeration, std::int64_t value) noexcept {
    if (enumeration < 1 || enumeration > enumeration_count) return nullptr;
    const auto& members = schema::enumerations[enumeration - 1].members;
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (members[i].value == value) return loaded.members[enumeration - 1][i];
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
