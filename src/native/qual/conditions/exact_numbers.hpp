// Numbers that the native paths may treat as C doubles.
#pragma once

#include "python/ref.hpp"

#include <optional>

namespace ozra::qual {

// numpy's float64 and integer classes, once numpy is imported (no value of theirs
// can exist before); part of the module's state (qual_module.hpp).
struct NumpyScalarTypes {
    py::Kept float64;
    py::Kept integer;
};

// The number as a C double, when comparisons with floats and float arithmetic on it
// give exactly what the interpreter gives: floats and numpy.float64 (a float
// subclass whose operators compute on doubles), and integers (int, bool, numpy's
// integer types) that a double holds without rounding. Anything else (numpy.float32,
// whose comparisons round the other operand to single precision, Decimal, int
// subclasses with operators of their own, integers a double cannot hold) gives
// nothing: it is compared by the interpreter.
std::optional<double> exact_double(PyObject* number);

}  // namespace ozra::qual
