// Placeholder until extracted-ion chromatograms land.
#include "xic.hpp"

#include "entry.hpp"

namespace ozra::qual {

py::Ref get_multiple_xic(PyObject*, PyObject*) {
    py::raise(PyExc_NotImplementedError, "extracted-ion chromatograms are not available yet");
}

}  // namespace ozra::qual
