#include "storage/storage_errors.hpp"

#include "core/format_error.hpp"
#include "storage/imports.hpp"

namespace ozra::storage {

bool translate_core_exception() noexcept {
    try {
        throw;
    } catch (const core::FormatError& error) {
        PyErr_SetString(imports().format_error, error.what());
    } catch (const core::ClosedFileError& error) {
        PyErr_SetString(PyExc_ValueError, error.what());
    } catch (const core::UsageError& error) {
        PyErr_SetString(PyExc_ValueError, error.what());
    } catch (...) {
        return false;
    }
    return true;
}

}  // namespace ozra::storage
