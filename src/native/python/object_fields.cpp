#include "python/object_fields.hpp"

#include <structmember.h>

#include <deque>
#include <string>
#include <vector>

namespace ozra::py {
namespace {

// The tables and names outlive every type made from them.
std::vector<PyMemberDef>& new_member_table() {
    static std::deque<std::vector<PyMemberDef>> tables;
    return tables.emplace_back();
}

void add_member(std::vector<PyMemberDef>& table, const char* class_name, const char* field, Py_ssize_t offset) {
    static std::deque<std::string> names;
    const char* name = names.emplace_back(std::string("_") + class_name + "__" + field).c_str();
    table.push_back(PyMemberDef{name, T_OBJECT, offset, READONLY, nullptr});
}

PyMemberDef* finish(std::vector<PyMemberDef>& table) {
    table.push_back(PyMemberDef{nullptr, 0, 0, 0, nullptr});
    return table.data();
}

}  // namespace

PyMemberDef* private_members(const char* class_name,
                             std::initializer_list<std::pair<const char*, Py_ssize_t>> fields) {
    std::vector<PyMemberDef>& table = new_member_table();
    for (const auto& [field, offset] : fields) add_member(table, class_name, field, offset);
    return finish(table);
}

PyMemberDef* private_members(const char* class_name, std::span<const char* const> fields, Py_ssize_t first_offset) {
    std::vector<PyMemberDef>& table = new_member_table();
    Py_ssize_t offset = first_offset;
    for (const char* field : fields) {
        add_member(table, class_name, field, offset);
        offset += static_cast<Py_ssize_t>(sizeof(PyObject*));
    }
    return finish(table);
}

}  // namespace ozra::py
