// The extension module ozra_data_access.access: the file object and measurements.
#pragma once

#include "python/ref.hpp"
#include "python/types.hpp"

#include <array>
#include <vector>

namespace ozra::access {

// Interned names the module reads and calls, created with its state.
struct AccessNames {
    // OzraFile
    py::Kept reader_class = py::intern("OzraFileReader");
    py::Kept reader_create_instance = py::intern("_OzraFileReader__create_instance");
    py::Kept stream = py::intern("_OzraFileReader__stream");
    py::Kept closed = py::intern("closed");
    py::Kept close = py::intern("close");
    py::Kept jump_table_class = py::intern("JumpTable");
    py::Kept jump_table_create_instance = py::intern("_JumpTable__create_instance");
    py::Kept num_measurements = py::intern("_JumpTable__num_measurements");
    py::Kept measurement_index_list = py::intern("_JumpTable__measurement_index_list");
    py::Kept measurement_class = py::intern("Measurement");
    py::Kept measurement_create_instance = py::intern("_Measurement__create_instance");
    py::Kept ozra_exception = py::intern("OzraException");
    std::array<py::Kept, 3> format_version = {py::intern("_JumpTable__major_version"),
                                              py::intern("_JumpTable__minor_version"),
                                              py::intern("_JumpTable__revision_version")};
    std::array<py::Kept, 3> converter_version = {py::intern("_JumpTable__major_lib_version"),
                                                 py::intern("_JumpTable__minor_lib_version"),
                                                 py::intern("_JumpTable__revision_lib_version")};

    // Measurement
    py::Kept measurement_read = py::intern("_Measurement__read");
    py::Kept measurement_index_reader = py::intern("_MeasurementIndex__reader");
    py::Kept measurement_index_position = py::intern("_MeasurementIndex__position");
    py::Kept measurement_description = py::intern("_MeasurementIndex__measurement_description");
    py::Kept function_index = py::intern("FunctionIndex");
    py::Kept function_index_create_instance = py::intern("_FunctionIndex__create_instance");
    py::Kept function_description = py::intern("_FunctionIndex__function_description");
    py::Kept is_qual = py::intern("_FunctionDescription__is_qual");
    py::Kept qual_description = py::intern("_FunctionDescription__qual_description");
    py::Kept quan_description = py::intern("_FunctionDescription__quan_description");
    py::Kept qual_detector_type = py::intern("_QualDescription__detector_type");
    py::Kept quan_detector_type = py::intern("_QuanDescription__detector_type");
    py::Kept detector_types = py::intern("DetectorTypes");
    py::Kept ms = py::intern("MS");
    py::Kept sample_name = py::intern("sample_name");
    py::Kept sample_id = py::intern("sample_id");
    py::Kept empty = py::intern("");
};

// What differs between a measurement's four kinds of analysis, in the order qual,
// DAD, quan, analog.
struct AnalysisKindNames {
    py::Kept counter;          // get_qual_analysis_count
    py::Kept analysis_class;   // QualAnalysis, looked up in the module's namespace
    py::Kept create_instance;  // _QualAnalysis__create_instance
};

// The module's one state, made when the module is first loaded and never destroyed:
// the Measurement type's properties point into it until the process ends.
struct AccessState {
    py::Kept module;
    AccessNames names;
    std::array<AnalysisKindNames, 4> analysis_kinds = {{
        {py::intern("get_qual_analysis_count"), py::intern("QualAnalysis"),
         py::intern("_QualAnalysis__create_instance")},
        {py::intern("get_dad_analysis_count"), py::intern("DADAnalysis"), py::intern("_DADAnalysis__create_instance")},
        {py::intern("get_quan_analysis_count"), py::intern("QuanAnalysis"),
         py::intern("_QuanAnalysis__create_instance")},
        {py::intern("get_analog_analysis_count"), py::intern("AnalogAnalysis"),
         py::intern("_AnalogAnalysis__create_instance")},
    }};
    std::vector<py::Kept> description_fields;  // _MeasurementDescription__<property>, made with the type
};

AccessState& state();

// Adds OzraFile and Measurement to the module at load.
void add_file_types(PyObject* module);
void add_measurement_type(PyObject* module);

// The object bound to `name` in the module, looked up when a method runs so that
// a test or a caller can put another object (a stand-in reader, say) in its
// place: every class is reached through the module's namespace at call time, and
// every storage call through an attribute lookup on the object (py::call_method
// with a mangled member name, interned at load). `name` must be interned.
py::Ref global(PyObject* name);

}  // namespace ozra::access
