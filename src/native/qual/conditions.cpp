// The acquisition-condition classes of the module.
#include "acquisition_condition.hpp"
#include "chromatogram_filter_option.hpp"
#include "condition_class.hpp"
#include "qual_module.hpp"

namespace ozra::qual {

void add_condition_types(PyObject* module) {
    add_small_condition_types(module);
    add_acquisition_condition_type(module);
    add_chromatogram_filter_option_type(module);
}

}  // namespace ozra::qual
