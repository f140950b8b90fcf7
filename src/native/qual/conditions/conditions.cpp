// The acquisition-condition classes of the module.
#include "qual/conditions/acquisition_condition.hpp"
#include "qual/conditions/condition_class.hpp"
#include "qual/conditions/conditions_settler.hpp"
#include "qual/conditions/small_conditions.hpp"
#include "qual/qual_module.hpp"
#include "qual/xic/chromatogram_filter_option.hpp"

namespace ozra::qual {

void add_condition_types(PyObject* module) {
    add_small_condition_types(module);
    add_acquisition_condition_type(module);
    add_conditions_settler_type(module);
    add_chromatogram_filter_option_type(module);
}

}  // namespace ozra::qual
