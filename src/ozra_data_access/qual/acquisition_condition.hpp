// AcquisitionCondition: how the instrument acquired a mass spectrum.
#pragma once

#include "ref.hpp"

namespace ozra::qual {

void add_acquisition_condition_type(PyObject* module);

// The class as created at load (subclasses made from Python derive from it).
PyTypeObject* acquisition_condition_type();

// AcquisitionCondition(record) without argument parsing, for an
// InternalAcquisitionCondition or an InternalSpectrumDescription: what an
// analysis calls once per spectrum while it reads its spectrum index.
py::Ref new_acquisition_condition(PyObject* record);

}  // namespace ozra::qual
