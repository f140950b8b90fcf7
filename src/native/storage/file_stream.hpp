// OzraFileStream: the reader's `__stream`, a small read-only file-like object
// over the reader's descriptor. Closing it closes the file for the reader too.
// It keeps its own position: the reader reads by absolute position and neither
// moves the other.
#pragma once

#include "core/file_source.hpp"
#include "python/ref.hpp"

#include <memory>

namespace ozra::storage {

py::Ref new_file_stream(std::shared_ptr<core::FileSource> file);

void add_file_stream_type(PyObject* module);

}  // namespace ozra::storage
