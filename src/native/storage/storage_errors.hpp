// Entry points of the storage module: errors of the format layer become the
// package's Python exceptions.
//   core::FormatError     -> ozra_data_access.exception.OzraFormatError (same message)
//   core::ClosedFileError -> ValueError("I/O operation on closed file")
//   core::UsageError      -> ValueError (a reader operation called out of order)
#pragma once

#include "entry.hpp"
#include "format_error.hpp"

namespace ozra::storage {

// Sets the Python error for the core exception being handled and throws
// py::PythonError; other exceptions are rethrown unchanged.
[[noreturn]] void translate_current_exception();

template <class Body>
PyObject* storage_guard(Body&& body) noexcept {
    return py::guard([&]() -> py::Ref {
        try {
            return body();
        } catch (const py::PythonError&) {
            throw;
        } catch (...) {
            translate_current_exception();
        }
    });
}

}  // namespace ozra::storage
