// The walk over an analysis's spectra that the chromatograms, the XIC pre-filter and
// the nearest-spectrum search share.
#pragma once

#include "python/entry.hpp"
#include "qual/analysis_common.hpp"

namespace ozra::qual {

// One spectrum that has a retention time; the pointers are borrowed for the visit.
struct TimedSpectrum {
    Py_ssize_t position;  // in the spectrum index list
    PyObject* spectrum_index;
    PyObject* description;
    PyObject* retention_time;
};

// Calls visit(TimedSpectrum) for each spectrum of `spectra` (the spectrum index list)
// whose retention time passes has_time, in list order; Ctrl-C interrupts the walk.
// has_time is the caller's own test: the MS and the DAD rules ask None differently.
// Each record is first offered to handled(position, spectrum_index): a walk that
// can answer from a record's C values (its description not built yet) takes it
// there and returns true; false leaves it to the walk, which reads its description.
template <class HasTime, class Visit, class Handled>
void for_each_timed_spectrum(PyObject* spectra, HasTime&& has_time, Visit&& visit, Handled&& handled) {
    py::SignalCheck signals;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(spectra); ++i) {
        signals.tick();
        py::Ref spectrum_index = py::list_item(spectra, i);
        if (handled(i, spectrum_index.get())) continue;
        py::Ref description = description_of(spectrum_index.get());
        py::Ref retention_time = retention_time_of(description.get());
        if (!has_time(retention_time.get())) continue;
        visit(TimedSpectrum{i, spectrum_index.get(), description.get(), retention_time.get()});
    }
}

template <class HasTime, class Visit>
void for_each_timed_spectrum(PyObject* spectra, HasTime&& has_time, Visit&& visit) {
    for_each_timed_spectrum(spectra, has_time, visit, [](Py_ssize_t, PyObject*) { return false; });
}

// The MS analyses' test: `retention_time != None`, as the interpreter evaluates it.
inline bool differs_from_none(PyObject* retention_time) { return py::not_equals_none(retention_time); }

}  // namespace ozra::qual
