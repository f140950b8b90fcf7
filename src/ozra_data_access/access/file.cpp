// Placeholder until this part lands.
#include "access_module.hpp"

namespace ozra::access {

void add_file_types(PyObject*) {}

}  // namespace ozra::access
