// One argument parser for every method and constructor of the extension modules.
//
// Parameters may be given by position or by keyword. The TypeError texts are
// the interpreter's own (those of its keyword-argument parser), e.g.
//   get_spectrum() takes at most 1 argument (2 given)
//   get_spectrum() missing required argument 'index' (pos 1)
//   'x' is an invalid keyword argument for get_spectrum()
//   argument for get_spectrum() given by name ('index') and position (1)
#pragma once

#include "python/ref.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace ozra::py {

class Parameters {
public:
    // `required` leading parameters have no default; the rest are optional.
    Parameters(const char* function_name, std::initializer_list<const char*> names, std::size_t required);

    std::size_t size() const noexcept { return names_.size(); }

    // METH_FASTCALL | METH_KEYWORDS calling convention. Fills `out` with borrowed
    // references, nullptr for an optional parameter that was not given.
    void parse(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) const;
    // tp_new / tp_init calling convention (tuple and dict, the dict may be NULL).
    void parse(PyObject* args, PyObject* kwargs, PyObject** out) const;

private:
    Py_ssize_t position_of(PyObject* keyword) const;
    [[noreturn]] void too_many(Py_ssize_t given, bool keywords_only) const;
    [[noreturn]] void missing(std::size_t position) const;
    [[noreturn]] void given_twice(std::size_t position) const;
    [[noreturn]] void invalid_keyword(PyObject* keyword) const;

    std::string function_name_;
    std::vector<std::string> names_;
    std::vector<Kept> interned_;  // null where interning failed
    std::size_t required_;
};

// Parsed arguments of a function with N parameters.
template <std::size_t N>
struct Arguments {
    std::array<PyObject*, N> values{};
    PyObject* operator[](std::size_t i) const noexcept { return values[i]; }
    // The value, or None for an optional parameter that was not given.
    PyObject* or_none(std::size_t i) const noexcept { return values[i] ? values[i] : Py_None; }
};

template <std::size_t N>
Arguments<N> parse_arguments(const Parameters& parameters, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
    Arguments<N> parsed;
    parameters.parse(args, nargs, kwnames, parsed.values.data());
    return parsed;
}

template <std::size_t N>
Arguments<N> parse_arguments(const Parameters& parameters, PyObject* args, PyObject* kwargs) {
    Arguments<N> parsed;
    parameters.parse(args, kwargs, parsed.values.data());
    return parsed;
}

// ---- integer arguments: the interpreter's own conversions, errors propagated ----

// An int, or an object with __index__, as a C long long (OverflowError beyond).
long long as_long_long(PyObject* value);
// The same as a Py_ssize_t, as range() takes its bound.
Py_ssize_t as_ssize(PyObject* value);
// The same, clamped to the long long range instead of overflowing.
long long as_clamped_long_long(PyObject* value);
// The value of an int (or int subclass) that fits 64 bits; nullopt for anything else.
std::optional<std::int64_t> as_int64(PyObject* value);

}  // namespace ozra::py
