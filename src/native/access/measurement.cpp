// Measurement: one acquisition stored in an Ozra file, its functions sorted
// into four kinds, and the analysis getters that turn them into analyses.
#include "access/access_module.hpp"
#include "python/args.hpp"
#include "python/entry.hpp"
#include "python/index_range.hpp"
#include "python/object_fields.hpp"
#include "python/text.hpp"
#include "python/types.hpp"
#include "storage/api/storage_api.hpp"

#include <structmember.h>

#include <cstddef>
#include <string>

namespace ozra::access {
namespace {

enum Kind : int { qual, dad, quan, analog, kind_count };

struct MeasurementObject {
    PyObject_HEAD
    PyObject* measurement_index;
    PyObject* index;
    PyObject* lists[kind_count];  // the FunctionIndex records of each kind, in stored order
};

MeasurementObject* as_measurement(PyObject* self) { return reinterpret_cast<MeasurementObject*>(self); }

// What differs between the four kinds here (their interned names are in the state).
struct KindTexts {
    const char* list_field;
    const char* getter;
};

constexpr KindTexts kinds[kind_count] = {
    {"_Measurement__qual_index_list", "get_qual_analysis"},
    {"_Measurement__dad_index_list", "get_dad_analysis"},
    {"_Measurement__quan_index_list", "get_quan_analysis"},
    {"_Measurement__analog_index_list", "get_analog_analysis"},
};

// --- creation and the function index block ---------------------------------------------------

bool is_ms(PyObject* detector_type) {
    py::Ref detector_types = global(state().names.detector_types);
    py::Ref ms = py::get_attr(detector_types.get(), state().names.ms);
    return py::equals(detector_type, ms.get());
}

Kind kind_of(PyObject* function_index) {
    py::Ref description = py::get_attr(function_index, state().names.function_description);
    py::Ref is_qual = py::get_attr(description.get(), state().names.is_qual);
    if (py::is_true(is_qual.get())) {
        py::Ref qual_description = py::get_attr(description.get(), state().names.qual_description);
        py::Ref detector_type = py::get_attr(qual_description.get(), state().names.qual_detector_type);
        return is_ms(detector_type.get()) ? qual : dad;
    }
    py::Ref quan_description = py::get_attr(description.get(), state().names.quan_description);
    py::Ref detector_type = py::get_attr(quan_description.get(), state().names.quan_detector_type);
    return is_ms(detector_type.get()) ? quan : analog;
}


// Each function goes to the list of its kind as it is read.
bool take_function(PyObject* function_index, void* measurement_object) noexcept {
    return py::guard_int([&] {
        PyObject* self = static_cast<PyObject*>(measurement_object);
        const Kind kind = kind_of(function_index);
        py::append(py::require_field(as_measurement(self)->lists[kind], self, kinds[kind].list_field), function_index);
        return 0;
    }) == 0;
}

void read_function_index_block(PyObject* self, PyObject* reader) {
    const AccessNames& names = state().names;
    MeasurementObject* measurement = as_measurement(self);
    PyObject* measurement_index =
        py::require_field(measurement->measurement_index, self, "_Measurement__measurement_index");
    py::Ref position = py::get_attr(measurement_index, names.measurement_index_position);
    py::Ref create = py::get_attr(global(names.function_index).get(), names.function_index_create_instance);
    if (!storage::value_types_api().read_function_index_block(reader, position.get(), create.get(), take_function,
                                                               self)) {
        py::throw_error();
    }
}

PyObject* measurement_create_instance(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&] {
        static const py::Parameters parameters("__create_instance", {"measurement_index", "index"}, 2);
        auto arguments = py::parse_arguments<2>(parameters, args, nargs, kwnames);
        py::Ref instance = py::allocate(py::as_class(cls));
        MeasurementObject* measurement = as_measurement(instance.get());
        py::set_object_field(measurement->measurement_index, arguments[0]);
        py::set_object_field(measurement->index, arguments[1]);
        for (PyObject*& list : measurement->lists) py::set_object_field(list, py::new_list());
        py::Ref reader = py::get_attr(measurement->measurement_index, state().names.measurement_index_reader);
        py::call_method(instance.get(), state().names.measurement_read, reader.get());
        return instance;
    });
}

PyObject* measurement_read(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&] {
        static const py::Parameters parameters("__read", {"reader"}, 1);
        auto arguments = py::parse_arguments<1>(parameters, args, nargs, kwnames);
        read_function_index_block(self, arguments[0]);
        return py::Ref::none();
    });
}

// --- counts and analysis getters -------------------------------------------------------------

PyObject* kind_list(PyObject* self, Kind kind) {
    return py::require_field(as_measurement(self)->lists[kind], self, kinds[kind].list_field);
}

