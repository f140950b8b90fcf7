#include "records.hpp"

#include "entry.hpp"
#include "types.hpp"

#include <structmember.h>

#include <cstddef>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace ozra::storage {
namespace {

// Names, member tables and specs must outlive the classes made from them.
std::deque<std::string>& kept_strings() {
    static std::deque<std::string> strings;
    return strings;
}
const char* keep(std::string text) { return kept_strings().emplace_back(std::move(text)).c_str(); }

Py_ssize_t field_count(PyObject* self) {
    return (Py_TYPE(self)->tp_basicsize - static_cast<Py_ssize_t>(offsetof(RecordObject, fields))) /
           static_cast<Py_ssize_t>(sizeof(PyObject*));
}

int record_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    auto* record = reinterpret_cast<RecordObject*>(self);
    for (Py_ssize_t i = 0, n = field_count(self); i < n; ++i) Py_VISIT(record->fields[i]);
    return 0;
}

int record_clear(PyObject* self) {
    auto* record = reinterpret_cast<RecordObject*>(self);
    for (Py_ssize_t i = 0, n = field_count(self); i < n; ++i) Py_CLEAR(record->fields[i]);
    return 0;
}

void record_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    record_clear(self);
    type->tp_free(self);
    Py_DECREF(type);
}

// The short field names of each record class, in layout order.
std::vector<std::pair<PyTypeObject*, std::vector<std::string>>>& field_names() {
    static std::vector<std::pair<PyTypeObject*, std::vector<std::string>>> names;
    return names;
}

const std::vector<std::string>& field_names_of(PyTypeObject* type) {
    for (const auto& [record_type, names] : field_names()) {
        if (record_type == type) return names;
    }
    py::raise(PyExc_TypeError, "not a record class");
}

// Record(**fields): keyword arguments of the short field names, the rest None.
PyObject* record_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return py::guard([&]() -> py::Ref {
        if (PyTuple_GET_SIZE(args) != 0) {
            PyErr_Format(PyExc_TypeError, "%s() takes keyword arguments only", type->tp_name);
            py::throw_error();
        }
        py::Ref record = new_record(type);
        if (kwargs == nullptr) return record;
        const std::vector<std::string>& names = field_names_of(type);
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
            set_record_field(record.get(), index, py::Ref::borrow(value));
        }
        return record;
    });
}

}  // namespace

py::Ref new_record(PyTypeObject* type) {
    py::Ref record = py::allocate(type);
    auto* fields = reinterpret_cast<RecordObject*>(record.get())->fields;
    for (Py_ssize_t i = 0, n = field_count(record.get()); i < n; ++i) fields[i] = py::Ref::none().release();
    return record;
}

void set_record_field(PyObject* record, int index, py::Ref value) {
    Py_SETREF(reinterpret_cast<RecordObject*>(record)->fields[index], value.release());
}

