// The SpectrumIndex record: where a spectrum's points lie, with its description.
#pragma once

#include "python/ref.hpp"
#include "storage/api/storage_api.hpp"

namespace ozra::storage {

// Adds the SpectrumIndex class and sets the api's functions over its records; returns the class.
PyTypeObject* add_spectrum_index_type(PyObject* module, ValueTypesApi& api);

}  // namespace ozra::storage
