#include "storage/records.hpp"

#include "python/entry.hpp"
#include "python/object_fields.hpp"
#include "python/types.hpp"
#include "storage/storage_module.hpp"

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace ozra::storage {
namespace {

RecordRegistry& registry() { return state().records; }

std::size_t field_count(PyObject* self) {
    return static_cast<std::size_t>(Py_TYPE(self)->tp_basicsize - static_cast<Py_ssize_t>(offsetof(RecordObject, fields))) /
           sizeof(PyObject*);
}

int record_traverse(PyObject* self, visitproc visit, void* arg) {
    return py::visit_fields(self, reinterpret_cast<RecordObject*>(self)->fields, field_count(self), visit, arg);
}

int record_clear(PyObject* self) {
    py::clear_fields(reinterpret_cast<RecordObject*>(self)->fields, field_count(self));
    return 0;
}

void record_dealloc(PyObject* self) { py::dealloc_collectable(self, record_clear); }

const std::vector<std::string>& field_names_of(PyTypeObject* type) {
    for (const auto& [record_type, names] : registry().field_names) {
        if (record_type == type) return names;
    }
    py::raise(PyExc_TypeError, "not a record class");
}

// Record(**fields): keyword arguments of the short field names, the rest None.
PyObject* record_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return py::guard([&]() -> py::Ref {
        py::Ref record = new_record(type);
        set_keyword_fields(record.get(), field_names_of(type), args, kwargs);
        return record;
    });
}

}  // namespace

py::Ref new_record(PyTypeObject* type) {
    py::Ref record = py::allocate(type);
    py::set_fields_none(reinterpret_cast<RecordObject*>(record.get())->fields, field_count(record.get()));
    return record;
}

void set_keyword_fields(PyObject* record, const std::vector<std::string>& names, PyObject* args, PyObject* kwargs) {
    PyTypeObject* type = Py_TYPE(record);
    if (PyTuple_GET_SIZE(args) != 0) {
        PyErr_Format(PyExc_TypeError, "%s() takes keyword arguments only", type->tp_name);
        py::throw_error();
    }
    if (kwargs == nullptr) return;
    PyObject *key, *value;
    Py_ssize_t position = 0;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
        const char* name = PyUnicode_AsUTF8(key);
        if (name == nullptr) py::throw_error();
        int index = 0;
        while (index < static_cast<int>(names.size()) && names[index] != name) ++index;
        if (index == static_cast<int>(names.size())) {
            PyErr_Format(PyExc_TypeError, "'%s' is an invalid keyword argument for %s()", name, type->tp_name);
            py::throw_error();
        }
        set_record_field(record, index, py::Ref::borrow(value));
    }
}

void set_record_field(PyObject* record, int index, py::Ref value) {
    py::set_object_field(reinterpret_cast<RecordObject*>(record)->fields[index], std::move(value));
}

namespace {

struct FieldLayout {
    const char* name;
    bool writable;
};

PyTypeObject* make_record_type(PyObject* module, const char* class_name, const std::vector<FieldLayout>& fields,
                               PyMethodDef* methods, const char* doc) {
    RecordRegistry& kept = registry();
    std::vector<PyMemberDef>& members = kept.members.emplace_back();
    int index = 0;
    for (const FieldLayout& field : fields) {
        members.push_back(PyMemberDef{
            kept.keep(std::string("_") + class_name + "__" + field.name), T_OBJECT,
            static_cast<Py_ssize_t>(offsetof(RecordObject, fields) + sizeof(PyObject*) * index),
            field.writable ? 0 : READONLY, nullptr});
        ++index;
    }
    members.push_back(PyMemberDef{nullptr, 0, 0, 0, nullptr});

    std::vector<PyType_Slot>& slots = kept.slots.emplace_back(std::vector<PyType_Slot>{
        {Py_tp_new, reinterpret_cast<void*>(record_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(record_dealloc)},
        {Py_tp_traverse, reinterpret_cast<void*>(record_traverse)},
        {Py_tp_clear, reinterpret_cast<void*>(record_clear)},
        {Py_tp_members, members.data()},
    });
    if (methods) slots.push_back({Py_tp_methods, methods});
    if (doc) slots.push_back({Py_tp_doc, const_cast<char*>(doc)});
    slots.push_back({0, nullptr});

    PyType_Spec& spec = kept.specs.emplace_back(PyType_Spec{
        kept.keep(std::string("ozra_data_access._internal._storage.") + class_name),
        static_cast<int>(offsetof(RecordObject, fields) + sizeof(PyObject*) * fields.size()), 0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, slots.data()});
    PyTypeObject* type = py::add_type(module, &spec);
    std::vector<std::string> names;
    for (const FieldLayout& field : fields) names.emplace_back(field.name);
    kept.field_names.emplace_back(type, std::move(names));
    return type;
}

}  // namespace

PyTypeObject* add_record_type(PyObject* module, const RecordLayout& layout) {
    std::vector<FieldLayout> fields;
    for (const char* name : layout.fields) {
        bool writable = false;
        for (const char* w : layout.writable_fields) writable = writable || std::string(w) == name;
        fields.push_back({name, writable});
    }
    return make_record_type(module, layout.class_name, fields, layout.methods, layout.doc);
}

DescriptionTypes add_description_types(PyObject* module) {
    DescriptionTypes types{};
    for (std::size_t kind = 1; kind < schema::records.size(); ++kind) {
        const schema::RecordSchema& record = schema::records[kind];
        std::vector<FieldLayout> fields;
        for (const schema::FieldSchema& field : record.fields) fields.push_back({field.name, field.writable});
        types[kind] = make_record_type(module, record.class_name, fields, nullptr, record.doc);
    }
    return types;
}

}  // namespace ozra::storage
