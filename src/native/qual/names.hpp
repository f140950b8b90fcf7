// Interned attribute names the qual module reads and calls, created once at load.
#pragma once

#include "ref.hpp"

namespace ozra::qual::names {

// Creates every name below; called once from the module's initialisation.
void intern_all();

// Module-level names bound at import, looked up when a method runs.
extern PyObject* OzraSymbols;
extern PyObject* SpectrumIndex;
extern PyObject* XicInfo;
extern PyObject* SpectrumBasedChromatogramPoint;
extern PyObject* ValueRange;
extern PyObject* AcquisitionCondition;
extern PyObject* Spectrum;
extern PyObject* DADSpectrum;
extern PyObject* sys;

// Reader methods.
extern PyObject* set_buffer;
extern PyObject* confirm_ozra_symbol;
extern PyObject* get_absolute_position;
extern PyObject* read_uint32;
extern PyObject* read_bool;
extern PyObject* read_int64_array;
extern PyObject* set_decompressed_buffer;
extern PyObject* reset_decompressed_buffer;
extern PyObject* read_spectrum;
extern PyObject* read_dad_spectrum;
extern PyObject* read_spectrum_for_multiple_xic;
extern PyObject* read_dad_spectrum_for_multiple_xic;

// Index record fields and methods.
extern PyObject* function_index_reader;
extern PyObject* function_index_position;
extern PyObject* function_description;
extern PyObject* qual_description;
extern PyObject* unique_acquisition_condition_list;
extern PyObject* wavelength_arr;
extern PyObject* qual_supplemental_properties;
extern PyObject* spectrum_index_create_instance;
extern PyObject* spectrum_index_reader;
extern PyObject* spectrum_index_position;
extern PyObject* spectrum_index_profile_position;
extern PyObject* spectrum_index_description;
extern PyObject* set_profile_position;
extern PyObject* xic_info_create_instance;
extern PyObject* xic_info_is_break_to_read;
extern PyObject* xic_info_spectrum_point;
extern PyObject* xic_info_xic;

// Spectrum description fields.
extern PyObject* desc_index;
extern PyObject* desc_retention_time;
extern PyObject* desc_acquisition_condition;
extern PyObject* desc_acquisition_condition_index;
extern PyObject* desc_precursor_index;
extern PyObject* desc_product_indices;
extern PyObject* desc_spectrum_type;
extern PyObject* desc_supplemental_properties;
extern PyObject* desc_current_total_ion;
extern PyObject* desc_base_peak_intensity;
extern PyObject* desc_base_peak_mz;

// Enumeration members and plain attributes.
extern PyObject* BEGIN_OF_SPECTRUM_INDEX_BLOCK;
extern PyObject* END_OF_SPECTRUM_INDEX_BLOCK;
extern PyObject* float_info;
extern PyObject* max;
extern PyObject* min;
extern PyObject* value;
extern PyObject* x;
extern PyObject* intensity;
extern PyObject* contains_value;
extern PyObject* get_spectrum;
extern PyObject* ms_level;
extern PyObject* polarity;
extern PyObject* collision_energy;
extern PyObject* sort;
extern PyObject* clear;

// ChromatogramFilterOption properties.
extern PyObject* acquisition_condition;
extern PyObject* extract_mz_range;
extern PyObject* retention_time_range;

}  // namespace ozra::qual::names
