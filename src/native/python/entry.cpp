#include "entry.hpp"

namespace ozra::py {

void set_error_from_current_exception() noexcept {
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
