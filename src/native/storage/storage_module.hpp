// The storage layer's native module, ozra_data_access._internal._storage.
#pragma once

#include "records.hpp"
#include "ref.hpp"
#include "storage_api.hpp"

namespace ozra::storage {

// What the module's parts share, set once at module initialisation.
struct StorageState {
    DescriptionTypes descriptions{};
    storage::ValueTypesApi value_types{};
};

StorageState& state();

// ValueRange(min, max) of the native class.
py::Ref new_value_range(py::Ref min, py::Ref max);

// Each part of the module adds its classes (called in this order at load).
void add_value_types(PyObject* module, storage::ValueTypesApi& api);
void add_reader_types(PyObject* module, StorageState& state);

}  // namespace ozra::storage
