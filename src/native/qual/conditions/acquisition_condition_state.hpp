// What AcquisitionCondition keeps for the life of the process, part of the module's state.
#pragma once

#include "python/ref.hpp"
#include "python/types.hpp"
#include "qual/conditions/enum_members.hpp"

#include <vector>

namespace ozra::qual {

// What the class keeps for the life of the process, in the module's state
// (qual_module.hpp): its type, the enumerations it reads and its interned names.
struct AcquisitionConditionState {
    PyTypeObject* type = nullptr;
    EnumMembers spectrum_types{"SpectrumTypes", {"UNKNOWN", "PROFILE", "CENTROID"}};  // SpectrumType's order
    EnumMembers polarity_types{"PolarityTypes", {"POSITIVE", "NEGATIVE", "BOTH"}};

    py::Kept acquisition_condition_class = py::intern("InternalAcquisitionCondition");
    py::Kept spectrum_description_class = py::intern("InternalSpectrumDescription");
    py::Kept keys = py::intern("keys");
    py::Kept one{py::from_long(1)};

    // InternalAcquisitionCondition and its core
    py::Kept core = py::intern("_InternalAcquisitionCondition__internal_acquisition_core_condition");
    py::Kept condition_precursor_range = py::intern("_InternalAcquisitionCondition__precursor_range");
    py::Kept condition_precursor_value = py::intern("_InternalAcquisitionCondition__precursor_value");
    py::Kept core_ms_level = py::intern("_InternalAcquisitionCoreCondition__ms_level");
    py::Kept core_polarity = py::intern("_InternalAcquisitionCoreCondition__polarity");
    py::Kept core_collision_energy = py::intern("_InternalAcquisitionCoreCondition__collision_energy");
    py::Kept core_mass_range = py::intern("_InternalAcquisitionCoreCondition__mass_range");
    py::Kept core_spectrum_type = py::intern("_InternalAcquisitionCoreCondition__original_measured_spectrum_type");
    py::Kept core_vendor = py::intern("_InternalAcquisitionCoreCondition__vendor_specific_additional_condition");
    py::Kept core_triple_q = py::intern("_InternalAcquisitionCoreCondition__triple_q_scan_condition");
    py::Kept vendor_type = py::intern("_VendorSpecificAdditionalCondition__type");
    py::Kept triple_q_type = py::intern("_TripleQScanCondition__type");

    // InternalSpectrumDescription
    py::Kept ms_level = py::intern("_InternalSpectrumDescription__ms_level");
    py::Kept polarity = py::intern("_InternalSpectrumDescription__polarity");
    py::Kept collision_energy = py::intern("_InternalSpectrumDescription__collision_energy");
    py::Kept mass_range = py::intern("_InternalSpectrumDescription__mass_range");
    py::Kept is_profile = py::intern("_InternalSpectrumDescription__is_profile_spectrum_measured");
    py::Kept precursor_range = py::intern("_InternalSpectrumDescription__precursor_range");
    py::Kept precursor_value = py::intern("_InternalSpectrumDescription__precursor_value");
    py::Kept cone_voltage = py::intern("_InternalSpectrumDescription__cone_voltage");
    py::Kept supplemental_properties = py::intern("_InternalSpectrumDescription__supplemental_properties");

    // Text
    py::Kept ms = py::intern("MS");
    py::Kept plus = py::intern("+");
    py::Kept minus = py::intern("-");
    py::Kept both = py::intern("+/-");
    py::Kept mass_range_label = py::intern(", [Mass Range] ");
    py::Kept collision_energy_label = py::intern(", [Collision Energy] ");
    py::Kept precursor_value_label = py::intern(", [Precursor Value] ");
    py::Kept precursor_range_label = py::intern(", [Precursor Range] ");
    py::Kept profile_label = py::intern(", [Original Measured Spectrum Type] Profile");
    py::Kept centroid_label = py::intern(", [Original Measured Spectrum Type] Centroid");
    py::Kept separator = py::intern("; ");

    std::vector<py::Kept> properties;  // the property names, in field order, made with the class
};

}  // namespace ozra::qual
