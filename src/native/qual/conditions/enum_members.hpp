// Members of an enumeration bound in the module's namespace.
//
// The enumeration is looked up each time (a test or a caller may bind another
// one), but its members are fetched again only when the binding has changed,
// so the common case costs one dictionary lookup.
#pragma once

#include "python/ref.hpp"

#include <initializer_list>
#include <vector>

namespace ozra::qual {

class EnumMembers {
public:
    EnumMembers(const char* enumeration, std::initializer_list<const char*> members);
    EnumMembers(const char* enumeration, const std::vector<const char*>& members);

    // The members in the order given (valid until the next call).
    const std::vector<py::Kept>& get();

private:
    py::Kept enumeration_name_;
    std::vector<py::Kept> member_names_;
    py::Kept enumeration_;           // the enumeration the members were fetched from
    std::vector<py::Kept> members_;  // one per name
};

}  // namespace ozra::qual
