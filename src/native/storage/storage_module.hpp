// The storage layer's native module, ozra_data_access._internal._storage.
#pragma once

#include "python/ref.hpp"
#include "storage/api/storage_api.hpp"
#include "storage/call_names.hpp"
#include "storage/records.hpp"

namespace ozra::storage {

// The module's one state, set once at module initialisation and never destroyed
// (the record classes point into it): its classes (those the capsule hands out
// among them), what the record classes keep, and, in imports.hpp, the objects it
// imports.
struct StorageState {
    storage::ValueTypesApi value_types{};
    DescriptionTypes descriptions{};
    PyTypeObject* reader = nullptr;
    PyTypeObject* stream = nullptr;
    PyTypeObject* measurement_index = nullptr;
    PyTypeObject* function_index = nullptr;
    PyTypeObject* xic_info = nullptr;
    PyTypeObject* description_frame = nullptr;
    RecordRegistry records;
    CallNames call_names;
};

StorageState& state();

// ValueRange(min, max) of the native class.
py::Ref new_value_range(py::Ref min, py::Ref max);

// Each part of the module adds its classes (called in this order at load).
void add_value_types(PyObject* module, storage::ValueTypesApi& api);
void add_reader_types(PyObject* module, StorageState& state);

}  // namespace ozra::storage
