// Numbers that the native paths may treat as C doubles.
#pragma once

#include "python/ref.hpp"

#include <optional>

namespace ozra::qual {

// The number as a C double, when comparisons with floats and float arithmetic on it
// give exactly what the interpreter gives: floats and numpy.float64 (a float
// subclass whose operators compute on doubles), and integers (int, bool, numpy's
// integer types) that a double holds without rounding. Anything else (numpy.float32,
// whose comparisons round the other operand to single precision, Decimal, int
// subclasses with operators of their own, integers a double cannot hold) gives
// nothing: it is compared by the interpreter.
std::optional<double> exact_double(PyObject* number);

}  // namespace ozra::qual
