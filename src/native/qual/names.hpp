// Interned attribute names the qual module reads and calls, part of its state
    // (qual_module.hpp): created together when the module is first loaded.
#pragma once

#include "python/ref.hpp"
#include "python/types.hpp"

namespace ozra::qual {

struct QualNames {
    // Module-level names bound at import, looked up when a method runs.
    py::Kept SpectrumIndex = py::intern("SpectrumIndex");
    py::Kept XicInfo = py::intern("XicInfo");
    py::Kept SpectrumBasedChromatogramPoint = py::intern("SpectrumBasedChromatogramPoint");
    py::Kept ValueRange = py::intern("ValueRange");
    py::Kept AcquisitionCondition = py::intern("AcquisitionCondition");
    py::Kept Spectrum = py::intern("Spectrum");
    py::Kept DADSpectrum = py::intern("DADSpectrum");
    py::Kept sys = py::intern("sys");

    // Reader methods.
    py::Kept set_buffer = py::intern("_OzraFileReader__set_buffer");
    py::Kept read_spectrum_for_multiple_xic = py::intern("_OzraFileReader__read_spectrum_for_multiple_xic");
    py::Kept read_dad_spectrum_for_multiple_xic = py::intern("_OzraFileReader__read_dad_spectrum_for_multiple_xic");

    // Index record fields and methods.
    py::Kept function_index_reader = py::intern("_FunctionIndex__reader");
    py::Kept function_index_position = py::intern("_FunctionIndex__position");
    py::Kept function_description = py::intern("_FunctionIndex__function_description");
    py::Kept qual_description = py::intern("_FunctionDescription__qual_description");
    py::Kept unique_acquisition_condition_list = py::intern("_QualDescription__unique_acquisition_condition_list");
    py::Kept wavelength_arr = py::intern("_QualDescription__wavelength_arr");
    py::Kept qual_supplemental_properties = py::intern("_QualDescription__supplemental_properties");
    py::Kept spectrum_index_create_instance = py::intern("_SpectrumIndex__create_instance");
    py::Kept spectrum_index_reader = py::intern("_SpectrumIndex__reader");
    py::Kept spectrum_index_position = py::intern("_SpectrumIndex__position");
    py::Kept spectrum_index_profile_position = py::intern("_SpectrumIndex__profile_position");
    py::Kept spectrum_index_description = py::intern("_SpectrumIndex__spectrum_description");
    py::Kept xic_info_create_instance = py::intern("_XicInfo__create_instance");
    py::Kept xic_info_is_break_to_read = py::intern("_XicInfo__is_break_to_read");
    py::Kept xic_info_spectrum_point = py::intern("_XicInfo__spectrum_point");
    py::Kept xic_info_xic = py::intern("_XicInfo__xic");

    // Spectrum description fields.
    py::Kept desc_index = py::intern("_InternalSpectrumDescription__index");
    py::Kept desc_retention_time = py::intern("_InternalSpectrumDescription__retention_time");
    py::Kept desc_acquisition_condition = py::intern("_InternalSpectrumDescription__acquisition_condition");
    py::Kept desc_acquisition_condition_index = py::intern("_InternalSpectrumDescription__acquisition_condition_index");
    py::Kept desc_precursor_index = py::intern("_InternalSpectrumDescription__precursor_index");
    py::Kept desc_product_indices = py::intern("_InternalSpectrumDescription__product_indices");
    py::Kept desc_spectrum_type = py::intern("_InternalSpectrumDescription__spectrum_type");
    py::Kept desc_supplemental_properties = py::intern("_InternalSpectrumDescription__supplemental_properties");
    py::Kept desc_current_total_ion = py::intern("_InternalSpectrumDescription__current_total_ion");
    py::Kept desc_base_peak_intensity = py::intern("_InternalSpectrumDescription__base_peak_intensity");
    py::Kept desc_base_peak_mz = py::intern("_InternalSpectrumDescription__base_peak_mz");

    // Enumeration members and plain attributes.
    py::Kept float_info = py::intern("float_info");
    py::Kept max = py::intern("max");
    py::Kept min = py::intern("min");
    py::Kept value = py::intern("value");
    py::Kept x = py::intern("x");
    py::Kept intensity = py::intern("intensity");
    py::Kept contains_value = py::intern("contains_value");
    py::Kept get_spectrum = py::intern("get_spectrum");
    py::Kept ms_level = py::intern("ms_level");
    py::Kept polarity = py::intern("polarity");
    py::Kept collision_energy = py::intern("collision_energy");
    py::Kept sort = py::intern("sort");
    py::Kept clear = py::intern("clear");

    // ChromatogramFilterOption properties.
    py::Kept acquisition_condition = py::intern("acquisition_condition");
    py::Kept extract_mz_range = py::intern("extract_mz_range");
    py::Kept retention_time_range = py::intern("retention_time_range");

    // The classes' own private methods.
    py::Kept qual_analysis_read = py::intern("_QualAnalysis__read");
    py::Kept dad_analysis_read = py::intern("_DADAnalysis__read");
    py::Kept spectrum_create_instance = py::intern("_Spectrum__create_instance");
    py::Kept dad_spectrum_create_instance = py::intern("_DADSpectrum__create_instance");

    // Attributes and texts of str() and of the XIC matrix.
    py::Kept index = py::intern("index");
    py::Kept get_spectra_count = py::intern("get_spectra_count");
    py::Kept get_spectrum_points = py::intern("get_spectrum_points");
    py::Kept unique_acquisition_conditions = py::intern("unique_acquisition_conditions");
    py::Kept xic_matrix = py::intern("_xic_matrix");
    py::Kept binned_map = py::intern("_binned_map");
    py::Kept qual_table = py::intern("qual_table");
    py::Kept dad_table = py::intern("dad_table");
    py::Kept condition_label = py::intern("[AcquisitionCondition] ");
    py::Kept mz_range_label = py::intern(", [Extract m/z Range] ");
    py::Kept time_range_label = py::intern(", [Retention Time Range] ");
    py::Kept point_zero_suffix = py::intern(".0");
    py::Kept empty_text = py::intern("");
};

}  // namespace ozra::qual
