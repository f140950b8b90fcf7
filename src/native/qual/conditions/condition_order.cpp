#include "qual/conditions/condition_order.hpp"

#include "qual/conditions/acquisition_condition.hpp"
#include "qual/qual_module.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <tuple>
#include <vector>

namespace ozra::qual {
namespace {

// The key as the interpreter builds it, compared as tuples.
py::Ref sort_key(PyObject* condition) {
    py::Ref ms_level = py::get_attr(condition, state().names.ms_level);
    py::Ref polarity = py::get_attr(condition, state().names.polarity);
    py::Ref polarity_key;
    if (polarity.get() == Py_None) {
        polarity_key = py::Ref::checked(Py_BuildValue("(i)", 0));
    } else {
        py::Ref value = py::get_attr(polarity.get(), state().names.value);
        polarity_key = py::Ref::checked(Py_BuildValue("(iO)", 1, value.get()));
    }
    py::Ref energy = py::get_attr(condition, state().names.collision_energy);
    py::Ref energy_key = py::Ref::checked(Py_BuildValue("(OO)", energy.get() != Py_None ? Py_True : Py_False, energy.get()));
    return py::Ref::checked(PyTuple_Pack(3, ms_level.get(), polarity_key.get(), energy_key.get()));
}

py::Ref sorted_by_interpreter(const std::vector<py::Ref>& conditions) {
    // Sorting (key, position-in-set-order, condition) is the stable sort by key.
    py::Ref decorated = py::new_list();
    for (std::size_t order = 0; order < conditions.size(); ++order) {
        py::Ref key = sort_key(conditions[order].get());
        py::Ref order_object = py::from_size(static_cast<Py_ssize_t>(order));
        py::Ref entry = py::Ref::checked(PyTuple_Pack(3, key.get(), order_object.get(), conditions[order].get()));
        py::append(decorated.get(), entry.get());
    }
    py::check(PyList_Sort(decorated.get()));
    py::Ref sorted = py::new_list(PyList_GET_SIZE(decorated.get()));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(decorated.get()); ++i) {
        PyObject* entry_condition = PyTuple_GET_ITEM(PyList_GET_ITEM(decorated.get(), i), 2);
        PyList_SET_ITEM(sorted.get(), i, py::Ref::borrow(entry_condition).release());
    }
    return sorted;
}

// An int, bool or float (of these very types) the tuple comparison orders as this
// double: no NaN, ints that a double holds exactly.
std::optional<double> exact_number(PyObject* value) {
    if (PyFloat_CheckExact(value)) {
        const double number = PyFloat_AS_DOUBLE(value);
        if (std::isnan(number)) return std::nullopt;
        return number;
    }
    if (PyLong_CheckExact(value) || PyBool_Check(value)) {
        int overflow = 0;
        const long long number = PyLong_AsLongLongAndOverflow(value, &overflow);
        constexpr long long exact = 1LL << 53;
        if (overflow != 0 || number > exact || number < -exact) return std::nullopt;
        return static_cast<double>(number);
    }
    return std::nullopt;
}

// The key of a condition as numbers: (ms_level, has polarity, polarity value,
// has energy, energy, position in set order).
using NumericKey = std::tuple<double, bool, double, bool, double, std::size_t>;

// Nothing unless the key's tuple comparison is that of these numbers: a condition of
// the class itself, its polarity None or a PolarityTypes member, every number exact.
std::optional<NumericKey> numeric_key(PyObject* condition, std::size_t order) {
    const std::optional<OrderFields> fields = order_fields(condition);
    if (!fields) return std::nullopt;
    const std::optional<double> level = exact_number(fields->ms_level);
    if (!level) return std::nullopt;
    const bool has_polarity = fields->polarity != Py_None;
    std::optional<double> polarity_value = 0.0;
    if (has_polarity) {
        PyObject* value = state().acquisition_condition.polarity_types.member_value(fields->polarity);
        polarity_value = value ? exact_number(value) : std::nullopt;
    }
    const bool has_energy = fields->collision_energy != Py_None;
    const std::optional<double> energy_value = has_energy ? exact_number(fields->collision_energy) : 0.0;
    if (!polarity_value || !energy_value) return std::nullopt;
    return NumericKey{*level, has_polarity, *polarity_value, has_energy, *energy_value, order};
}

}  // namespace

py::Ref sorted_conditions(PyObject* unique) {
    std::vector<py::Ref> conditions;
    conditions.reserve(static_cast<std::size_t>(PySet_GET_SIZE(unique)));
    py::Ref iterator = py::Ref::checked(PyObject_GetIter(unique));
    while (py::Ref condition = py::Ref::steal(PyIter_Next(iterator.get()))) conditions.push_back(std::move(condition));
    if (PyErr_Occurred()) py::throw_error();
    // Plain conditions of numbers: the same order without making the tuples. Their
    // tuple comparison is the numbers' (no NaN; equal items are passed over).
    std::vector<NumericKey> keys;
    keys.reserve(conditions.size());
    for (std::size_t order = 0; order < conditions.size(); ++order) {
        const std::optional<NumericKey> key = numeric_key(conditions[order].get(), order);
        if (!key) return sorted_by_interpreter(conditions);
        keys.push_back(*key);
    }
    std::sort(keys.begin(), keys.end());
    py::Ref sorted = py::new_list(static_cast<Py_ssize_t>(keys.size()));
    for (std::size_t i = 0; i < keys.size(); ++i) {
        PyList_SET_ITEM(sorted.get(), static_cast<Py_ssize_t>(i), conditions[std::get<5>(keys[i])].copy().release());
    }
    return sorted;
}

}  // namespace ozra::qual
