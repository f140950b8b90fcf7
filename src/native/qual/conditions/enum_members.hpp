// Members of an enumeration bound in the module's namespace.
//
// The enumeration is looked up each time (a test or a caller may bind another
// one), but its members are fetched again only when the binding has changed,
// so the common case costs one dictionary lookup.
#pragma once

#include "python/ref.hpp"

#include <initializer_list>
#include <optional>
#include <vector>

namespace ozra::qual {

class EnumMembers {
public:
    EnumMembers(const char* enumeration, std::initializer_list<const char*> members);
    EnumMembers(const char* enumeration, const std::vector<const char*>& members);

    // The members in the order given (valid until the next call).
    const std::vector<py::Kept>& get();

    // hash(value) when `value` is one of the members, else nothing. An enumeration
    // member hashes as its name, so each member's hash is asked once per binding:
    // the interpreter's own Enum.__hash__ would otherwise run for every condition.
    std::optional<Py_hash_t> member_hash(PyObject* value);

    // The member's `value` attribute (borrowed, kept until the binding changes) when
    // `value` is one of the members, else nullptr.
    PyObject* member_value(PyObject* value);

private:
    // The position of `value` among the members, or -1.
    std::ptrdiff_t position_of(PyObject* value);

    py::Kept enumeration_name_;
    std::vector<py::Kept> member_names_;
    py::Kept enumeration_;           // the enumeration the members were fetched from
    std::vector<py::Kept> members_;  // one per name
    std::vector<std::optional<Py_hash_t>> hashes_;  // asked on first need
    std::vector<py::Kept> values_;                  // asked on first need
};

}  // namespace ozra::qual
