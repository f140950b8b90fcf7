#include "qual/conditions/enum_members.hpp"

#include "python/types.hpp"
#include "qual/qual_module.hpp"

namespace ozra::qual {

EnumMembers::EnumMembers(const char* enumeration, std::initializer_list<const char*> members)
    : EnumMembers(enumeration, std::vector<const char*>(members)) {}

EnumMembers::EnumMembers(const char* enumeration, const std::vector<const char*>& members)
    : enumeration_name_(py::intern(enumeration)) {
    for (const char* member : members) member_names_.push_back(py::intern(member));
    members_.resize(member_names_.size());
}

const std::vector<py::Kept>& EnumMembers::get() {
    py::Ref bound = global(enumeration_name_);
    if (bound.get() == enumeration_.get()) return members_;
    std::vector<py::Ref> fetched;
    fetched.reserve(member_names_.size());
    for (PyObject* name : member_names_) fetched.push_back(py::get_attr(bound.get(), name));
    for (std::size_t i = 0; i < members_.size(); ++i) members_[i].reset(std::move(fetched[i]));
    enumeration_.reset(std::move(bound));
    return members_;
}

}  // namespace ozra::qual
