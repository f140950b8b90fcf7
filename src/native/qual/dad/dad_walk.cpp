#include "qual/dad/dad_walk.hpp"

#include "qual/qual_module.hpp"

namespace ozra::qual {

bool lacks_retention_time(PyObject* retention_time) {
    // A float never equals None; anything else may answer for itself.
    return !PyFloat_CheckExact(retention_time) && py::equals_none(retention_time);
}

py::Ref wavelength_array_of(PyObject* analysis) {
    py::Ref qual_description = qual_description_of(as_analysis(analysis)->function_index);
    return py::get_attr(qual_description.get(), state().names.wavelength_arr);
}

}  // namespace ozra::qual
