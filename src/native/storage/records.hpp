// Records: plain holders of decoded values, one object field per stored field.
//
// Every record class is made by the same mechanism from a table of field
// names. A field `name` of class `Cls` is reached from Python under its mangled
// name `_Cls__name`, read-only unless the table marks it writable. Records can
// also be built from Python with keyword arguments of the short names (fields
// not given are None), which is how tests and stand-in layers make them.
#pragma once

#include "python/ref.hpp"
#include "schema/format_schema.hpp"
#include "storage/api/storage_api.hpp"

#include <structmember.h>

#include <array>
#include <deque>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace ozra::storage {

struct RecordLayout {
    const char* class_name;  // short name; the module adds the package path
    std::initializer_list<const char*> fields;
    std::initializer_list<const char*> writable_fields;
    PyMethodDef* methods = nullptr;  // extra methods (factories), may be null
    const char* doc = nullptr;
};

// What the record classes keep for the life of the process, in the module's state
// (storage_module.hpp): the names, member tables, slots and specs the interpreter
// points into (deques, so that nothing moves), and each class's short field names
// in layout order, for its keyword constructor.
struct RecordRegistry {
    std::deque<std::string> strings;
    std::deque<std::vector<PyMemberDef>> members;
    std::deque<std::vector<PyType_Slot>> slots;
    std::deque<PyType_Spec> specs;
    std::vector<std::pair<PyTypeObject*, std::vector<std::string>>> field_names;

    const char* keep(std::string text) { return strings.emplace_back(std::move(text)).c_str(); }
};

// Creates the record class and binds it in the module.
PyTypeObject* add_record_type(PyObject* module, const RecordLayout& layout);

// Creates the classes of the format's records (format_schema.json) and binds them in the module.

// A new record of `type` with every field None.
py::Ref new_record(PyTypeObject* type);

// Replaces a field, taking over the reference.
void set_record_field(PyObject* record, int index, py::Ref value);

// Sets the fields of a new record named by keyword arguments (`names`: the short
// field names in layout order); TypeError for positional arguments and unknown names.
void set_keyword_fields(PyObject* record, const std::vector<std::string>& names, PyObject* args, PyObject* kwargs);

// The description record classes (those of the format's records), indexed by record kind.
using DescriptionTypes = std::array<PyTypeObject*, schema::last_record_kind + 1>;

DescriptionTypes add_description_types(PyObject* module);

}  // namespace ozra::storage
