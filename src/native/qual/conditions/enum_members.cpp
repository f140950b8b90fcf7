#include "qual/conditions/enum_members.hpp"

#include "python/types.hpp"
#include "qual/qual_module.hpp"

#include <algorithm>

namespace ozra::qual {

EnumMembers::EnumMembers(const char* enumeration, std::initializer_list<const char*> members)
    : EnumMembers(enumeration, std::vector<const char*>(members)) {}

EnumMembers::EnumMembers(const char* enumeration, const std::vector<const char*>& members)
    : enumeration_name_(py::intern(enumeration)) {
    for (const char* member : members) member_names_.push_back(py::intern(member));
    members_.resize(member_names_.size());
    hashes_.resize(member_names_.size());
    values_.resize(member_names_.size());
}

const std::vector<py::Kept>& EnumMembers::get() {
    py::Ref bound = global(enumeration_name_);
    if (bound.get() == enumeration_.get()) return members_;
    std::vector<py::Ref> fetched;
    fetched.reserve(member_names_.size());
    for (PyObject* name : member_names_) fetched.push_back(py::get_attr(bound.get(), name));
    for (std::size_t i = 0; i < members_.size(); ++i) {
        members_[i].reset(std::move(fetched[i]));
        hashes_[i].reset();
        values_[i].reset(py::Ref());
    }
    enumeration_.reset(std::move(bound));
    return members_;
}

std::ptrdiff_t EnumMembers::position_of(PyObject* value) {
    const std::vector<py::Kept>& members = get();
    const auto found = std::find(members.begin(), members.end(), value);
    return found == members.end() ? -1 : found - members.begin();
}

std::optional<Py_hash_t> EnumMembers::member_hash(PyObject* value) {
    const std::ptrdiff_t position = position_of(value);
    if (position < 0) return std::nullopt;
    std::optional<Py_hash_t>& hash = hashes_[static_cast<std::size_t>(position)];
    if (!hash) {
        const Py_hash_t computed = PyObject_Hash(value);
        if (computed == -1) py::throw_error();
        hash = computed;
    }
    return hash;
}

PyObject* EnumMembers::member_value(PyObject* value) {
    const std::ptrdiff_t position = position_of(value);
    if (position < 0) return nullptr;
    py::Kept& kept = values_[static_cast<std::size_t>(position)];
    if (!kept) kept.reset(py::get_attr(value, state().names.value));
    return kept.get();
}

}  // namespace ozra::qual
