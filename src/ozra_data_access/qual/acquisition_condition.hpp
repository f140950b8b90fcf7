// AcquisitionCondition: how the instrument acquired a mass spectrum.
#pragma once

#include "ref.hpp"

namespace ozra::qual {

void add_acquisition_condition_type(PyObject* module);

}  // namespace ozra::qual
