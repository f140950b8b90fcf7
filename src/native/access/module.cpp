#include "access/access_module.hpp"
#include "python/entry.hpp"
#include "python/module_slots.hpp"
#include "python/types.hpp"

namespace ozra::access {

AccessState& state() {
    static AccessState& shared = *new AccessState();
    return shared;
}

namespace {

int access_exec(PyObject* module) {
    return py::guard_int([&] {
        py::bind_import(module, "ozra_data_access._internal._enum", "OzraSymbols");
        py::bind_import(module, "ozra_data_access._internal._index", "FunctionIndex");
        py::bind_import(module, "ozra_data_access._internal._index", "JumpTable");
        py::bind_import(module, "ozra_data_access._internal._description", "DetectorTypes");
        py::bind_import(module, "ozra_data_access._internal._reader", "OzraFileReader");
        py::bind_import(module, "ozra_data_access.exception", "OzraException");
        py::bind_import(module, "ozra_data_access.qual", "QualAnalysis");
        py::bind_import(module, "ozra_data_access.qual", "DADAnalysis");
        py::bind_import(module, "ozra_data_access.quan", "QuanAnalysis");
        py::bind_import(module, "ozra_data_access.quan", "AnalogAnalysis");
        state().module = py::Kept(py::Ref::borrow(module));
        add_file_types(module);
        return 0;
    });
}

PyModuleDef access_module = {
    PyModuleDef_HEAD_INIT,
    "ozra_data_access.access",
    "Opening Ozra files: the file object and its measurements.",
    0,
    nullptr,
    py::module_slots<access_exec>(),
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

py::Ref global(PyObject* name) { return py::module_global(state().module, name); }

}  // namespace ozra::access

PyMODINIT_FUNC PyInit_access() { return PyModuleDef_Init(&ozra::access::access_module); }
