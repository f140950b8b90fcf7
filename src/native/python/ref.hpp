// The one owning reference type, the one type of references kept for the life
// of the process, and the one "a Python error is set" exception.
//
// Rules:
// - Every owned object lives in a Ref. A Ref is move-only; its destructor
//   drops the reference, so no path leaks or double-frees.
// - An object a module uses until the process ends (interned names, imported
//   classes and members, created types) lives in a Kept, whose reference is
//   never dropped: dropping it at exit would run after the interpreter is gone.
// - Borrowed references are plain PyObject* that never outlive their owner.
// - Every C-API call that can fail is checked: a NULL result goes through
//   Ref::checked (or check_object), an int result through check(). A failure
//   throws PythonError; each entry point (see entry.hpp) turns it into NULL/-1.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace ozra::py {

// Thrown when a Python exception is set and the caller must return its error value.
struct PythonError {};

[[noreturn]] inline void throw_error() { throw PythonError{}; }

class Ref {
public:
    Ref() noexcept = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            PyObject* old = std::exchange(object_, std::exchange(other.object_, nullptr));
            Py_XDECREF(old);
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(object_); }

    // Takes over a new reference; a NULL means the call failed and an error is set.
    static Ref checked(PyObject* new_reference) {
        if (new_reference == nullptr) throw_error();
        return Ref(new_reference);
    }
    // Takes over a new reference that may legitimately be NULL (no error set).
    static Ref steal(PyObject* new_reference) noexcept { return Ref(new_reference); }
    // Takes a new reference to a borrowed object.
    static Ref borrow(PyObject* borrowed) noexcept {
        Py_XINCREF(borrowed);
        return Ref(borrowed);
    }
    static Ref none() noexcept { return borrow(Py_None); }
    static Ref boolean(bool value) noexcept { return borrow(value ? Py_True : Py_False); }

    PyObject* get() const noexcept { return object_; }
    // Hands the reference to the caller (for returning to the interpreter).
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    Ref copy() const noexcept { return borrow(object_); }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    explicit Ref(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

class Kept {
public:
    Kept() noexcept = default;
    explicit Kept(Ref object) noexcept : object_(object.release()) {}
    Kept(const Kept&) = delete;
    Kept& operator=(const Kept&) = delete;
    Kept(Kept&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Kept& operator=(Kept&& other) noexcept {
        // Moving into a Kept that holds an object keeps that one too: nothing is ever dropped here.
        object_ = std::exchange(other.object_, nullptr);
        return *this;
    }

    // Keeps `object` instead, dropping the object kept so far (while the interpreter runs).
    void reset(Ref object) noexcept {
        PyObject* old = std::exchange(object_, object.release());
        Py_XDECREF(old);
    }

    PyObject* get() const noexcept { return object_; }
    operator PyObject*() const noexcept { return object_; }

private:
    PyObject* object_ = nullptr;
};

inline void check(int status) {
    if (status < 0) throw_error();
}

// For C-API calls returning a borrowed reference that is NULL on error.
inline PyObject* check_borrowed(PyObject* borrowed) {
    if (borrowed == nullptr) throw_error();
    return borrowed;
}

// Truth value, with errors of __bool__ propagated.
inline bool is_true(PyObject* object) {
    int truth = PyObject_IsTrue(object);
    check(truth);
    return truth != 0;
}

// Rich comparison reduced to a truth value, as `a == b` / `a != b` in an if.
inline bool compare(PyObject* a, PyObject* b, int op) {
    int result = PyObject_RichCompareBool(a, b, op);
    check(result);
    return result != 0;
}

// `a == b` evaluated exactly as Python does in a condition (no identity shortcut).
inline bool equals(PyObject* a, PyObject* b) {
    Ref result = Ref::checked(PyObject_RichCompare(a, b, Py_EQ));
    return is_true(result.get());
}
inline bool not_equals(PyObject* a, PyObject* b) {
    Ref result = Ref::checked(PyObject_RichCompare(a, b, Py_NE));
    return is_true(result.get());
}
// Built-in types whose comparison with None is fixed: always unequal.
inline bool never_equals_none(PyObject* value) {
    return PyFloat_CheckExact(value) || PyLong_CheckExact(value) || PyBool_Check(value) ||
           PyUnicode_CheckExact(value) || PyTuple_CheckExact(value) || PyList_CheckExact(value) ||
           PyDict_CheckExact(value);
}
// `value == None` as Python evaluates it (a value's own __eq__ may answer).
inline bool equals_none(PyObject* value) {
    if (value == Py_None) return true;
    return !never_equals_none(value) && equals(value, Py_None);
}
// `value != None` as Python evaluates it.
inline bool not_equals_none(PyObject* value) {
    if (value == Py_None) return false;
    return never_equals_none(value) || not_equals(value, Py_None);
}

// A sequence's items as a tuple, for a loop that runs Python code: PySequence_Fast
// hands a list back as it is, and that code could shrink the list and free its items.
// `message` is the TypeError's text for an object that is not a sequence.
inline Ref held_items(PyObject* source, const char* message) {
    Ref sequence = Ref::checked(PySequence_Fast(source, message));
    if (PyList_Check(sequence.get())) return Ref::checked(PyList_AsTuple(sequence.get()));
    return sequence;
}

// After a failed PyObject_GetBuffer: whether the exporter only refused the layout
// asked for (BufferError; numpy's ValueError for a strided array). That error is
// cleared and the caller reads the object as a sequence; any other stays set.
inline bool clear_layout_refusal() {
    if (!PyErr_ExceptionMatches(PyExc_BufferError) && !PyErr_ExceptionMatches(PyExc_ValueError)) return false;
    PyErr_Clear();
    return true;
}

// list[index] as an owned reference. Python code run since the caller looked at
// the list may have shrunk it: an index past its end raises IndexError, as
// `list[index]` would.
inline Ref list_item(PyObject* list, Py_ssize_t index) {
    if (index >= PyList_GET_SIZE(list)) {
        PyErr_SetString(PyExc_IndexError, "list index out of range");
        throw_error();
    }
    return Ref::borrow(PyList_GET_ITEM(list, index));
}

inline Ref get_attr(PyObject* object, PyObject* name) {
    return Ref::checked(PyObject_GetAttr(object, name));
}
// object.name(arguments...), the method looked up on the object as the interpreter does.
template <class... Arguments>
Ref call_method(PyObject* object, PyObject* name, Arguments... arguments) {
    PyObject* stack[] = {object, arguments...};
    return Ref::checked(PyObject_VectorcallMethod(name, stack, 1 + sizeof...(arguments), nullptr));
}
inline void set_attr(PyObject* object, PyObject* name, PyObject* value) {
    check(PyObject_SetAttr(object, name, value));
}
inline Ref str(PyObject* object) { return Ref::checked(PyObject_Str(object)); }
inline Ref from_double(double value) { return Ref::checked(PyFloat_FromDouble(value)); }
inline Ref from_long(long long value) { return Ref::checked(PyLong_FromLongLong(value)); }
inline Ref from_size(Py_ssize_t value) { return Ref::checked(PyLong_FromSsize_t(value)); }
inline Ref new_list(Py_ssize_t size = 0) { return Ref::checked(PyList_New(size)); }
inline void append(PyObject* list, PyObject* item) { check(PyList_Append(list, item)); }

// float(value) as a C double, errors propagated.
inline double as_double(PyObject* value) {
    double result = PyFloat_AsDouble(value);
    if (result == -1.0 && PyErr_Occurred()) throw_error();
    return result;
}

inline Py_ssize_t length(PyObject* object) {
    Py_ssize_t size = PyObject_Length(object);
    if (size < 0) throw_error();
    return size;
}

}  // namespace ozra::py
