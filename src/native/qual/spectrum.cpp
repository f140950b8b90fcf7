// Spectrum and DADSpectrum: light views over one SpectrumIndex record whose
// points are read on demand through the record's reader and then cached.
#include "python/args.hpp"
#include "python/entry.hpp"
#include "python/object_fields.hpp"
#include "python/types.hpp"
#include "qual/analysis_common.hpp"
#include "qual/qual_module.hpp"

namespace ozra::qual {
namespace {

struct SpectrumObject {
    PyObject_HEAD
    PyObject* spectrum_index;
    PyObject* index;
    PyObject* spectrum_points;
    PyObject* wavelength_arr;  // DAD spectra only
};

SpectrumObject* as_spectrum(PyObject* self) { return reinterpret_cast<SpectrumObject*>(self); }

// __create_instance(cls, spectrum_index, index[, wavelength_arr]): nothing is read yet.
py::Ref create_spectrum(PyObject* cls, PyObject* spectrum_index, PyObject* index, PyObject* wavelengths) {
    py::Ref spectrum = py::allocate(py::as_class(cls));
    SpectrumObject* fields = as_spectrum(spectrum.get());
    fields->spectrum_index = py::Ref::borrow(spectrum_index).release();
    fields->index = py::Ref::borrow(index).release();
    fields->wavelength_arr = py::Ref::borrow(wavelengths).release();
    fields->spectrum_points = py::Ref::none().release();
    return spectrum;
}

PyObject* ms_create_instance(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&] {
        static const py::Parameters parameters("__create_instance", {"spectrum_index", "index"}, 2);
        auto parsed = py::parse_arguments<2>(parameters, args, nargs, kwnames);
        return create_spectrum(cls, parsed[0], parsed[1], nullptr);
    });
}

PyObject* dad_create_instance(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&] {
        static const py::Parameters parameters("__create_instance", {"spectrum_index", "index", "wavelength_arr"}, 3);
        auto parsed = py::parse_arguments<3>(parameters, args, nargs, kwnames);
        return create_spectrum(cls, parsed[0], parsed[1], parsed[2]);
    });
}

// Reads the spectrum at `position` through the record's reader.
py::Ref read_points_at(PyObject* spectrum_index, PyObject* position, PyObject* wavelengths) {
    py::Ref reader = py::get_attr(spectrum_index, state().names.spectrum_index_reader);
    return read_spectrum_points(reader.get(), position, wavelengths);
}

PyObject* get_spectrum_points(PyObject* self, PyObject*) {
    return py::guard([&] {
        SpectrumObject* spectrum = as_spectrum(self);
        if (py::equals_none(spectrum->spectrum_points)) {
            py::Ref position = py::get_attr(spectrum->spectrum_index, state().names.spectrum_index_position);
            py::set_object_field(spectrum->spectrum_points,
                                 read_points_at(spectrum->spectrum_index, position.get(), spectrum->wavelength_arr));
        }
        return py::Ref::borrow(spectrum->spectrum_points);
    });
}

PyObject* get_profile_spectrum_points(PyObject* self, PyObject*) {
    return py::guard([&] {
        SpectrumObject* spectrum = as_spectrum(self);
        py::Ref position = py::get_attr(spectrum->spectrum_index, state().names.spectrum_index_profile_position);
        py::Ref zero = py::from_long(0);
        if (py::equals(position.get(), zero.get())) py::raise_exception("No profile spectrum");
        return read_points_at(spectrum->spectrum_index, position.get(), nullptr);
    });
}

PyObject* spectrum_str(PyObject* self) {
    return py::guard([&] {
        py::Ref index = py::str(py::get_attr(self, state().names.index).get());
        py::Ref points = py::Ref::checked(PyObject_CallMethodNoArgs(self, state().names.get_spectrum_points));
        return py::Ref::checked(PyUnicode_FromFormat("[%U] %zd points", index.get(), py::length(points.get())));
    });
}

PyObject* spectrum_index_property(PyObject* self, void*) { return py::Ref::borrow(as_spectrum(self)->index).release(); }

// A property returning the description field whose interned name is `field`.
template <py::Kept QualNames::*field>
PyObject* description_property(PyObject* self, void*) {
    return py::guard([&] {
        py::Ref description = description_of(as_spectrum(self)->spectrum_index);
        return py::get_attr(description.get(), state().names.*field);
    });
}

