// The walk that both DAD chromatograms make over an analysis's spectra.
#pragma once

#include "analysis_common.hpp"
#include "entry.hpp"
#include "names.hpp"

namespace ozra::qual {

// One spectrum that has a retention time; the pointers are borrowed for the visit.
struct TimedSpectrum {
    PyObject* spectrum_index;
    PyObject* description;
    PyObject* retention_time;
};

// `retention_time == None`, as the interpreter evaluates it.
bool lacks_retention_time(PyObject* retention_time);

// The function's wavelength array (Q.__wavelength_arr), read afresh.
py::Ref wavelength_array_of(PyObject* analysis);

// Calls visit(TimedSpectrum) for each spectrum of the analysis that has a
// retention time, in list order; the others are passed over.
template <class Visit>
void for_each_timed_spectrum(PyObject* analysis, Visit&& visit) {
    py::Ref spectra = py::Ref::borrow(as_analysis(analysis)->spectrum_index_list);
    py::SignalCheck signals;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(spectra.get()); ++i) {
        signals.tick();
        py::Ref spectrum_index = py::Ref::borrow(PyList_GET_ITEM(spectra.get(), i));
        py::Ref description = description_of(spectrum_index.get());
        py::Ref retention_time = py::get_attr(description.get(), names::desc_retention_time);
        if (lacks_retention_time(retention_time.get())) continue;
        visit(TimedSpectrum{spectrum_index.get(), description.get(), retention_time.get()});
    }
}

}  // namespace ozra::qual
