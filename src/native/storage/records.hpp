// Records: plain holders of decoded values, one object field per stored field.
//
// Every record class is made by the same mechanism from a table of field
// names. A field `name` of class `Cls` is reached from Python under its mangled
// name `_Cls__name`, read-only unless the table marks it writable. Records can
// also be built from Python with keyword arguments of the short names (fields
// not given are None), which is how tests and stand-in layers make them.
#pragma once

#include "ref.hpp"

#include <initializer_list>

namespace ozra::storage {

struct RecordObject {
    PyObject_HEAD
    PyObject* fields[1];  // really as many as the class has fields
};

struct RecordLayout {
    const char* class_name;  // short name; the module adds the package path
    std::initializer_list<const char*> fields;
    std::initializer_list<const char*> writable_fields;
    PyMethodDef* methods = nullptr;  // extra methods (factories), may be null
    const char* doc = nullptr;
};

// Creates the record class and binds it in the module.
PyTypeObject* add_record_type(PyObject* module, const RecordLayout& layout);

// A new record of `type` with every field None.
py::Ref new_record(PyTypeObject* type);

// Borrowed field value; `index` is the field's position in its layout.
inline PyObject* record_field(PyObject* record, int index) {
    return reinterpret_cast<RecordObject*>(record)->fields[index];
}
// Replaces a field, taking over the reference.
void set_record_field(PyObject* record, int index, py::Ref value);

// Field positions of each record, in the order of their layouts.
namespace field {
enum MeasurementDescription : int {
    sample_name, sample_id, acquisition_method_file_name, dilution_factor, injection_volume, original_file_path,
    instrument_product_name, measurement_user_name, plate_code, well_code, measurement_date_time,
    instrument_manufacturer, source_file_definition, measurement_supplemental_properties, hash,
};
enum FunctionDescription : int { is_qual, qual_description, quan_description };
enum QualDescription : int {
    qual_detector_type, qual_supplemental_properties, unique_acquisition_condition_list, wavelength_arr,
};
enum QuanDescription : int { quan_detector_type, quan_supplemental_properties };
enum InternalSpectrumDescription : int {
    spectrum_index, retention_time, acquisition_condition, acquisition_condition_index, precursor_index,
    product_indices, spectrum_type, spectrum_supplemental_properties, current_total_ion, base_peak_intensity,
    base_peak_mz, spectrum_ms_level, spectrum_polarity, spectrum_collision_energy, spectrum_mass_range,
    spectrum_precursor_range, spectrum_precursor_value, is_profile_spectrum_measured, spectrum_cone_voltage,
};
enum InternalAcquisitionCondition : int {
    internal_acquisition_core_condition, condition_precursor_range, condition_precursor_value,
};
enum InternalAcquisitionCoreCondition : int {
    core_ms_level, core_polarity, core_collision_energy, core_mass_range, original_measured_spectrum_type,
    vendor_specific_additional_condition, triple_q_scan_condition,
};
enum VendorSpecificAdditionalCondition : int { vendor_type, original_id, vendor_cone_voltage, scan_info_string };
enum TripleQScanCondition : int { scan_type, target_mz, q1_range, q3_range };
}  // namespace field

// The description record classes, created by add_description_types().
struct DescriptionTypes {
    PyTypeObject* measurement_description;
    PyTypeObject* function_description;
    PyTypeObject* qual_description;
    PyTypeObject* quan_description;
    PyTypeObject* internal_spectrum_description;
    PyTypeObject* internal_acquisition_condition;
    PyTypeObject* internal_acquisition_core_condition;
    PyTypeObject* vendor_specific_additional_condition;
    PyTypeObject* triple_q_scan_condition;
};

DescriptionTypes add_description_types(PyObject* module);

}  // namespace ozra::storage
