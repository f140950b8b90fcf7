// Entry points: where C++ exceptions become Python error results.
//
// Every function the interpreter calls wraps its body in one of these, so a
// PythonError (error already set), an allocation failure or any other C++
// exception never crosses into the interpreter.
#pragma once

#include "python/ref.hpp"

#include <exception>
#include <new>

namespace ozra::py {

// Sets a Python error for the C++ exception being handled (none for PythonError).
void set_error_from_current_exception() noexcept;

// An extension whose own C++ exceptions have a Python meaning (the storage module:
// the format layer's errors) installs, once at load, the function that sets that
// error for the exception being handled, returning false for one it does not know.
// Every entry point of that extension then raises those errors alike.
using ExceptionTranslator = bool (*)() noexcept;
void set_exception_translator(ExceptionTranslator translator) noexcept;

template <class Body>
PyObject* guard(Body&& body) noexcept {
    try {
        return body().release();
    } catch (...) {
        set_error_from_current_exception();
        return nullptr;
    }
}

// For slots returning int (tp_init, setters, sq_contains...): -1 on error.
template <class Body>
int guard_int(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        set_error_from_current_exception();
        return -1;
    }
}

// For tp_hash: -1 on error.
template <class Body>
Py_hash_t guard_hash(Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        set_error_from_current_exception();
        return -1;
    }
}

// The interpreter's recursion guard around native recursion over containers a
// caller can build (a condition inside its own additional conditions): past the
// recursion limit the call raises RecursionError instead of exhausting the C stack.
class RecursionGuard {
public:
    explicit RecursionGuard(const char* where) {
        if (Py_EnterRecursiveCall(where) != 0) throw_error();
    }
    ~RecursionGuard() { Py_LeaveRecursiveCall(); }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;
};

// Lets Ctrl-C interrupt a long native loop. The interpreter looks for signals
// between bytecodes only, so a loop over spectra calls tick() once an iteration,
// which asks every `stride` iterations (a KeyboardInterrupt is then raised).
class SignalCheck {
public:
    void tick() {
        if (++count_ % stride == 0 && PyErr_CheckSignals() != 0) throw_error();
    }

private:
    static constexpr unsigned stride = 64;
    unsigned count_ = 0;
};

// Raises `Exception(message)`, the built-in base class, as the public API does.
[[noreturn]] void raise_exception(const char* message);
[[noreturn]] void raise(PyObject* type, const char* message);

}  // namespace ozra::py