PyMethodDef spectrum_methods[] = {
    {"_Spectrum__create_instance", py::method_cast(ms_create_instance),
     METH_FASTCALL | METH_KEYWORDS | METH_CLASS, "Makes the view of one SpectrumIndex record; nothing is read."},
    {"get_spectrum_points", get_spectrum_points, METH_NOARGS,
     "get_spectrum_points()\n--\n\nThe centroid points, read on the first call and cached."},
    {"get_profile_spectrum_points", get_profile_spectrum_points, METH_NOARGS,
     "get_profile_spectrum_points()\n--\n\nThe profile points, read on every call; "
     "Exception('No profile spectrum') when the spectrum has none."},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef dad_spectrum_methods[] = {
    {"_DADSpectrum__create_instance", py::method_cast(dad_create_instance),
     METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "Makes the view of one SpectrumIndex record with the function's wavelengths; nothing is read."},
    {"get_spectrum_points", get_spectrum_points, METH_NOARGS,
     "get_spectrum_points()\n--\n\nThe (wavelength, intensity) points, read on the first call and cached."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef spectrum_getset[] = {
    {"index", spectrum_index_property, nullptr, "The spectrum's position in its analysis.", nullptr},
    {"acquisition_condition", description_property<&QualNames::desc_acquisition_condition>, nullptr,
     "The spectrum's AcquisitionCondition.", nullptr},
    {"precursor_index", description_property<&QualNames::desc_precursor_index>, nullptr,
     "The index of the precursor spectrum, as stored.", nullptr},
    {"retention_time", description_property<&QualNames::desc_retention_time>, nullptr,
     "The retention time, or None.", nullptr},
    {"product_indices", description_property<&QualNames::desc_product_indices>, nullptr,
     "The indices of the product spectra, as stored.", nullptr},
    {"spectrum_type", description_property<&QualNames::desc_spectrum_type>, nullptr, "The stored spectrum type.",
     nullptr},
    {"supplemental_properties", description_property<&QualNames::desc_supplemental_properties>, nullptr,
     "The spectrum's supplemental properties.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyGetSetDef dad_spectrum_getset[] = {
    {"index", spectrum_index_property, nullptr, "The spectrum's position in its analysis.", nullptr},
    {"retention_time", description_property<&QualNames::desc_retention_time>, nullptr,
     "The retention time, or None.", nullptr},
    {"supplemental_properties", description_property<&QualNames::desc_supplemental_properties>, nullptr,
     "The spectrum's supplemental properties.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

void add_spectrum_type(PyObject* module, const char* qualified_name, PyMethodDef* methods,
                       PyGetSetDef* getset, PyMemberDef* members, const char* doc) {
    PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(py::protected_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(py::dealloc_object_fields<SpectrumObject>)},
        {Py_tp_traverse, reinterpret_cast<void*>(py::traverse_object_fields<SpectrumObject>)},
        {Py_tp_clear, reinterpret_cast<void*>(py::clear_object_fields<SpectrumObject>)},
        {Py_tp_str, reinterpret_cast<void*>(spectrum_str)},
        {Py_tp_repr, reinterpret_cast<void*>(spectrum_str)},
        {Py_tp_methods, methods},
        {Py_tp_getset, getset},
        {Py_tp_members, members},
        {Py_tp_doc, const_cast<char*>(doc)},
        {0, nullptr},
    };
    PyType_Spec spec = {qualified_name, sizeof(SpectrumObject), 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC, slots};
    py::add_type(module, &spec);
}

}  // namespace

void add_spectrum_types(PyObject* module) {
    add_spectrum_type(module, "ozra_data_access.qual.Spectrum", spectrum_methods, spectrum_getset,
                      py::private_members("Spectrum", {
                          {"spectrum_index", offsetof(SpectrumObject, spectrum_index)},
                          {"index", offsetof(SpectrumObject, index)},
                          {"spectrum_points", offsetof(SpectrumObject, spectrum_points)},
                      }),
                      "One mass spectrum of a QualAnalysis: its description's values and its points.\n"
                      "Not picklable: it reads through its file's open reader (pickle the OzraFile, which pickles as its path).");
    add_spectrum_type(module, "ozra_data_access.qual.DADSpectrum", dad_spectrum_methods,
                      dad_spectrum_getset,
                      py::private_members("DADSpectrum", {
                          {"spectrum_index", offsetof(SpectrumObject, spectrum_index)},
                          {"index", offsetof(SpectrumObject, index)},
                          {"wavelength_arr", offsetof(SpectrumObject, wavelength_arr)},
                          {"spectrum_points", offsetof(SpectrumObject, spectrum_points)},
                      }),
                      "One absorbance spectrum of a DADAnalysis: its retention time and its points.\n"
                      "Not picklable: it reads through its file's open reader (pickle the OzraFile, which pickles as its path).");
}

}  // namespace ozra::qual
