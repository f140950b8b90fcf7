// The slots every extension module of the package uses.
//
// The modules keep process-wide state (their types, interned names, the storage
// module's capsule) that objects made by the first load go on using. Executing a
// module a second time, by importlib.reload or by an import in a sub-interpreter,
// would replace that state under them, so it is refused with ImportError; on
// Python 3.12+ the interpreter is also told that sub-interpreters are unsupported.
#pragma once

#include "python/ref.hpp"

namespace ozra::py {

template <int (*exec)(PyObject*)>
int exec_once(PyObject* module) noexcept {
    static bool executed = false;
    if (executed) {
        const char* name = PyModule_GetName(module);
        if (name == nullptr) return -1;
        PyErr_Format(PyExc_ImportError,
                     "%s is already loaded in this process; it cannot be reloaded or imported in a "
                     "sub-interpreter",
                     name);
        return -1;
    }
    executed = true;
    const int status = exec(module);
    if (status != 0) executed = false;  // nothing of a failed load is in use: it may be tried again
    return status;
}

template <int (*exec)(PyObject*)>
PyModuleDef_Slot* module_slots() {
    static PyModuleDef_Slot slots[] = {
        {Py_mod_exec, reinterpret_cast<void*>(&exec_once<exec>)},
#if PY_VERSION_HEX >= 0x030C0000
        {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
        {0, nullptr},
    };
    return slots;
}

}  // namespace ozra::py
