#include "qual/analysis_type.hpp"

#include "python/args.hpp"
#include "python/entry.hpp"
#include "python/gc_pause.hpp"
#include "python/index_range.hpp"
#include "python/types.hpp"
#include "qual/qual_module.hpp"

#include <cstdio>

namespace ozra::qual {

namespace {

// The methods of the analysis read these fields without asking; a subclass whose
// own `__read` does not fill them gets the interpreter's error here instead.
void require_filled(PyObject* field, PyObject* analysis, const char* class_name, const char* field_name) {
    if (field != nullptr) return;
    char mangled[128];
    std::snprintf(mangled, sizeof mangled, "_%s__%s", class_name, field_name);
    py::require_field(field, analysis, mangled);
}

}  // namespace

py::Ref create_analysis(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                        const AnalysisClass& analysis_class) {
    static const py::Parameters parameters("__create_instance", {"function_index", "index"}, 2);
    auto parsed = py::parse_arguments<2>(parameters, args, nargs, kwnames);
    py::Ref analysis = py::allocate(py::as_class(cls));
    AnalysisObject* fields = as_analysis(analysis.get());
    fields->function_index = py::Ref::borrow(parsed[0]).release();
    fields->index = py::Ref::borrow(parsed[1]).release();
    fields->reader = py::get_attr(fields->function_index, state().names.function_index_reader).release();
    const py::GcPause pause;
    // Through the instance, so that a subclass's own `__read` is the one that runs.
    py::Ref::checked(PyObject_CallMethodNoArgs(analysis.get(), analysis_class.read_name));
    require_filled(fields->spectrum_index_list, analysis.get(), analysis_class.name, "spectrum_index_list");
    if (analysis_class.with_conditions) {
        require_filled(fields->unique_acquisition_conditions, analysis.get(), analysis_class.name,
                      "unique_acquisition_conditions");
    }
    return analysis;
}

PyObject* analysis_index(PyObject* self, void*) { return py::Ref::borrow(as_analysis(self)->index).release(); }

PyObject* analysis_supplemental_properties(PyObject* self, void*) {
    return py::guard([&] {
        py::Ref description = qual_description_of(as_analysis(self)->function_index);
        return py::get_attr(description.get(), state().names.qual_supplemental_properties);
    });
}

PyObject* analysis_get_spectra_count(PyObject* self, PyObject*) {
    return py::guard([&] { return py::from_size(py::length(as_analysis(self)->spectrum_index_list)); });
}

PyObject* analysis_get_spectrum(PyObject* self, PyObject* index, const SpectrumKind& kind) {
    return py::guard([&] {
        const py::Ref spectra = py::Ref::borrow(as_analysis(self)->spectrum_index_list);
        py::check_index(index, py::length(spectra.get()));
        py::Ref spectrum_index = py::Ref::checked(PyObject_GetItem(spectra.get(), index));
        py::Ref factory = py::get_attr(global(kind.class_name).get(), kind.factory_name);
        if (kind.with_wavelengths) {
            py::Ref description = qual_description_of(as_analysis(self)->function_index);
            py::Ref wavelengths = py::get_attr(description.get(), state().names.wavelength_arr);
            PyObject* args[] = {spectrum_index.get(), index, wavelengths.get()};
            return py::Ref::checked(PyObject_Vectorcall(factory.get(), args, 3, nullptr));
        }
        PyObject* args[] = {spectrum_index.get(), index};
        return py::Ref::checked(PyObject_Vectorcall(factory.get(), args, 2, nullptr));
    });
}

PyObject* analysis_find_nearest_spectrum(PyObject* self, PyObject* retention_time) {
    return py::guard([&] {
        const Py_ssize_t position = nearest_spectrum_position(self, retention_time);
        py::Ref index = py::from_size(position);
        return py::Ref::checked(PyObject_CallMethodOneArg(self, state().names.get_spectrum, index.get()));
    });
}

py::Ref analysis_text_start(PyObject* self) {
    py::Ref index = py::str(py::get_attr(self, state().names.index).get());
    py::Ref count = py::str(py::Ref::checked(PyObject_CallMethodNoArgs(self, state().names.get_spectra_count)).get());
    return py::Ref::checked(PyUnicode_FromFormat("[%U] %U spectra", index.get(), count.get()));
}

}  // namespace ozra::qual
