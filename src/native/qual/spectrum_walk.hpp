// The walk over an analysis's spectra that the chromatograms, the XIC pre-filter and
// the nearest-spectrum search share.
#pragma once

#include "python/entry.hpp"
#include "qual/analysis_common.hpp"

namespace ozra::qual {

// One spectrum that has a retention time; the pointers are borrowed for the visit.
struct TimedSpectrum {
    Py_ssize_t position;  // in the analysis's spectra
    PyObject* spectrum_index;
    PyObject* description;
    PyObject* retention_time;
};

// Calls visit(TimedSpectrum) for each spectrum of `spectra` (the analysis's spectra,
// a list or a block) whose retention time passes has_time, in order; Ctrl-C
// interrupts the walk. has_time is the caller's own test: the MS and the DAD rules
// ask None differently. Each spectrum is first offered to handled(position): a walk
// that can answer from its C values (storage::ValueTypesApi::pending_at) takes it
// there, without its record, and returns true; false leaves it to the walk, which
// reads its record's description.
template <class HasTime, class Visit, class Handled>
void for_each_timed_spectrum(PyObject* spectra, HasTime&& has_time, Visit&& visit, Handled&& handled) {
    py::SignalCheck signals;
    // The length is asked each time: code run by a visit may shorten a list.
    for (Py_ssize_t i = 0; i < py::length(spectra); ++i) {
        signals.tick();
        if (handled(i)) continue;
        py::Ref spectrum_index = spectrum_index_at(spectra, i);
        py::Ref description = description_of(spectrum_index.get());
        py::Ref retention_time = retention_time_of(description.get());
        if (!has_time(retention_time.get())) continue;
        visit(TimedSpectrum{i, spectrum_index.get(), description.get(), retention_time.get()});
    }
}

template <class HasTime, class Visit>
void for_each_timed_spectrum(PyObject* spectra, HasTime&& has_time, Visit&& visit) {
    for_each_timed_spectrum(spectra, has_time, visit, [](Py_ssize_t) { return false; });
}

// The MS analyses' test: `retention_time != None`, as the interpreter evaluates it.
inline bool differs_from_none(PyObject* retention_time) { return py::not_equals_none(retention_time); }

}  // namespace ozra::qual
