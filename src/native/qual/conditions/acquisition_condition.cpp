#include "qual/conditions/acquisition_condition.hpp"

#include "python/args.hpp"
#include "python/entry.hpp"
#include "python/hashing.hpp"
#include "python/object_fields.hpp"
#include "python/pickling.hpp"
#include "python/types.hpp"
#include "qual/conditions/condition_class.hpp"
#include "qual/conditions/condition_values.hpp"
#include "qual/conditions/enum_members.hpp"
#include "qual/conditions/small_conditions.hpp"
#include "qual/qual_module.hpp"
#include "schema/format_schema.hpp"
#include "storage/api/storage_api.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>

namespace ozra::qual {
namespace {

// Fields in the order of equality, hash and the properties.
enum Field : int {
    ms_level,
    polarity,
    collision_energy,
    precursor_value,
    original_measured_spectrum_type,
    precursor_range,
    mass_range,
    additional_conditions,
    field_count,
};

constexpr std::array<const char*, field_count> field_names = {
    "ms_level", "polarity", "collision_energy", "precursor_value", "original_measured_spectrum_type",
    "precursor_range", "mass_range", "additional_conditions",
};

constexpr std::array<int, field_count> all_fields = {0, 1, 2, 3, 4, 5, 6, 7};

struct AcquisitionConditionObject {
    PyObject_HEAD
    PyObject* fields[field_count];
};

PyObject** fields_of(PyObject* self) { return reinterpret_cast<AcquisitionConditionObject*>(self)->fields; }

constexpr Py_ssize_t offset_of(Field field) {
    return static_cast<Py_ssize_t>(offsetof(AcquisitionConditionObject, fields) + sizeof(PyObject*) * field);
}

void set_field(PyObject* self, Field field, PyObject* value) { py::set_object_field(fields_of(self)[field], value); }

AcquisitionConditionState& condition_state() { return state().acquisition_condition; }

enum SpectrumType : int { unknown, profile, centroid };

// `value if value != None else 1`
PyObject* level_or_one(PyObject* value) { return py::not_equals_none(value) ? value : condition_state().one; }

// Appends the family's class whose selector equals the record's type, if any.
void append_selected(PyObject* list, Family family, PyObject* record, PyObject* type_name) {
    py::Ref type = py::get_attr(record, type_name);
    const std::vector<py::Kept>& selectors = family_selectors(family);
    const std::vector<const ConditionType*>& kinds = condition_types(family);
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        if (py::equals(type.get(), selectors[i])) {
            py::Ref condition = make_condition(*kinds[i], record);
            py::append(list, condition.get());
            return;
        }
    }
}

void fill_from_stored_condition(PyObject* self, PyObject* stored) {
    const AcquisitionConditionState& names = condition_state();
    py::Ref core = py::get_attr(stored, names.core);
    py::Ref level = py::get_attr(core.get(), names.core_ms_level);
    set_field(self, ms_level, level_or_one(level.get()));
    set_field(self, polarity, py::get_attr(core.get(), names.core_polarity).get());
    set_field(self, collision_energy, py::get_attr(core.get(), names.core_collision_energy).get());
    set_field(self, mass_range, py::get_attr(core.get(), names.core_mass_range).get());
    py::Ref spectrum_type = py::get_attr(core.get(), names.core_spectrum_type);
    set_field(self, original_measured_spectrum_type, spectrum_type.get());
    set_field(self, precursor_range, py::get_attr(stored, names.condition_precursor_range).get());
    set_field(self, precursor_value, py::get_attr(stored, names.condition_precursor_value).get());

    PyObject* list = fields_of(self)[additional_conditions];
    py::Ref vendor = py::get_attr(core.get(), names.core_vendor);
    if (py::not_equals_none(vendor.get())) {
        append_selected(list, Family::vendor_specific, vendor.get(), names.vendor_type);
    }
    py::Ref triple_q = py::get_attr(core.get(), names.core_triple_q);
    if (py::not_equals_none(triple_q.get())) {
        append_selected(list, Family::triple_q_scan, triple_q.get(), names.triple_q_type);
    }
}

bool has_key(PyObject* keys, PyObject* key) {
    const int found = PySequence_Contains(keys, key);
    py::check(found);
    return found != 0;
}

// The description's fields as its attributes give them; those of the storage
// layer's own description records read in place (some 40 ns less per field, and a
// walk over all conditions reads nine fields of each of tens of thousands).
class DescriptionFields {
public:
    explicit DescriptionFields(PyObject* description)
        : description_(description),
          native_(Py_IS_TYPE(description, storage::value_types_api().internal_spectrum_description)) {}

