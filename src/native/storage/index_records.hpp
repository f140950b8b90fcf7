// The index records (JumpTable, MeasurementIndex, FunctionIndex)
// and XicInfo, with their factories.
#pragma once

#include "python/ref.hpp"
#include "storage/reader_object.hpp"

namespace ozra::storage {

namespace field {
enum JumpTable : int {
    num_measurements, measurement_index_list, major_version, minor_version, revision_version, major_lib_version,
    minor_lib_version, revision_lib_version,
};
enum MeasurementIndex : int { measurement_reader, measurement_position, measurement_description };
enum FunctionIndex : int { function_reader, function_position, function_description };
enum XicInfo : int { xic_range, is_break_to_read, spectrum_point, xic };
}  // namespace field

// A FunctionIndex of class `cls` for the next function description of the frame
// `reader` reads (its checks made), its spectrum index block at `position`:
// FunctionIndex.__create_instance.
py::Ref make_function_index(PyTypeObject* cls, PyObject* reader_object, ReaderState& reader, PyObject* position);

// Whether `create` is the storage layer's own FunctionIndex.__create_instance, bound to its class.
bool is_native_function_index_create_instance(PyObject* create) noexcept;

// Adds the index record classes but SpectrumIndex (spectrum_index.hpp).
void add_index_types(PyObject* module);

}  // namespace ozra::storage
