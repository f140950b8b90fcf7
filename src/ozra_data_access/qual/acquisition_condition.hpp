// AcquisitionCondition: how the instrument acquired a mass spectrum.
#pragma once

#include "ref.hpp"

namespace ozra::qual {

void add_acquisition_condition_type(PyObject* module);

// The class as created at load (subclasses made from Python derive from it).
PyTypeObject* acquisition_condition_type();

// Whether `condition` is of this very class (not a subclass) and every field is
// plain: a plain value (condition_values.hpp), a member of PolarityTypes or
// SpectrumTypes, and as additional conditions a list or tuple of plain vendor and
// scan conditions. Plain conditions compare without raising or side effects, in
// agreement with their hash, and transitively: two equal plain conditions give the
// same answer against any third plain condition.
bool is_plain_condition(PyObject* condition);

// AcquisitionCondition(record) without argument parsing, for an
// InternalAcquisitionCondition or an InternalSpectrumDescription: what an
// analysis calls once per spectrum while it reads its spectrum index.
py::Ref new_acquisition_condition(PyObject* record);

}  // namespace ozra::qual