    py::Ref get(PyObject* name, int position) const {
        return native_ ? py::Ref::borrow(storage::record_field(description_, position))
                       : py::get_attr(description_, name);
    }

private:
    PyObject* description_;
    bool native_;
};

void fill_from_spectrum_description(PyObject* self, PyObject* description) {
    namespace field = schema::internal_spectrum_description;
    AcquisitionConditionState& names = condition_state();
    const DescriptionFields fields(description);
    py::Ref level = fields.get(names.ms_level, field::ms_level);
    set_field(self, ms_level, level_or_one(level.get()));
    set_field(self, polarity, fields.get(names.polarity, field::polarity).get());
    set_field(self, collision_energy, fields.get(names.collision_energy, field::collision_energy).get());
    set_field(self, mass_range, fields.get(names.mass_range, field::mass_range).get());
    py::Ref is_profile = fields.get(names.is_profile, field::is_profile_spectrum_measured);
    const std::vector<py::Kept>& types = names.spectrum_types.get();
    const SpectrumType type = is_none(is_profile.get())        ? unknown
                              : equals_true(is_profile.get()) ? profile
                                                               : centroid;
    set_field(self, original_measured_spectrum_type, types[type]);
    set_field(self, precursor_range, fields.get(names.precursor_range, field::precursor_range).get());
    set_field(self, precursor_value, fields.get(names.precursor_value, field::precursor_value).get());

    py::Ref voltage = fields.get(names.cone_voltage, field::cone_voltage);
    if (!py::not_equals_none(voltage.get())) return;
    py::Ref properties = fields.get(names.supplemental_properties, field::supplemental_properties);
    // For a dict, `key in d.keys()` is `key in d`; anything else is asked for its keys.
    py::Ref keys = PyDict_CheckExact(properties.get())
                       ? std::move(properties)
                       : py::Ref::checked(PyObject_CallMethodNoArgs(properties.get(), names.keys));
    for (const ConditionType* kind : condition_types(Family::vendor_specific)) {
        if (kind->voltage_key && has_key(keys.get(), kind->voltage_key)) {
            py::Ref condition = make_condition(*kind, voltage.get());
            py::append(fields_of(self)[additional_conditions], condition.get());
            return;
        }
    }
}

bool is_instance(PyObject* object, PyObject* class_name) {
    const int result = PyObject_IsInstance(object, global(class_name).get());
    py::check(result);
    return result != 0;
}

void fill(PyObject* self, PyObject* argument) {
    py::Ref list = py::new_list();
    set_field(self, additional_conditions, list.get());
    if (is_instance(argument, condition_state().acquisition_condition_class)) {
        fill_from_stored_condition(self, argument);
    } else if (is_instance(argument, condition_state().spectrum_description_class)) {
        fill_from_spectrum_description(self, argument);
    } else {
        PyErr_Format(PyExc_TypeError,
                     "AcquisitionCondition() argument must be an InternalAcquisitionCondition or an "
                     "InternalSpectrumDescription, not %.100s",
                     Py_TYPE(argument)->tp_name);
        py::throw_error();
    }
}

py::Ref new_instance(PyTypeObject* type) {
    py::Ref self = py::allocate(type);
    py::set_fields_none(fields_of(self.get()), field_count);
    return self;
}

py::Ref public_value(PyObject* self, Field field) {
    return py::public_value(self, condition_state().type, fields_of(self)[field], condition_state().properties[field]);
}

void add_if_not_none(Text& text, PyObject* label, PyObject* value) {
    if (!py::not_equals_none(value)) return;
    text.add(label);
    text.add_str(value);
}

// Adds hash(value); a member of `members` through its kept hash.
void add_field(py::HashAccumulator& accumulator, PyObject* value, EnumMembers& members) {
    if (value == Py_None) {
        accumulator.add_hash(0);
    } else if (const std::optional<Py_hash_t> hash = members.member_hash(value)) {
        accumulator.add_hash(*hash);
    } else {
        accumulator.add(value);
    }
}

py::HashAccumulator accumulate(PyObject* self) {
    PyObject** fields = fields_of(self);
    py::HashAccumulator accumulator;
    for (int field = 0; field < additional_conditions; ++field) {
        if (field == polarity) {
            add_field(accumulator, fields[field], condition_state().polarity_types);
        } else if (field == original_measured_spectrum_type) {
            add_field(accumulator, fields[field], condition_state().spectrum_types);
        } else {
            accumulator.add(fields[field]);
        }
    }
    PyObject* list = fields[additional_conditions];
    if (is_none(list)) {
        accumulator.add_hash(0);
    } else {
        py::Ref elements = py::Ref::checked(PySequence_Tuple(list));
        const Py_hash_t hash = PyObject_Hash(elements.get());
        if (hash == -1) py::throw_error();
        accumulator.add_hash(hash);
    }
    return accumulator;
}

// ---- slots ------------------------------------------------------------------

PyObject* condition_new(PyTypeObject* type, PyObject*, PyObject*) {
    return py::guard([&] { return new_instance(type); });
}

int condition_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    return py::guard_int([&] {
        static const py::Parameters parameters("AcquisitionCondition", {"argument"}, 1);
        auto parsed = py::parse_arguments<1>(parameters, args, kwargs);
        fill(self, parsed[0]);
        return 0;
    });
}

