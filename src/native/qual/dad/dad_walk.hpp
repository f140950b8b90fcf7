// The walk that both DAD chromatograms make over an analysis's spectra.
#pragma once

#include "qual/spectrum_walk.hpp"

#include <utility>

namespace ozra::qual {

// `retention_time == None`, as the interpreter evaluates it.
bool lacks_retention_time(PyObject* retention_time);

// The function's wavelength array (Q.__wavelength_arr), read afresh.
py::Ref wavelength_array_of(PyObject* analysis);

// Calls visit(TimedSpectrum) for each spectrum of the analysis that has a
// retention time, in list order; the others are passed over.
template <class Visit>
void for_each_timed_spectrum(PyObject* analysis, Visit&& visit) {
    const py::Ref spectra = py::Ref::borrow(as_analysis(analysis)->spectrum_index_list);
    for_each_timed_spectrum(
        spectra.get(), [](PyObject* retention_time) { return !lacks_retention_time(retention_time); },
        std::forward<Visit>(visit));
}

}  // namespace ozra::qual
