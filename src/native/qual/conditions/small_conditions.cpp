// The one mechanism behind the small condition classes of the table.
#include "qual/conditions/small_conditions.hpp"

#include "python/entry.hpp"
#include "python/hashing.hpp"
#include "python/object_fields.hpp"
#include "python/pickling.hpp"
#include "python/types.hpp"
#include "qual/conditions/condition_class.hpp"
#include "qual/conditions/condition_values.hpp"
#include "qual/conditions/enum_members.hpp"
#include "qual/qual_module.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <string>

namespace ozra::qual {
namespace {

struct FamilyNames {
    const char* record;
    const char* enumeration;
};

constexpr std::array<FamilyNames, 2> family_names = {{
    {"VendorSpecificAdditionalCondition", "VendorSpecificAdditionalConditionTypes"},
    {"TripleQScanCondition", "TripleQScanTypes"},
}};

const FamilyNames& names_of(Family family) { return family_names[static_cast<std::size_t>(family)]; }

SmallConditionRegistry& registry() { return state().small_conditions; }

ConditionObject* as_condition(PyObject* self) { return reinterpret_cast<ConditionObject*>(self); }

std::size_t field_count(PyObject* self) {
    const ConditionType* kind = as_condition(self)->kind;
    return kind ? kind->table->fields.size() : 0;
}

void set_field(PyObject* self, std::size_t index, PyObject* value) {
    py::set_object_field(condition_fields(self)[index], value);
}

Py_ssize_t field_offset(std::size_t index) {
    return static_cast<Py_ssize_t>(offsetof(ConditionObject, fields) + sizeof(PyObject*) * index);
}

// The class of the table that `type` is or derives from.
const ConditionType& kind_of(PyTypeObject* type) {
    for (const ConditionType& kind : registry().types) {
        if (kind.type == type) return kind;
    }
    for (const ConditionType& kind : registry().types) {
        if (PyType_IsSubtype(type, kind.type)) return kind;
    }
    py::raise(PyExc_TypeError, "not a condition class");
}

py::Ref new_instance(PyTypeObject* type, const ConditionType& kind) {
    py::Ref self = py::allocate(type);
    as_condition(self.get())->kind = &kind;
    py::set_fields_none(condition_fields(self.get()), kind.table->fields.size());
    return self;
}

// Whether a field can never lead back to the condition: the interpreter's own
// rule for tuples (objects without GC support, and untracked tuples).
bool is_atomic(PyObject* value) {
    return !PyObject_IS_GC(value) || (PyTuple_CheckExact(value) && !PyObject_GC_IsTracked(value));
}

// A condition of the table's own class holding only atomic fields (numbers,
// strings, ranges, None: the usual case) cannot be part of a cycle, so the
// collector need not visit it. With a hundred thousand spectra, that matters.
void track_if_needed(PyObject* self, const ConditionType& kind) {
    bool atomic = Py_TYPE(self) == kind.type;
    for (std::size_t i = 0; atomic && i < kind.table->fields.size(); ++i) atomic = is_atomic(condition_fields(self)[i]);
    const bool tracked = PyObject_GC_IsTracked(self);
    if (atomic && tracked) PyObject_GC_UnTrack(self);
    if (!atomic && !tracked) PyObject_GC_Track(self);
}

// Field by field, in table order, as the constructor's rules say.
void fill(PyObject* self, const ConditionType& kind, PyObject* argument) {
    if (!PyObject_GC_IsTracked(self)) PyObject_GC_Track(self);  // __init__ again: the fields will change
    const std::size_t count = kind.table->fields.size();
    bool from_record = true;
    if (kind.table->accepts_number) {
        py::Ref record_class = global(kind.record_class);
        const int is_record = PyObject_IsInstance(argument, record_class.get());
        py::check(is_record);
        from_record = is_record != 0;
        if (!from_record) {
            const bool is_number = PyFloat_Check(argument);
            for (std::size_t i = 0; i < count; ++i) {
                set_field(self, i, is_number && static_cast<int>(i) == kind.voltage ? argument : Py_None);
            }
        }
    }
    if (from_record) {
        for (std::size_t i = 0; i < count; ++i) {
            py::Ref value = py::get_attr(argument, kind.sources[i]);
            set_field(self, i, value.get());
        }
    }
    track_if_needed(self, kind);
}

bool is_shown(Shown shown, PyObject* value) {
    switch (shown) {
        case Shown::unless_none: return !is_none(value);
        case Shown::if_not_none: return py::not_equals_none(value);
        case Shown::if_nonempty_text: return py::not_equals_none(value) && py::not_equals(value, state().names.empty_text);
        case Shown::always: return true;
    }
    return true;
}

py::HashAccumulator accumulate(PyObject* self) {
    const ConditionType& kind = *as_condition(self)->kind;
    py::HashAccumulator accumulator;
    for (int index : kind.compared) accumulator.add(condition_fields(self)[index]);
    return accumulator;
}

// ---- slots ------------------------------------------------------------------

PyObject* condition_new(PyTypeObject* type, PyObject*, PyObject*) {
    return py::guard([&] { return new_instance(type, kind_of(type)); });
}

int condition_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    return py::guard_int([&] {
        const ConditionType& kind = *as_condition(self)->kind;
        auto parsed = py::parse_arguments<1>(*kind.parameters, args, kwargs);
        fill(self, kind, parsed[0]);
        return 0;
    });
}

int condition_traverse(PyObject* self, visitproc visit, void* arg) {
    return py::visit_fields(self, condition_fields(self), field_count(self), visit, arg);
}

int condition_clear(PyObject* self) {
    py::clear_fields(condition_fields(self), field_count(self));
    return 0;
}

void condition_dealloc(PyObject* self) { py::dealloc_collectable(self, condition_clear); }

PyObject* condition_str(PyObject* self) {
    return py::guard([&] {
        const ConditionType& kind = *as_condition(self)->kind;
        Text text(kind.title);
        bool first = true;
        for (std::size_t i = 0; i < kind.table->fields.size(); ++i) {
            const ConditionField& field = kind.table->fields[i];
            py::Ref value = py::public_value(self, kind.type, condition_fields(self)[i], kind.properties[i]);
            if (!is_shown(field.shown, value.get())) continue;
            text.add(first ? kind.first_labels[i] : kind.next_labels[i]);
            first = false;
            if (field.voltage) {
                text.add_voltage(value.get());
            } else {
                text.add_str(value.get());
            }
        }
        return text.finish();
    });
}

PyObject* condition_richcompare(PyObject* self, PyObject* other, int op) {
    const ConditionType& kind = *as_condition(self)->kind;
    return compare_conditions(self, other, op, kind.type, condition_fields, kind.compared);
}

PyObject* condition_reduce(PyObject* self, PyObject*) {
    return py::guard([&] { return py::reduce_to_state(self, condition_fields(self), field_count(self)); });
}

PyObject* condition_setstate(PyObject* self, PyObject* state) {
    return py::guard([&] {
        py::restore_state(self, condition_fields(self), field_count(self), state);
        return py::Ref::borrow(Py_None);
    });
}

PyMethodDef condition_methods[] = {
    {"__hash__", condition_hash_method<accumulate>, METH_NOARGS | METH_COEXIST,
     "__hash__($self, /)\n--\n\n"
     "The 31-accumulation over the compared fields, as an unbounded integer:\n"
     "start at 1, then 31 * result + (0 for None, else the field's hash) per field."},
    {"__reduce__", condition_reduce, METH_NOARGS,
     "__reduce__($self, /)\n--\n\nPickles the condition by value: its fields, restored by __setstate__."},
    {"__setstate__", condition_setstate, METH_O,
     "__setstate__($self, state, /)\n--\n\nFills a condition made by __new__ from the fields __reduce__ gave."},
    {nullptr, nullptr, 0, nullptr},
};

void add_condition_type(PyObject* module, const ConditionClass& table) {
    ConditionTypeStorage& kept = registry().storage.emplace_back();
    ConditionType& kind = registry().types.emplace_back();
    const FamilyNames& family = names_of(table.family);
    kind.table = &table;
    kind.record_class = py::intern(family.record);
    kind.title = py::intern(table.title);
    if (table.voltage_key) kind.voltage_key = py::intern(table.voltage_key);
    kept.parameters = std::make_unique<py::Parameters>(table.name, std::initializer_list<const char*>{table.parameter}, 1);
    kind.parameters = kept.parameters.get();

    std::vector<const char*> field_names;
    for (std::size_t i = 0; i < table.fields.size(); ++i) {
        const ConditionField& field = table.fields[i];
        kind.sources.push_back(py::intern((std::string("_") + family.record + "__" + field.source).c_str()));
        kind.properties.push_back(py::intern(field.name));
        kind.first_labels.push_back(py::intern((std::string(": [") + field.label + "] ").c_str()));
        kind.next_labels.push_back(py::intern((std::string(", [") + field.label + "] ").c_str()));
        if (field.compared) kind.compared.push_back(static_cast<int>(i));
        if (field.voltage) kind.voltage = static_cast<int>(i);
        field_names.push_back(field.name);
        kept.properties.push_back(PyGetSetDef{field.name, py::get_field, nullptr, field.doc,
                                              py::field_closure(field_offset(i))});
    }
    kept.properties.push_back(PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr});

