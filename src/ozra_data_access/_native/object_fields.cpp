#include "object_fields.hpp"

#include <structmember.h>

#include <deque>
#include <string>
#include <vector>

namespace ozra::py {

PyMemberDef* private_members(const char* class_name,
                             std::initializer_list<std::pair<const char*, Py_ssize_t>> fields) {
    static std::deque<std::string> names;
    static std::deque<std::vector<PyMemberDef>> tables;
    std::vector<PyMemberDef>& table = tables.emplace_back();
    for (const auto& [field, offset] : fields) {
        const char* name = names.emplace_back(std::string("_") + class_name + "__" + field).c_str();
        table.push_back(PyMemberDef{name, T_OBJECT, offset, READONLY, nullptr});
    }
    table.push_back(PyMemberDef{nullptr, 0, 0, 0, nullptr});
    return table.data();
}

}  // namespace ozra::py
