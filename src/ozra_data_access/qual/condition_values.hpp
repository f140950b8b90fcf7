// Value rules shared by every condition class: tests against None, the
// voltage text, text assembly and the field-by-field equality and hash.
#pragma once

#include "ref.hpp"

#include <span>

namespace ozra::qual {

// `value == None` and `value != None` as Python evaluates them. The built-in
// types whose comparison with None cannot be overridden are answered at once.
inline bool is_none(PyObject* value) { return py::equals_none(value); }

// `value == True` as Python evaluates it (1 and 1.0 equal True).
bool equals_true(PyObject* value);

// str(value), with a trailing ".0" dropped: 80.0 -> "80", 1e+16 stays "1e+16".
py::Ref voltage_text(PyObject* value);

// Concatenates literal pieces and str() of values into one str.
class Text {
public:
    explicit Text(PyObject* start);
    void add(PyObject* piece);          // a str, added as it is
    void add_str(PyObject* value);      // str(value)
    void add_voltage(PyObject* value);  // voltage_text(value)
    py::Ref finish();

private:
    py::Ref pieces_;  // a list, joined once at the end
};

// Values whose comparisons are settled by the value alone: None, bool, int, str, a
// float other than NaN, and the storage layer's ValueRange with such numbers as
// bounds. Comparing them raises nothing, has no side effect, agrees with their hash
// and is transitive.
bool is_plain_value(PyObject* value);

// Whether `a[i] != b[i]` for some field, the fields tested in order up to the
// first that differs.
bool any_field_differs(PyObject* const* a, PyObject* const* b, std::span<const int> indexes);

// The interpreter's answer for `==` / `!=` given the outcome of __eq__, and
// NotImplemented for the orderings, which the condition classes do not define.
PyObject* comparison_result(int op, bool equal);

}  // namespace ozra::qual