PyObject* condition_str(PyObject* self) {
    return py::guard([&] {
        AcquisitionConditionState& names = condition_state();
        Text text(names.ms);
        py::Ref level = public_value(self, ms_level);
        text.add_str(level.get());

        py::Ref ion_polarity = public_value(self, polarity);
        const std::vector<py::Kept>& polarities = names.polarity_types.get();
        if (py::equals(ion_polarity.get(), polarities[0])) {
            text.add(names.plus);
        } else if (py::equals(ion_polarity.get(), polarities[1])) {
            text.add(names.minus);
        } else if (py::equals(ion_polarity.get(), polarities[2])) {
            text.add(names.both);
        }

        add_if_not_none(text, names.mass_range_label, public_value(self, mass_range).get());
        add_if_not_none(text, names.collision_energy_label, public_value(self, collision_energy).get());
        add_if_not_none(text, names.precursor_value_label, public_value(self, precursor_value).get());
        add_if_not_none(text, names.precursor_range_label, public_value(self, precursor_range).get());

        py::Ref type = public_value(self, original_measured_spectrum_type);
        const std::vector<py::Kept>& types = names.spectrum_types.get();
        if (py::equals(type.get(), types[profile])) {
            text.add(names.profile_label);
        } else if (py::equals(type.get(), types[centroid])) {
            text.add(names.centroid_label);
        }

        py::Ref conditions = public_value(self, additional_conditions);
        if (py::not_equals_none(conditions.get())) {
            const Py_ssize_t count = py::length(conditions.get());
            for (Py_ssize_t i = 0; i < count; ++i) {
                py::Ref condition = py::Ref::checked(PySequence_GetItem(conditions.get(), i));
                text.add(names.separator);
                text.add_str(condition.get());
            }
        }
        return text.finish();
    });
}

PyObject* condition_richcompare(PyObject* self, PyObject* other, int op) {
    return compare_conditions(self, other, op, condition_state().type, fields_of, all_fields);
}