template <Kind kind>
PyObject* analysis_count(PyObject* self, PyObject*) {
    return py::guard([&] { return py::from_size(PyList_GET_SIZE(kind_list(self, kind))); });
}

template <Kind kind>
PyObject* get_analysis(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&] {
        static const py::Parameters parameters(kinds[kind].getter, {"index"}, 1);
        PyObject* index = py::parse_arguments<1>(parameters, args, nargs, kwnames)[0];
        PyObject* list = kind_list(self, kind);
        py::check_index(index, PyList_GET_SIZE(list));
        py::Ref function_index = py::Ref::checked(PyObject_GetItem(list, index));
        const AnalysisKindNames& names = state().analysis_kinds[kind];
        py::Ref analysis_class = global(names.analysis_class);
        return py::call_method(analysis_class.get(), names.create_instance, function_index.get(), index);
    });
}

// --- properties and text form ----------------------------------------------------------------

PyObject* index_property(PyObject* self, void*) {
    return py::guard(
        [&] { return py::Ref::borrow(py::require_field(as_measurement(self)->index, self, "_Measurement__index")); });
}

// A field of the measurement's description record, read at every access;
// `closure` points at the field's interned mangled name (a py::Kept).
PyObject* description_property(PyObject* self, void* closure) {
    return py::guard([&] {
        PyObject* measurement_index =
            py::require_field(as_measurement(self)->measurement_index, self, "_Measurement__measurement_index");
        py::Ref description = py::get_attr(measurement_index, state().names.measurement_description);
        return py::get_attr(description.get(), *static_cast<const py::Kept*>(closure));
    });
}

bool has_text(PyObject* value) { return py::not_equals_none(value) && py::not_equals(value, state().names.empty); }

PyObject* measurement_str(PyObject* self) {
    return py::guard([&] {
        py::Text text;
        // "[label] value, " for a field that holds text.
        auto add_field = [&](const char* label, PyObject* value) {
            if (!has_text(value)) return;
            text.add(label);
            text.add_str(value);
            text.add(", ");
        };
        py::Ref sample_name = py::get_attr(self, state().names.sample_name);
        add_field("[Sample Name] ", sample_name.get());
        py::Ref sample_id = py::get_attr(self, state().names.sample_id);
        add_field("[Sample ID] ", sample_id.get());
        const char* labels[] = {"[#Qual] ", ", [#Quan] ", ", [#DAD] ", ", [#Analog] "};
        const Kind order[] = {qual, quan, dad, analog};
        for (int i = 0; i < kind_count; ++i) {
            py::Ref count = py::call_method(self, state().analysis_kinds[order[i]].counter);
            text.add(labels[i]);
            text.add_str(count.get());
        }
        return text.finish();
    });
}

// --- the class -------------------------------------------------------------------------------

PyMethodDef measurement_methods[] = {
    {"_Measurement__create_instance", py::method_cast(measurement_create_instance), py::fastcall_flags | METH_CLASS,
     "_Measurement__create_instance($type, /, measurement_index, index)\n--\n\n"
     "Creates the measurement of `measurement_index` at position `index` and reads its function index block."},
    {"_Measurement__read", py::method_cast(measurement_read), py::fastcall_flags,
     "_Measurement__read($self, /, reader)\n--\n\n"
     "Reads the measurement's function index block through `reader` and sorts the functions into four kinds."},
    {"get_qual_analysis_count", analysis_count<qual>, METH_NOARGS,
     "get_qual_analysis_count($self, /)\n--\n\n"
     "The number of qualitative MS analyses."},
    {"get_dad_analysis_count", analysis_count<dad>, METH_NOARGS,
     "get_dad_analysis_count($self, /)\n--\n\n"
     "The number of DAD analyses."},
    {"get_quan_analysis_count", analysis_count<quan>, METH_NOARGS,
     "get_quan_analysis_count($self, /)\n--\n\n"
     "The number of quantitative MS analyses."},
    {"get_analog_analysis_count", analysis_count<analog>, METH_NOARGS,
     "get_analog_analysis_count($self, /)\n--\n\n"
     "The number of analog-detector analyses."},
    {"get_qual_analysis", py::method_cast(get_analysis<qual>), py::fastcall_flags,
     "get_qual_analysis($self, /, index)\n--\n\n"
     "A new QualAnalysis of the qualitative MS function at position `index`; Exception if out of range."},
    {"get_dad_analysis", py::method_cast(get_analysis<dad>), py::fastcall_flags,
     "get_dad_analysis($self, /, index)\n--\n\n"
     "A new DADAnalysis of the DAD function at position `index`; Exception if out of range."},
    {"get_quan_analysis", py::method_cast(get_analysis<quan>), py::fastcall_flags,
     "get_quan_analysis($self, /, index)\n--\n\n"
     "A new QuanAnalysis of the quantitative MS function at position `index`; Exception if out of range."},
    {"get_analog_analysis", py::method_cast(get_analysis<analog>), py::fastcall_flags,
     "get_analog_analysis($self, /, index)\n--\n\n"
     "A new AnalogAnalysis of the analog-detector function at position `index`; Exception if out of range."},
    {nullptr, nullptr, 0, nullptr},
};

