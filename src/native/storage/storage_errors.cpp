#include "storage_errors.hpp"

#include "imports.hpp"

namespace ozra::storage {

void translate_current_exception() {
    try {
        throw;
    } catch (const core::FormatError& error) {
        PyErr_SetString(imports().format_error, error.what());
    } catch (const core::ClosedFileError& error) {
        PyErr_SetString(PyExc_ValueError, error.what());
    } catch (const core::UsageError& error) {
        PyErr_SetString(PyExc_ValueError, error.what());
    }
    throw py::PythonError{};
}

}  // namespace ozra::storage