    kept.slots = {
        {Py_tp_new, reinterpret_cast<void*>(condition_new)},
        {Py_tp_init, reinterpret_cast<void*>(condition_init)},
        {Py_tp_dealloc, reinterpret_cast<void*>(condition_dealloc)},
        {Py_tp_traverse, reinterpret_cast<void*>(condition_traverse)},
        {Py_tp_clear, reinterpret_cast<void*>(condition_clear)},
        {Py_tp_str, reinterpret_cast<void*>(condition_str)},
        {Py_tp_repr, reinterpret_cast<void*>(condition_str)},
        {Py_tp_richcompare, reinterpret_cast<void*>(condition_richcompare)},
        {Py_tp_hash, reinterpret_cast<void*>(condition_hash<accumulate>)},
        {Py_tp_methods, condition_methods},
        {Py_tp_getset, kept.properties.data()},
        {Py_tp_members, py::private_members(table.name, field_names, field_offset(0))},
        {Py_tp_doc, const_cast<char*>(table.doc)},
        {0, nullptr},
    };
    kept.spec = PyType_Spec{
        kept.keep(std::string("ozra_data_access.qual.") + table.name),
        static_cast<int>(field_offset(table.fields.size())), 0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC, kept.slots.data()};
    kind.type = py::add_type(module, &kept.spec);
    registry().types_by_family[static_cast<std::size_t>(table.family)].push_back(&kind);
}

}  // namespace

