// QualAnalysis.get_binned_map and DADAnalysis.get_binned_map: the intensity of an analysis's
// spectra gathered into a grid of retention-time x m/z (or wavelength) bins.
#pragma once

#include "python/ref.hpp"

namespace ozra::qual {

// get_binned_map(acquisition_condition, time_bins, x_bins, retention_time_range=None,
// x_range=None, aggregate="max") of a QualAnalysis.
PyObject* qual_get_binned_map(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// get_binned_map(time_bins, wavelength_bins, retention_time_range=None, wavelength_range=None,
// aggregate="max") of a DADAnalysis.
PyObject* dad_get_binned_map(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace ozra::qual
