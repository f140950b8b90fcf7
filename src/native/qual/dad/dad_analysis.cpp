// DADAnalysis: one diode-array-detector analysis and its spectra.
#include "python/args.hpp"
#include "python/entry.hpp"
#include "python/gc_pause.hpp"
#include "python/object_fields.hpp"
#include "python/types.hpp"
#include "qual/analysis_type.hpp"
#include "qual/binned_map.hpp"
#include "qual/dad/dad_chromatogram.hpp"
#include "qual/qual_module.hpp"

namespace ozra::qual {
namespace {

PyObject* dad_create_instance(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&] {
        return create_analysis(cls, args, nargs, kwnames, {"DADAnalysis", state().names.dad_analysis_read, false});
    });
}

PyObject* dad_read(PyObject* self, PyObject*) {
    return py::guard([&] {
        read_spectrum_index_block(self, false);
        return py::Ref::none();
    });
}

PyObject* dad_str(PyObject* self) {
    return py::guard([&] { return analysis_text_start(self); });
}

PyObject* dad_get_spectrum(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&] {
        static const py::Parameters parameters("get_spectrum", {"index"}, 1);
        auto parsed = py::parse_arguments<1>(parameters, args, nargs, kwnames);
        const SpectrumKind kind{state().names.DADSpectrum, state().names.dad_spectrum_create_instance, true};
        return py::Ref::checked(analysis_get_spectrum(self, parsed[0], kind));
    });
}

PyObject* dad_find_nearest_spectrum(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&] {
        static const py::Parameters parameters("find_nearest_spectrum", {"retention_time"}, 1);
        auto parsed = py::parse_arguments<1>(parameters, args, nargs, kwnames);
        return py::Ref::checked(analysis_find_nearest_spectrum(self, parsed[0]));
    });
}

PyObject* dad_get_chromatogram(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&] {
        static const py::Parameters parameters("get_chromatogram", {"extract_wavelength_range"}, 1);
        auto parsed = py::parse_arguments<1>(parameters, args, nargs, kwnames);
        const py::GcPause pause;
        return get_dad_chromatogram(self, parsed[0]);
    });
}

PyObject* dad_get_max_plot(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&] {
        static const py::Parameters parameters("get_max_plot", {"extract_wavelength_range", "wavelength_tolerance"}, 2);
        auto parsed = py::parse_arguments<2>(parameters, args, nargs, kwnames);
        const py::GcPause pause;
        return get_max_plot(self, parsed[0], parsed[1]);
    });
}

// The long table of every point, built by ozra_data_access.export.tables from the native point columns.
PyObject* dad_to_arrow(PyObject* self, PyObject*) {
    return py::guard([&] {
        py::Ref tables = py::Ref::checked(PyImport_ImportModule("ozra_data_access.export.tables"));
        return py::call_method(tables.get(), state().names.dad_table, self);
    });
}

PyMethodDef dad_methods[] = {
    {"_DADAnalysis__create_instance", py::method_cast(dad_create_instance),
     METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "Makes the analysis of a function index record and reads its spectrum index block."},
    {"_DADAnalysis__read", dad_read, METH_NOARGS, "Reads the spectrum index block."},
    {"get_spectra_count", analysis_get_spectra_count, METH_NOARGS, "get_spectra_count()\n--\n\nThe number of spectra."},
    {"get_spectrum", py::method_cast(dad_get_spectrum),
     METH_FASTCALL | METH_KEYWORDS,
     "get_spectrum(index)\n--\n\nA new DADSpectrum for the spectrum at `index` (0 <= index < count)."},
    {"get_chromatogram", py::method_cast(dad_get_chromatogram),
     METH_FASTCALL | METH_KEYWORDS,
     "get_chromatogram(extract_wavelength_range)\n--\n\n"
     "Per spectrum with a retention time: the mean absorbance over the wavelength window (trapezoid rule on\n"
     "the linearly interpolated spectrum) and the wavelength of the highest absorbance in it."},
    {"get_max_plot", py::method_cast(dad_get_max_plot),
     METH_FASTCALL | METH_KEYWORDS,
     "get_max_plot(extract_wavelength_range, wavelength_tolerance)\n--\n\n"
     "Per spectrum with a retention time: the mean absorbance within the tolerance around the window's\n"
     "maximum, and that maximum's wavelength."},
    {"get_binned_map", py::method_cast(dad_get_binned_map), METH_FASTCALL | METH_KEYWORDS,
     "get_binned_map(time_bins, wavelength_bins, retention_time_range=None, wavelength_range=None,\n"
     "               aggregate='max')\n--\n\n"
     "The absorbance of the spectra with a retention time gathered into time_bins x wavelength_bins\n"
     "equal bins over the retention-time and wavelength windows (both ends inside; by default the\n"
     "spectra's own extent), each bin holding the largest ('max') or the summed ('sum') absorbance:\n"
     "a BinnedMap. An empty bin holds NaN ('max') or 0 ('sum'); NaN and -inf absorbances are passed over."},
    {"to_arrow", dad_to_arrow, METH_NOARGS,
     "to_arrow()\n--\n\n"
     "Every point of every spectrum as a pyarrow Table, one row per point in spectrum order: spectrum_index,\n"
     "retention_time, wavelength, intensity. Needs pyarrow (the [export] extra)."},
    {"find_nearest_spectrum", py::method_cast(dad_find_nearest_spectrum),
     METH_FASTCALL | METH_KEYWORDS,
     "find_nearest_spectrum(retention_time)\n--\n\nThe spectrum whose retention time is nearest (lowest index on ties)."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef dad_getset[] = {
    {"index", analysis_index, nullptr, "The analysis's position among the measurement's DAD analyses.", nullptr},
    {"supplemental_properties", analysis_supplemental_properties, nullptr,
     "The function's supplemental properties, as stored.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

void add_dad_analysis_types(PyObject* module) {
    PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(py::protected_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(py::dealloc_object_fields<AnalysisObject>)},
        {Py_tp_traverse, reinterpret_cast<void*>(py::traverse_object_fields<AnalysisObject>)},
        {Py_tp_clear, reinterpret_cast<void*>(py::clear_object_fields<AnalysisObject>)},
        {Py_tp_str, reinterpret_cast<void*>(dad_str)},
        {Py_tp_repr, reinterpret_cast<void*>(dad_str)},
        {Py_tp_methods, dad_methods},
        {Py_tp_getset, dad_getset},
        {Py_tp_members, py::private_members("DADAnalysis", {
            {"function_index", offsetof(AnalysisObject, function_index)},
            {"index", offsetof(AnalysisObject, index)},
            {"reader", offsetof(AnalysisObject, reader)},
            {"spectrum_index_list", offsetof(AnalysisObject, spectrum_index_list)},
        })},
        {Py_tp_doc, const_cast<char*>(
            "One diode-array-detector analysis of a measurement: its absorbance spectra, wavelength\n"
            "chromatograms and max plots. Made by Measurement.get_dad_analysis().\n"
            "Not picklable: it reads through its file's open reader (pickle the OzraFile, which pickles as its path).")},
        {0, nullptr},
    };
    PyType_Spec spec = {"ozra_data_access.qual.DADAnalysis", sizeof(AnalysisObject), 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC, slots};
    py::add_type(module, &spec);
}

}  // namespace ozra::qual
