// Members of an enumeration bound in the module's namespace.
//
// The enumeration is looked up each time (a test or a caller may bind another
// one), but its members are fetched again only when the binding has changed,
// so the common case costs one dictionary lookup.
#pragma once

#include "ref.hpp"

#include <initializer_list>
#include <vector>

namespace ozra::qual {

class EnumMembers {
public:
    EnumMembers(const char* enumeration, std::initializer_list<const char*> members);
    EnumMembers(const char* enumeration, const std::vector<const char*>& members);

    // The members in the order given (borrowed, valid until the next call).
    const std::vector<PyObject*>& get();

private:
    PyObject* enumeration_name_;             // interned
    std::vector<PyObject*> member_names_;    // interned
    PyObject* enumeration_ = nullptr;        // owned; never released at exit, when the interpreter is gone
    std::vector<PyObject*> members_;         // owned, as above
};

}  // namespace ozra::qual
