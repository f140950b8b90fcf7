#include "python/entry.hpp"
#include "python/module_slots.hpp"
#include "python/types.hpp"
#include "qual/qual_module.hpp"

namespace ozra::qual {

QualState& state() {
    static QualState& shared = *new QualState();
    return shared;
}

namespace {

int qual_exec(PyObject* module) {
    return py::guard_int([&] {
        py::bind_import(module, "ozra_data_access._internal._enum", "OzraSymbols");
        py::bind_import(module, "ozra_data_access._internal._index", "SpectrumIndex");
        for (const char* name : {"InternalAcquisitionCondition", "InternalSpectrumDescription",
                                 "VendorSpecificAdditionalConditionTypes", "TripleQScanTypes",
                                 "VendorSpecificAdditionalCondition"}) {
            py::bind_import(module, "ozra_data_access._internal._description", name);
        }
        py::bind_import(module, "ozra_data_access._internal._reader", "XicInfo");
        for (const char* name : {"SpectrumBasedChromatogramPoint", "ValueRange", "PolarityTypes", "SpectrumTypes"}) {
            py::bind_import(module, "ozra_data_access.common", name);
        }
        py::Ref sys = py::Ref::checked(PyImport_ImportModule("sys"));
        py::check(PyModule_AddObjectRef(module, "sys", sys.get()));
        state().module = py::Kept(py::Ref::borrow(module));
        add_condition_types(module);
        add_spectrum_types(module);
        add_ms_analysis_types(module);
        add_dad_analysis_types(module);
        return 0;
    });
}

PyModuleDef qual_module = {
    PyModuleDef_HEAD_INIT,
    "ozra_data_access.qual",
    "Qualitative MS analyses, DAD analyses, their spectra, chromatograms and acquisition conditions.",
    0,
    nullptr,
    py::module_slots<qual_exec>(),
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

py::Ref global(PyObject* name) { return py::module_global(state().module, name); }

}  // namespace ozra::qual

PyMODINIT_FUNC PyInit_qual() { return PyModuleDef_Init(&ozra::qual::qual_module); }
