// The nine small condition classes made from the table of condition_class.hpp.
#pragma once

#include "python/ref.hpp"
#include "qual/conditions/condition_class.hpp"

#include <vector>

namespace ozra::qual {

// Creates the nine types and binds them in the module.
void add_small_condition_types(PyObject* module);

// The types of one family, in table order.
const std::vector<const ConditionType*>& condition_types(Family family);

// The family's enumeration members selecting each of its types, in the same order.
const std::vector<py::Kept>& family_selectors(Family family);

// Whether `value` is an instance of one of the classes (not of a subclass) whose
// fields are all plain values (condition_values.hpp).
bool is_plain_small_condition(PyObject* value);

// `Class(argument)` for the class of `kind`.
py::Ref make_condition(const ConditionType& kind, PyObject* argument);

}  // namespace ozra::qual
