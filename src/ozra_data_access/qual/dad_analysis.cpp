// Placeholder until this part lands.
#include "qual_module.hpp"

namespace ozra::qual {

void add_dad_analysis_types(PyObject*) {}

}  // namespace ozra::qual