constexpr Py_ssize_t list_offset(Kind kind) {
    return static_cast<Py_ssize_t>(offsetof(MeasurementObject, lists) + sizeof(PyObject*) * kind);
}

PyMemberDef measurement_members[] = {
    {"_Measurement__measurement_index", T_OBJECT_EX, offsetof(MeasurementObject, measurement_index), READONLY,
     nullptr},
    {"_Measurement__index", T_OBJECT_EX, offsetof(MeasurementObject, index), READONLY, nullptr},
    {"_Measurement__qual_index_list", T_OBJECT_EX, list_offset(qual), READONLY, nullptr},
    {"_Measurement__dad_index_list", T_OBJECT_EX, list_offset(dad), READONLY, nullptr},
    {"_Measurement__quan_index_list", T_OBJECT_EX, list_offset(quan), READONLY, nullptr},
    {"_Measurement__analog_index_list", T_OBJECT_EX, list_offset(analog), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

struct DescriptionProperty {
    const char* name;
    const char* doc;
};

constexpr DescriptionProperty description_properties[] = {
    {"hash", "The hash value stored in the measurement's description (not the object's hash())."},
    {"sample_name", "The sample's name, as stored."},
    {"sample_id", "The sample's identifier, as stored."},
    {"acquisition_method_file_name", "The file name of the acquisition method, as stored."},
    {"dilution_factor", "The sample's dilution factor, as stored."},
    {"injection_volume", "The injected volume, as stored."},
    {"original_file_path", "The path of the vendor file the measurement was converted from, as stored."},
    {"instrument_product_name", "The instrument's product name, as stored."},
    {"measurement_user_name", "The user who made the measurement, as stored."},
    {"plate_code", "The code of the sample plate, as stored."},
    {"well_code", "The code of the plate well, as stored."},
    {"measurement_date_time", "The date and time of the measurement, as stored."},
    {"instrument_manufacturer", "The instrument's manufacturer, as stored."},
    {"source_file_definition", "The definition of the source file, as stored."},
    {"supplemental_properties", "Further stored properties of the measurement, as a mapping."},
};
constexpr int description_property_count = sizeof(description_properties) / sizeof(description_properties[0]);

PyGetSetDef measurement_getset[1 + description_property_count + 1] = {
    {"index", index_property, nullptr, "The measurement's position in the file, the object given to get_measurement.",
     nullptr},
};

// The properties' closures point at the field names in the state.
void fill_description_properties() {
    std::vector<py::Kept>& field_names = state().description_fields;
    field_names.clear();
    for (const DescriptionProperty& property : description_properties) {
        field_names.push_back(py::intern((std::string("_MeasurementDescription__") + property.name).c_str()));
    }
    for (int i = 0; i < description_property_count; ++i) {
        const DescriptionProperty& property = description_properties[i];
        measurement_getset[1 + i] = {property.name, description_property, nullptr, property.doc, &field_names[i]};
    }
}

PyType_Slot measurement_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(py::protected_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(py::dealloc_object_fields<MeasurementObject>)},
    {Py_tp_traverse, reinterpret_cast<void*>(py::traverse_object_fields<MeasurementObject>)},
    {Py_tp_clear, reinterpret_cast<void*>(py::clear_object_fields<MeasurementObject>)},
    {Py_tp_str, reinterpret_cast<void*>(measurement_str)},
    {Py_tp_repr, reinterpret_cast<void*>(measurement_str)},
    {Py_tp_methods, measurement_methods},
    {Py_tp_members, measurement_members},
    {Py_tp_getset, measurement_getset},
    {Py_tp_doc, const_cast<char*>(
                    "One measurement (acquisition) of an Ozra file: its analyses of four kinds (qualitative MS, "
                    "DAD, quantitative MS, analog) and its descriptive metadata. Made by OzraFile.get_measurement;"
                    " keep that OzraFile open while using it."
                    " Not picklable: it reads through its file's open reader (pickle the OzraFile, which pickles as its path).")},
    {0, nullptr},
};

PyType_Spec measurement_spec = {"ozra_data_access.access.Measurement", sizeof(MeasurementObject), 0,
                                Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC, measurement_slots};

}  // namespace

void add_measurement_type(PyObject* module) {
    fill_description_properties();
    py::add_type(module, &measurement_spec);
}

}  // namespace ozra::access
