// Placeholder until this part lands: the class exists so that `access` can bind it.
#include "qual_module.hpp"
#include "types.hpp"

namespace ozra::qual {
namespace {

PyType_Slot qual_analysis_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(py::protected_new)},
    {Py_tp_doc, const_cast<char*>("One qualitative MS analysis of a measurement.")},
    {0, nullptr},
};

PyType_Spec qual_analysis_spec = {"ozra_data_access.qual.QualAnalysis", sizeof(PyObject), 0,
                                  Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, qual_analysis_slots};

}  // namespace

void add_ms_analysis_types(PyObject* module) { py::add_type(module, &qual_analysis_spec); }

}  // namespace ozra::qual