void add_small_condition_types(PyObject* module) {
    SmallConditionRegistry& shared = registry();
    for (auto& types : shared.types_by_family) types.clear();
    for (const ConditionClass& table : shared.table) add_condition_type(module, table);
    for (Family family : {Family::vendor_specific, Family::triple_q_scan}) {
        std::vector<const char*> selectors;
        for (const ConditionType* kind : condition_types(family)) selectors.push_back(kind->table->selector);
        std::optional<EnumMembers>& members = shared.selectors_by_family[static_cast<std::size_t>(family)];
        if (!members) members.emplace(names_of(family).enumeration, selectors);
    }
}

const std::vector<const ConditionType*>& condition_types(Family family) {
    return registry().types_by_family[static_cast<std::size_t>(family)];
}

const std::vector<py::Kept>& family_selectors(Family family) {
    return registry().selectors_by_family[static_cast<std::size_t>(family)]->get();
}

bool is_plain_small_condition(PyObject* value) {
    for (const ConditionType& kind : registry().types) {
        if (Py_TYPE(value) != kind.type) continue;
        PyObject* const* fields = condition_fields(value);
        return std::all_of(fields, fields + kind.table->fields.size(), is_plain_value);
    }
    return false;
}

py::Ref make_condition(const ConditionType& kind, PyObject* argument) {
    py::Ref self = new_instance(kind.type, kind);
    fill(self.get(), kind, argument);
    return self;
}

}  // namespace ozra::qual