PyTypeObject* add_record_type(PyObject* module, const RecordLayout& layout) {
    auto* members = new std::vector<PyMemberDef>();
    int index = 0;
    for (const char* name : layout.fields) {
        bool writable = false;
        for (const char* w : layout.writable_fields) writable = writable || std::string(w) == name;
        members->push_back(PyMemberDef{
            keep(std::string("_") + layout.class_name + "__" + name), T_OBJECT,
            static_cast<Py_ssize_t>(offsetof(RecordObject, fields) + sizeof(PyObject*) * index),
            writable ? 0 : READONLY, nullptr});
        ++index;
    }
    members->push_back(PyMemberDef{nullptr, 0, 0, 0, nullptr});

    auto* slots = new std::vector<PyType_Slot>{
        {Py_tp_new, reinterpret_cast<void*>(record_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(record_dealloc)},
        {Py_tp_traverse, reinterpret_cast<void*>(record_traverse)},
        {Py_tp_clear, reinterpret_cast<void*>(record_clear)},
        {Py_tp_members, members->data()},
    };
    if (layout.methods) slots->push_back({Py_tp_methods, layout.methods});
    if (layout.doc) slots->push_back({Py_tp_doc, const_cast<char*>(layout.doc)});
    slots->push_back({0, nullptr});

    auto* spec = new PyType_Spec{
        keep(std::string("ozra_data_access._internal._storage.") + layout.class_name),
        static_cast<int>(offsetof(RecordObject, fields) + sizeof(PyObject*) * layout.fields.size()), 0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, slots->data()};
    PyTypeObject* type = py::add_type(module, spec);
    field_names().emplace_back(type, std::vector<std::string>(layout.fields.begin(), layout.fields.end()));
    return type;
}

DescriptionTypes add_description_types(PyObject* module) {
    DescriptionTypes types{};
    types.measurement_description = add_record_type(
        module, {"MeasurementDescription",
                 {"sample_name", "sample_id", "acquisition_method_file_name", "dilution_factor", "injection_volume",
                  "original_file_path", "instrument_product_name", "measurement_user_name", "plate_code", "well_code",
                  "measurement_date_time", "instrument_manufacturer", "source_file_definition",
                  "supplemental_properties", "hash"},
                 {},
                 nullptr,
                 "What a measurement's acquisition recorded: sample, instrument, user, dates, paths."});
    types.function_description = add_record_type(
        module, {"FunctionDescription",
                 {"is_qual", "qual_description", "quan_description"},
                 {},
                 nullptr,
                 "One function (analysis) of a measurement: qualitative or not, with its description."});
    types.qual_description = add_record_type(
        module, {"QualDescription",
                 {"detector_type", "supplemental_properties", "unique_acquisition_condition_list", "wavelength_arr"},
                 {},
                 nullptr,
                 "A qualitative function's detector, properties, stored condition list and wavelengths."});
    types.quan_description = add_record_type(
        module, {"QuanDescription",
                 {"detector_type", "supplemental_properties"},
                 {},
                 nullptr,
                 "A quantitative or analog function's detector and properties."});
    types.internal_spectrum_description = add_record_type(
        module, {"InternalSpectrumDescription",
                 {"index", "retention_time", "acquisition_condition", "acquisition_condition_index",
                  "precursor_index", "product_indices", "spectrum_type", "supplemental_properties",
                  "current_total_ion", "base_peak_intensity", "base_peak_mz", "ms_level", "polarity",
                  "collision_energy", "mass_range", "precursor_range", "precursor_value",
                  "is_profile_spectrum_measured", "cone_voltage"},
                 {"acquisition_condition"},
                 nullptr,
                 "One spectrum's stored description: index, retention time, summary values, condition fields."});
    types.internal_acquisition_condition = add_record_type(
        module, {"InternalAcquisitionCondition",
                 {"internal_acquisition_core_condition", "precursor_range", "precursor_value"},
                 {},
                 nullptr,
                 "An entry of a function's stored acquisition-condition list."});
    types.internal_acquisition_core_condition = add_record_type(
        module, {"InternalAcquisitionCoreCondition",
                 {"ms_level", "polarity", "collision_energy", "mass_range", "original_measured_spectrum_type",
                  "vendor_specific_additional_condition", "triple_q_scan_condition"},
                 {},
                 nullptr,
                 "The core of a stored acquisition condition."});
    types.vendor_specific_additional_condition = add_record_type(
        module, {"VendorSpecificAdditionalCondition",
                 {"type", "original_id", "cone_voltage", "scan_info_string"},
                 {},
                 nullptr,
                 "A vendor's own scan settings: scan definition number, source voltage, scan filter."});
    types.triple_q_scan_condition = add_record_type(
        module, {"TripleQScanCondition",
                 {"type", "target_mz", "q1_range", "q3_range"},
                 {},
                 nullptr,
                 "A triple-quadrupole scan mode with its fixed m/z and quadrupole ranges."});
    return types;
}

}  // namespace ozra::storage
