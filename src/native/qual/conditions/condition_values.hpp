// Value rules shared by every condition class: tests against None, the
// voltage text, text assembly and the field-by-field equality and hash.
#pragma once

#include "python/entry.hpp"
#include "python/hashing.hpp"
#include "python/ref.hpp"
#include "python/text.hpp"

#include <span>

namespace ozra::qual {

// `value == None` and `value != None` as Python evaluates them. The built-in
// types whose comparison with None cannot be overridden are answered at once.
inline bool is_none(PyObject* value) { return py::equals_none(value); }

// `value == True` as Python evaluates it (1 and 1.0 equal True).
bool equals_true(PyObject* value);

// str(value), with a trailing ".0" dropped: 80.0 -> "80", 1e+16 stays "1e+16".
py::Ref voltage_text(PyObject* value);

// The text of a condition, built under the recursion guard: a condition may hold
// itself among its additional conditions.
class Text : public py::Text {
public:
    explicit Text(PyObject* start) { add(start); }
    using py::Text::add;
    void add_voltage(PyObject* value);  // voltage_text(value)

private:
    py::RecursionGuard guard_{" while getting the str of a condition"};
};

// The equality of a condition class, as its tp_richcompare: `__eq__` is False
// for an object that is not an instance of `type`, else whether none of the
// `compared` fields differs (tested with `!=` in that order, up to the first
// that does); `!=` is its negation; the orderings are NotImplemented.
PyObject* compare_conditions(PyObject* self, PyObject* other, int op, PyTypeObject* type,
                             PyObject** (*fields_of)(PyObject*), std::span<const int> compared);

// Values whose comparisons are settled by the value alone: None, bool, int, str, a
// float other than NaN, and the storage layer's ValueRange with such numbers as
// bounds. Comparing them raises nothing, has no side effect, agrees with their hash
// and is transitive.
bool is_plain_value(PyObject* value);

// tp_hash and the `__hash__` method of a condition class whose 31-accumulation
// `accumulate` makes: the interpreter's reduction and the exact integer.
template <py::HashAccumulator (*accumulate)(PyObject*)>
Py_hash_t condition_hash(PyObject* self) {
    return py::guard_hash([&] {
        const py::RecursionGuard guard(" while hashing a condition");
        return accumulate(self).reduced();
    });
}

template <py::HashAccumulator (*accumulate)(PyObject*)>
PyObject* condition_hash_method(PyObject* self, PyObject*) {
    return py::guard([&] {
        const py::RecursionGuard guard(" while hashing a condition");
        return accumulate(self).exact();
    });
}

}  // namespace ozra::qual
