#include "python/entry.hpp"

namespace ozra::py {
namespace {

// Each extension links its own copy of this layer, so this is the one extension's.
ExceptionTranslator extension_translator = nullptr;

}  // namespace

void set_exception_translator(ExceptionTranslator translator) noexcept { extension_translator = translator; }

void set_error_from_current_exception() noexcept {
    if (extension_translator != nullptr && extension_translator()) return;
    try {
        throw;
    } catch (const PythonError&) {
        if (!PyErr_Occurred()) {
            PyErr_SetString(PyExc_SystemError, "ozra_data_access: error signalled without an exception set");
        }
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        PyErr_SetString(PyExc_RuntimeError, error.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "ozra_data_access: unknown C++ exception");
    }
}

void raise_exception(const char* message) { raise(PyExc_Exception, message); }

void raise(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
    throw PythonError{};
}

}  // namespace ozra::py
