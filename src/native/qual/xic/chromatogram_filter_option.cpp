// ChromatogramFilterOption: the request of an extracted-ion chromatogram.
#include "qual/xic/chromatogram_filter_option.hpp"

#include "python/args.hpp"
#include "python/entry.hpp"
#include "python/object_fields.hpp"
#include "python/pickling.hpp"
#include "python/types.hpp"
#include "qual/conditions/condition_values.hpp"
#include "qual/qual_module.hpp"

#include <array>
#include <cstddef>

namespace ozra::qual {
namespace {

enum Field : int { acquisition_condition, extract_mz_range, retention_time_range, field_count };

constexpr std::array<const char*, field_count> property_names = {
    "acquisition_condition", "extract_mz_range", "retention_time_range"};

struct FilterOptionObject {
    PyObject_HEAD
    PyObject* fields[field_count];
};

PyObject** fields_of(PyObject* self) { return reinterpret_cast<FilterOptionObject*>(self)->fields; }

void set_field(PyObject* self, Field field, PyObject* value) { py::set_object_field(fields_of(self)[field], value); }

constexpr Py_ssize_t offset_of(Field field) {
    return static_cast<Py_ssize_t>(offsetof(FilterOptionObject, fields) + sizeof(PyObject*) * field);
}

PyObject* option_new(PyTypeObject* type, PyObject*, PyObject*) {
    return py::guard([&] {
        py::Ref self = py::allocate(type);
        py::set_fields_none(fields_of(self.get()), field_count);
        return self;
    });
}

int option_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    return py::guard_int([&] {
        static const py::Parameters parameters("ChromatogramFilterOption",
                                               {"acquisition_condition", "extract_mz_range", "retention_time_range"}, 2);
        auto parsed = py::parse_arguments<3>(parameters, args, kwargs);
        set_field(self, extract_mz_range, parsed[1]);
        set_field(self, acquisition_condition, parsed[0]);
        set_field(self, retention_time_range, parsed.or_none(2));
        return 0;
    });
}

// Read from the fields, not through the properties.
PyObject* option_str(PyObject* self) {
    return py::guard([&] {
        PyObject** fields = fields_of(self);
        const bool without_time_range = is_none(fields[retention_time_range]);
        Text text(state().names.condition_label);
        text.add_str(fields[acquisition_condition]);
        text.add(state().names.mz_range_label);
        text.add_str(fields[extract_mz_range]);
        if (!without_time_range) {
            text.add(state().names.time_range_label);
            text.add_str(fields[retention_time_range]);
        }
        return text.finish();
    });
}

int option_set(PyObject* self, PyObject* value, void* closure) {
    PyObject*& field = py::field_at(self, closure);
    if (value == nullptr) {
        PyErr_Format(PyExc_AttributeError, "property '%s' of '%s' object has no deleter",
                     property_names[&field - fields_of(self)], Py_TYPE(self)->tp_name);
        return -1;
    }
    py::set_object_field(field, value);
    return 0;
}

PyGetSetDef option_properties[] = {
    {"extract_mz_range", py::get_field, option_set,
     "The m/z window (a ValueRange) whose intensities are summed, both ends included.",
     py::field_closure(offset_of(extract_mz_range))},
    {"acquisition_condition", py::get_field, option_set,
     "The AcquisitionCondition a spectrum must equal to contribute.",
     py::field_closure(offset_of(acquisition_condition))},
    {"retention_time_range", py::get_field, option_set,
     "The retention-time window (a ValueRange), or None for no limit.",
     py::field_closure(offset_of(retention_time_range))},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* option_reduce(PyObject* self, PyObject*) {
    return py::guard([&] { return py::reduce_to_constructor(self, fields_of(self), field_count); });
}

PyMethodDef option_methods[] = {
    {"__reduce__", option_reduce, METH_NOARGS,
     "__reduce__($self, /)\n--\n\nPickles the request by value: its class called with its three fields."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void add_chromatogram_filter_option_type(PyObject* module) {
    PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(option_new)},
        {Py_tp_init, reinterpret_cast<void*>(option_init)},
        {Py_tp_dealloc, reinterpret_cast<void*>(py::dealloc_object_fields<FilterOptionObject>)},
        {Py_tp_traverse, reinterpret_cast<void*>(py::traverse_object_fields<FilterOptionObject>)},
        {Py_tp_clear, reinterpret_cast<void*>(py::clear_object_fields<FilterOptionObject>)},
        {Py_tp_str, reinterpret_cast<void*>(option_str)},
        {Py_tp_repr, reinterpret_cast<void*>(option_str)},
        {Py_tp_getset, option_properties},
        {Py_tp_methods, option_methods},
        {Py_tp_members,
         py::private_members("ChromatogramFilterOption", property_names, offset_of(acquisition_condition))},
        {Py_tp_doc, const_cast<char*>(
            "ChromatogramFilterOption(acquisition_condition, extract_mz_range, retention_time_range=None)\n--\n\n"
            "The request of an extracted-ion chromatogram: the acquisition condition of the spectra\n"
            "to use, the m/z window to sum, and optionally a retention-time window. A plain mutable\n"
            "holder: nothing is checked here, and two requests are equal only when they are the same\n"
            "object.")},
        {0, nullptr},
    };
    PyType_Spec spec = {"ozra_data_access.qual.ChromatogramFilterOption", sizeof(FilterOptionObject), 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC, slots};
    py::add_type(module, &spec);
}

}  // namespace ozra::qual
