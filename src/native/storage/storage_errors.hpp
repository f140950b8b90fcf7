// The storage module's translation of the format layer's errors, installed at
// load for every entry point of the module (py::set_exception_translator):
//   core::FormatError     -> ozra_data_access.exception.OzraFormatError (same message)
//   core::ClosedFileError -> ValueError("I/O operation on closed file")
//   core::UsageError      -> ValueError (a reader operation called out of order)
#pragma once

namespace ozra::storage {

// Sets the Python error for the core exception being handled; false for any other.
bool translate_core_exception() noexcept;

}  // namespace ozra::storage
