#include "qual/conditions/condition_values.hpp"

#include "qual/qual_module.hpp"
#include "storage/api/storage_api.hpp"

#include <cmath>

namespace ozra::qual {
namespace {

bool is_plain_number(PyObject* value) {
    if (PyFloat_CheckExact(value)) return !std::isnan(PyFloat_AS_DOUBLE(value));
    return PyLong_CheckExact(value) || PyBool_Check(value);
}

}  // namespace

bool is_plain_value(PyObject* value) {
    if (value == Py_None || PyUnicode_CheckExact(value) || is_plain_number(value)) return true;
    if (Py_TYPE(value) != storage::value_types_api().value_range) return false;
    const auto* range = reinterpret_cast<const storage::ValueRangeObject*>(value);
    return is_plain_number(range->min) && is_plain_number(range->max);
}

bool equals_true(PyObject* value) {
    if (value == Py_True) return true;
    if (value == Py_False || value == Py_None) return false;
    return py::equals(value, Py_True);
}

py::Ref voltage_text(PyObject* value) {
    py::Ref text = py::str(value);
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text.get());
    const Py_ssize_t ends_with = PyUnicode_Tailmatch(text.get(), state().names.point_zero_suffix, 0, length, 1);
    if (ends_with < 0) py::throw_error();
    if (ends_with == 0) return text;
    return py::Ref::checked(PyUnicode_Substring(text.get(), 0, length - 2));
}

void Text::add_voltage(PyObject* value) {
    py::Ref text = voltage_text(value);
    add(text.get());
}

PyObject* compare_conditions(PyObject* self, PyObject* other, int op, PyTypeObject* type,
                             PyObject** (*fields_of)(PyObject*), std::span<const int> compared) {
    if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
    return py::guard([&] {
        const py::RecursionGuard guard(" in comparison");
        bool equal = PyObject_TypeCheck(other, type);
        for (auto field = compared.begin(); equal && field != compared.end(); ++field) {
            equal = !py::not_equals(fields_of(self)[*field], fields_of(other)[*field]);
        }
        return py::Ref::boolean(op == Py_EQ ? equal : !equal);
    });
}

}  // namespace ozra::qual
