// AcquisitionCondition: how the instrument acquired a mass spectrum.
#pragma once

#include "python/ref.hpp"

#include <optional>

namespace ozra::qual {

void add_acquisition_condition_type(PyObject* module);

// `cls(argument)`: for the class itself made as its constructor makes it, without a
// call through the interpreter; any other class (a caller's own) is called.
py::Ref new_acquisition_condition(PyObject* cls, PyObject* argument);

// Whether `condition` is of this very class (not a subclass) and every field is
// plain: a plain value (condition_values.hpp), a member of PolarityTypes or
// SpectrumTypes, and as additional conditions a list or tuple of plain vendor and
// scan conditions. Plain conditions compare without raising or side effects, in
// agreement with their hash, and transitively: two equal plain conditions give the
// same answer against any third plain condition.
bool is_plain_condition(PyObject* condition);

// The fields the conditions are ordered by, borrowed from a condition of this very
// class (whose properties are its fields); nothing for any other object.
struct OrderFields {
    PyObject* ms_level;
    PyObject* polarity;
    PyObject* collision_energy;
};
std::optional<OrderFields> order_fields(PyObject* condition);

}  // namespace ozra::qual
