// The index blocks: a measurement's function index block (read by access) and a
// function's spectrum index block (read by the MS analyses and the trace functions).
#pragma once

#include "python/ref.hpp"
#include "storage/api/storage_api.hpp"

namespace ozra::storage {

// See ValueTypesApi::read_spectrum_index_block. A new reference, or null with the error set.
PyObject* read_spectrum_index_block(PyObject* reader, PyObject* position, PyObject* create, bool set_profiles,
                                    bool lazily, PublishRecords publish, void* context) noexcept;

// See ValueTypesApi::read_function_index_block.
bool read_function_index_block(PyObject* reader, PyObject* position, PyObject* create, TakeRecord take,
                               void* context) noexcept;

// _storage._read_spectrum_index_block(reader, position, create): the records, for Python callers.
PyObject* read_spectrum_index_block_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                             PyObject* kwnames);

}  // namespace ozra::storage
