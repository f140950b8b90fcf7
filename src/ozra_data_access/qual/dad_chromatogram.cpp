// Placeholder until DAD chromatograms land.
#include "dad_chromatogram.hpp"

#include "entry.hpp"

namespace ozra::qual {

py::Ref get_dad_chromatogram(PyObject*, PyObject*) {
    py::raise(PyExc_NotImplementedError, "DAD chromatograms are not available yet");
}

py::Ref get_max_plot(PyObject*, PyObject*, PyObject*) {
    py::raise(PyExc_NotImplementedError, "DAD max plots are not available yet");
}

}  // namespace ozra::qual
