// Pieces of the analysis classes' type definitions that both kinds use.
#pragma once

#include "qual/analysis_common.hpp"

namespace ozra::qual {

// What `__create_instance` needs to know of the class it makes.
struct AnalysisClass {
    const char* name;          // "QualAnalysis": its private fields are `_QualAnalysis__...`
    PyObject* read_name;       // the interned `_QualAnalysis__read`
    bool with_conditions;      // whether `__read` also settles the condition list
};

// `__create_instance(cls, function_index, index)`: a bare instance of cls with its
// function index, index and reader set, then the instance's own `__read()`.
py::Ref create_analysis(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                        const AnalysisClass& analysis_class);

// The `index` and `supplemental_properties` properties and `get_spectra_count()`.
PyObject* analysis_index(PyObject* self, void*);
PyObject* analysis_supplemental_properties(PyObject* self, void*);
PyObject* analysis_get_spectra_count(PyObject* self, PyObject*);

// The spectrum class an analysis hands out: its name in the module's namespace,
// its factory's mangled name, and whether the factory takes the wavelength array.
struct SpectrumKind {
    PyObject* class_name;
    PyObject* factory_name;
    bool with_wavelengths;
};

// get_spectrum(index) and find_nearest_spectrum(retention_time).
PyObject* analysis_get_spectrum(PyObject* self, PyObject* index, const SpectrumKind& kind);
PyObject* analysis_find_nearest_spectrum(PyObject* self, PyObject* retention_time);

// "[" + str(index) + "] " + str(get_spectra_count()) + " spectra", through the public members.
py::Ref analysis_text_start(PyObject* self);

}  // namespace ozra::qual
