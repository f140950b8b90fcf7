#include "python/args.hpp"

#include "python/entry.hpp"

#include <limits>

namespace ozra::py {

Parameters::Parameters(const char* function_name, std::initializer_list<const char*> names, std::size_t required)
    : function_name_(function_name), required_(required) {
    for (const char* name : names) {
        names_.emplace_back(name);
        // Interned once, at a function's first call. Keywords the caller spells as
        // literals are interned too, so pointer equality finds them; when interning
        // fails (no memory), the name is left out and found by comparing text instead.
        Ref interned = Ref::steal(PyUnicode_InternFromString(name));
        if (!interned) PyErr_Clear();
        interned_.emplace_back(std::move(interned));
    }
}

Py_ssize_t Parameters::position_of(PyObject* keyword) const {
    for (std::size_t i = 0; i < interned_.size(); ++i) {
        if (interned_[i] == keyword) return static_cast<Py_ssize_t>(i);
    }
    if (!PyUnicode_Check(keyword)) raise(PyExc_TypeError, "keywords must be strings");
    for (std::size_t i = 0; i < names_.size(); ++i) {
        if (PyUnicode_CompareWithASCIIString(keyword, names_[i].c_str()) == 0) return static_cast<Py_ssize_t>(i);
    }
    return -1;
}

void Parameters::too_many(Py_ssize_t given, bool keywords_only) const {
    PyErr_Format(PyExc_TypeError, "%.200s() takes at most %d %sargument%s (%zd given)", function_name_.c_str(),
                 static_cast<int>(names_.size()), keywords_only ? "keyword " : "", names_.size() == 1 ? "" : "s",
                 given);
    throw_error();
}

void Parameters::missing(std::size_t position) const {
    PyErr_Format(PyExc_TypeError, "%.200s() missing required argument '%s' (pos %d)", function_name_.c_str(),
                 names_[position].c_str(), static_cast<int>(position + 1));
    throw_error();
}

void Parameters::given_twice(std::size_t position) const {
    PyErr_Format(PyExc_TypeError, "argument for %.200s() given by name ('%s') and position (%d)",
                 function_name_.c_str(), names_[position].c_str(), static_cast<int>(position + 1));
    throw_error();
}

void Parameters::invalid_keyword(PyObject* keyword) const {
    PyErr_Format(PyExc_TypeError, "'%U' is an invalid keyword argument for %.200s()", keyword,
                 function_name_.c_str());
    throw_error();
}

void Parameters::parse(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) const {
    const Py_ssize_t nkeywords = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    const auto count = static_cast<Py_ssize_t>(names_.size());
    if (nargs + nkeywords > count) too_many(nargs + nkeywords, nargs == 0);
    for (Py_ssize_t i = 0; i < count; ++i) out[i] = i < nargs ? args[i] : nullptr;
    for (Py_ssize_t k = 0; k < nkeywords; ++k) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
        const Py_ssize_t position = position_of(keyword);
        if (position < 0) invalid_keyword(keyword);
        if (position < nargs || out[position] != nullptr) given_twice(static_cast<std::size_t>(position));
        out[position] = args[nargs + k];
    }
    for (std::size_t i = 0; i < required_; ++i) {
        if (out[i] == nullptr) missing(i);
    }
}

void Parameters::parse(PyObject* args, PyObject* kwargs, PyObject** out) const {
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    if (kwargs == nullptr || PyDict_GET_SIZE(kwargs) == 0) {
        parse(&PyTuple_GET_ITEM(args, 0), nargs, nullptr, out);
        return;
    }
    // Lay the keyword values out behind the positional ones, as the fast-call convention does.
    std::vector<PyObject*> stack(&PyTuple_GET_ITEM(args, 0), &PyTuple_GET_ITEM(args, 0) + nargs);
    Ref kwnames = Ref::checked(PyTuple_New(PyDict_GET_SIZE(kwargs)));
    Py_ssize_t position = 0, k = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
        Py_INCREF(key);
        PyTuple_SET_ITEM(kwnames.get(), k++, key);
        stack.push_back(value);
    }
    parse(stack.data(), nargs, kwnames.get(), out);
}

long long as_long_long(PyObject* value) {
    const long long result = PyLong_AsLongLong(value);
    if (result == -1 && PyErr_Occurred()) throw_error();
    return result;
}

Py_ssize_t as_ssize(PyObject* value) {
    Ref integer = Ref::checked(PyNumber_Index(value));
    const Py_ssize_t result = PyLong_AsSsize_t(integer.get());
    if (result == -1 && PyErr_Occurred()) throw_error();
    return result;
}

long long as_clamped_long_long(PyObject* value) {
    Ref integer = Ref::checked(PyNumber_Index(value));
    int overflow = 0;
    const long long result = PyLong_AsLongLongAndOverflow(integer.get(), &overflow);
    if (result == -1 && PyErr_Occurred()) throw_error();
    if (overflow != 0) return overflow > 0 ? std::numeric_limits<long long>::max() : std::numeric_limits<long long>::min();
    return result;
}

std::optional<std::int64_t> as_int64(PyObject* value) {
    if (!PyLong_Check(value)) return std::nullopt;
    int overflow = 0;
    const long long result = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (result == -1 && PyErr_Occurred()) throw_error();
    if (overflow != 0) return std::nullopt;
    return result;
}

}  // namespace ozra::py