PyGetSetDef condition_properties[] = {
    {"ms_level", py::get_field, nullptr, "The MS level: 1 for a plain MS scan, 2 for MS/MS and so on.",
     py::field_closure(offset_of(ms_level))},
    {"polarity", py::get_field, nullptr, "The ion polarity, a PolarityTypes member, or None.",
     py::field_closure(offset_of(polarity))},
    {"collision_energy", py::get_field, nullptr, "The collision energy, or None.",
     py::field_closure(offset_of(collision_energy))},
    {"precursor_value", py::get_field, nullptr, "The precursor m/z, or None.",
     py::field_closure(offset_of(precursor_value))},
    {"original_measured_spectrum_type", py::get_field, nullptr,
     "The kind of spectrum the instrument recorded: a SpectrumTypes member (PROFILE, CENTROID or\n"
     "UNKNOWN), or None.",
     py::field_closure(offset_of(original_measured_spectrum_type))},
    {"precursor_range", py::get_field, nullptr, "The precursor isolation range (a ValueRange), or None.",
     py::field_closure(offset_of(precursor_range))},
    {"mass_range", py::get_field, nullptr, "The scanned m/z range (a ValueRange), or None.",
     py::field_closure(offset_of(mass_range))},
    {"additional_conditions", py::get_field, nullptr,
     "The vendor-specific and triple-quadrupole conditions, vendor first. This is the condition's\n"
     "own list, not a copy: changing it changes the condition's text, equality and hash.",
     py::field_closure(offset_of(additional_conditions))},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* condition_reduce(PyObject* self, PyObject*) {
    return py::guard([&] { return py::reduce_to_state(self, fields_of(self), field_count); });
}

PyObject* condition_setstate(PyObject* self, PyObject* state) {
    return py::guard([&] {
        py::restore_state(self, fields_of(self), field_count, state);
        return py::Ref::borrow(Py_None);
    });
}

PyMethodDef condition_methods[] = {
    {"__hash__", condition_hash_method<accumulate>, METH_NOARGS | METH_COEXIST,
     "__hash__($self, /)\n--\n\n"
     "The 31-accumulation over the fields in the order of equality, as an unbounded integer;\n"
     "the additional conditions count as the hash of a tuple of them."},
    {"__reduce__", condition_reduce, METH_NOARGS,
     "__reduce__($self, /)\n--\n\nPickles the condition by value: its eight fields, restored by __setstate__."},
    {"__setstate__", condition_setstate, METH_O,
     "__setstate__($self, state, /)\n--\n\nFills a condition made by __new__ from the fields __reduce__ gave."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void add_acquisition_condition_type(PyObject* module) {
    AcquisitionConditionState& shared = condition_state();
    shared.properties.clear();
    for (const char* name : field_names) shared.properties.push_back(py::intern(name));
    PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(condition_new)},
        {Py_tp_init, reinterpret_cast<void*>(condition_init)},
        {Py_tp_dealloc, reinterpret_cast<void*>(py::dealloc_object_fields<AcquisitionConditionObject>)},
        {Py_tp_traverse, reinterpret_cast<void*>(py::traverse_object_fields<AcquisitionConditionObject>)},
        {Py_tp_clear, reinterpret_cast<void*>(py::clear_object_fields<AcquisitionConditionObject>)},
        {Py_tp_str, reinterpret_cast<void*>(condition_str)},
        {Py_tp_repr, reinterpret_cast<void*>(condition_str)},
        {Py_tp_richcompare, reinterpret_cast<void*>(condition_richcompare)},
        {Py_tp_hash, reinterpret_cast<void*>(condition_hash<accumulate>)},
        {Py_tp_methods, condition_methods},
        {Py_tp_getset, condition_properties},
        {Py_tp_members, py::private_members("AcquisitionCondition", field_names, offset_of(ms_level))},
        {Py_tp_doc, const_cast<char*>(
            "AcquisitionCondition(argument)\n--\n\n"
            "How the instrument acquired a mass spectrum: MS level, polarity, collision energy,\n"
            "precursor, scanned range, the kind of spectrum recorded, and the vendor-specific and\n"
            "triple-quadrupole conditions. Made from an InternalAcquisitionCondition or an\n"
            "InternalSpectrumDescription record. Conditions are equal when all their fields are,\n"
            "and equal conditions hash alike.")},
        {0, nullptr},
    };
    PyType_Spec spec = {"ozra_data_access.qual.AcquisitionCondition", sizeof(AcquisitionConditionObject), 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC, slots};
    shared.type = py::add_type(module, &spec);
}

bool is_plain_condition(PyObject* condition) {
    if (Py_TYPE(condition) != condition_state().type) return false;
    // Enumeration members keep the default equality, by identity.
    const std::vector<py::Kept>& polarities = condition_state().polarity_types.get();
    const std::vector<py::Kept>& kinds = condition_state().spectrum_types.get();
    auto is_member = [](PyObject* value, const std::vector<py::Kept>& members) {
        return std::find(members.begin(), members.end(), value) != members.end();
    };
    PyObject* const* fields = fields_of(condition);
    for (int field = 0; field < additional_conditions; ++field) {
        PyObject* value = fields[field];
        if (!is_plain_value(value) && !is_member(value, polarities) && !is_member(value, kinds)) return false;
    }
    PyObject* list = fields[additional_conditions];
    if (list == Py_None) return true;
    if (!PyList_CheckExact(list) && !PyTuple_CheckExact(list)) return false;
    PyObject* const* items = PySequence_Fast_ITEMS(list);
    return std::all_of(items, items + PySequence_Fast_GET_SIZE(list), is_plain_small_condition);
}

std::optional<OrderFields> order_fields(PyObject* condition) {
    if (Py_TYPE(condition) != condition_state().type) return std::nullopt;
    PyObject* const* fields = fields_of(condition);
    return OrderFields{fields[ms_level], fields[polarity], fields[collision_energy]};
}

py::Ref new_acquisition_condition(PyObject* cls, PyObject* argument) {
    if (cls != reinterpret_cast<PyObject*>(condition_state().type)) {
        return py::Ref::checked(PyObject_CallOneArg(cls, argument));
    }
    py::Ref condition = new_instance(condition_state().type);
    fill(condition.get(), argument);
    return condition;
}

}  // namespace ozra::qual
