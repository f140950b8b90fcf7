// What the MS and the DAD analysis share: their layout, the reading of the
// spectrum index block and the nearest-spectrum search.
#pragma once

#include "python/ref.hpp"

namespace ozra::qual {

struct AnalysisObject {
    PyObject_HEAD
    PyObject* function_index;
    PyObject* index;
    PyObject* reader;
    PyObject* spectrum_index_list;  // the spectra: a list of records, or a block read lazily
    PyObject* unique_acquisition_conditions;  // MS analyses only
    PyObject* retention_times;                // see nearest_spectrum_position
    PyObject* conditions_settler;             // while the conditions wait for their first use (ms_analysis.cpp)
};

inline AnalysisObject* as_analysis(PyObject* self) { return reinterpret_cast<AnalysisObject*>(self); }

// Reads the function's spectrum index block through the analysis's reader into
// `spectrum_index_list`: with `lazily`, as a sequence whose records are made when
// first asked for (see storage::ValueTypesApi::read_spectrum_index_block).
void read_spectrum_index_block(PyObject* self, bool lazily);

// Record `i` of an analysis's spectra (a block makes it when it has not yet).
py::Ref spectrum_index_at(PyObject* spectra, Py_ssize_t i);

// The function's QualDescription record (function_index.__function_description.__qual_description).
py::Ref qual_description_of(PyObject* function_index);

// The position of the spectrum whose retention time is nearest `retention_time`
// (the lowest on ties; spectra without retention time skipped), or -1.
Py_ssize_t nearest_spectrum_position(PyObject* analysis, PyObject* retention_time);

// The spectrum description record of a SpectrumIndex record.
py::Ref description_of(PyObject* spectrum_index);

// The description's retention_time.
py::Ref retention_time_of(PyObject* description);

// SpectrumBasedChromatogramPoint(spectrum_index, retention_time, intensity, x).
py::Ref make_chromatogram_point(PyObject* spectrum_index, PyObject* retention_time, PyObject* intensity, PyObject* x);

// make_chromatogram_point with the class looked up once, for the points of one call.
class ChromatogramPoints {
public:
    ChromatogramPoints();
    py::Ref make(PyObject* spectrum_index, PyObject* retention_time, PyObject* intensity, PyObject* x) const;
    // The same with float values, which the native class keeps without making objects.
    py::Ref make(PyObject* spectrum_index, PyObject* retention_time, double intensity, double x) const;
    // The class is the storage layer's own: making a point calls no Python code.
    bool native() const noexcept { return native_; }

private:
    py::Ref point_class_;
    bool native_;
};

// Positions `reader` at `position` and reads the spectrum there: the DAD read
// given `wavelengths` when that is neither null nor None, else the plain read.
py::Ref read_spectrum_points(PyObject* reader, PyObject* position, PyObject* wavelengths);

// sys.float_info.max, read from the module's `sys` when called.
double largest_finite_double();

}  // namespace ozra::qual
