// ValueRange and SpectrumBasedChromatogramPoint, the value types callers receive.
#include "storage_module.hpp"

#include "args.hpp"
#include "entry.hpp"
#include "object_fields.hpp"
#include "types.hpp"
#include "storage_api.hpp"

#include <structmember.h>

#include <cmath>
#include <cstddef>

namespace ozra::storage {
namespace {

using storage::ChromatogramPointObject;
using py::Ref;
using storage::ValueRangeObject;

// ---- ValueRange -------------------------------------------------------------

PyTypeObject* value_range_type = nullptr;

ValueRangeObject* as_range(PyObject* self) { return reinterpret_cast<ValueRangeObject*>(self); }

bool is_plain_number(PyObject* value) { return PyFloat_CheckExact(value) || PyLong_CheckExact(value); }

// `value != value`: true of a float NaN and of any other number type's NaN (Decimal's).
bool is_nan(PyObject* value) {
    if (PyFloat_Check(value)) return std::isnan(PyFloat_AS_DOUBLE(value));
    if (PyLong_Check(value)) return false;
    return py::not_equals(value, value);
}

Ref make_value_range(PyTypeObject* type, Ref min, Ref max) {
    const bool plain = is_plain_number(min.get()) && is_plain_number(max.get());
    Ref self = py::allocate(type);
    py::set_object_field(as_range(self.get())->min, std::move(min));
    py::set_object_field(as_range(self.get())->max, std::move(max));
    // A range of plain numbers can never be part of a cycle; one of other
    // number-like objects can, and stays known to the collector.
    if (plain) PyObject_GC_UnTrack(self.get());
    return self;
}

PyObject* value_range_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return py::guard([&]() -> Ref {
        static const py::Parameters parameters("ValueRange", {"min", "max"}, 2);
        auto parsed = py::parse_arguments<2>(parameters, args, kwargs);
        for (PyObject* bound : parsed.values) {
            if (!PyNumber_Check(bound) || PyComplex_Check(bound)) {
                PyErr_Format(PyExc_TypeError, "ValueRange bounds must be real numbers, not %.100s",
                             Py_TYPE(bound)->tp_name);
                py::throw_error();
            }
        }
        // NaN compares false with everything: a window with a NaN bound would quietly
        // take in every point on its other side. Ranges decoded from files are kept
        // as stored (they are made by new_value_range).
        for (std::size_t i = 0; i < parsed.values.size(); ++i) {
            if (is_nan(parsed[i])) {
                PyErr_Format(PyExc_ValueError, "ValueRange %s must not be NaN", i == 0 ? "min" : "max");
                py::throw_error();
            }
        }
        return make_value_range(type, Ref::borrow(parsed[0]), Ref::borrow(parsed[1]));
    });
}

PyObject* value_range_contains_value(PyObject* self, PyObject* value) {
    return py::guard([&]() -> Ref {
        const bool inside = py::compare(as_range(self)->min, value, Py_LE) &&
                            py::compare(value, as_range(self)->max, Py_LE);
        return Ref::boolean(inside);
    });
}

PyObject* value_range_str(PyObject* self) {
    return py::guard([&]() -> Ref {
        Ref low = py::str(as_range(self)->min);
        Ref high = py::str(as_range(self)->max);
        return Ref::checked(PyUnicode_FromFormat("%U-%U", low.get(), high.get()));
    });
}

PyObject* value_range_repr(PyObject* self) {
    return py::guard([&]() -> Ref {
        return Ref::checked(PyUnicode_FromFormat("ValueRange(%R, %R)", as_range(self)->min, as_range(self)->max));
    });
}

PyObject* value_range_richcompare(PyObject* self, PyObject* other, int op) {
    if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
    return py::guard([&]() -> Ref {
        if (!PyObject_TypeCheck(other, value_range_type)) return Ref::borrow(Py_NotImplemented);
        const bool equal = py::compare(as_range(self)->min, as_range(other)->min, Py_EQ) &&
                           py::compare(as_range(self)->max, as_range(other)->max, Py_EQ);
        return Ref::boolean(op == Py_EQ ? equal : !equal);
    });
}

Py_hash_t value_range_hash(PyObject* self) {
    return py::guard_hash([&]() -> Py_hash_t {
        Ref pair = Ref::checked(PyTuple_Pack(2, as_range(self)->min, as_range(self)->max));
        const Py_hash_t hash = PyObject_Hash(pair.get());
        if (hash == -1) py::throw_error();
        return hash;
    });
}

PyMemberDef value_range_members[] = {
    {"min", T_OBJECT, offsetof(ValueRangeObject, min), READONLY, "The lower bound."},
    {"max", T_OBJECT, offsetof(ValueRangeObject, max), READONLY, "The upper bound."},
    {nullptr, 0, 0, 0, nullptr},
};

PyMethodDef value_range_methods[] = {
    {"contains_value", value_range_contains_value, METH_O,
     "contains_value(value)\n--\n\nWhether min <= value <= max: the range is closed at both ends."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot value_range_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(value_range_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(py::dealloc_object_fields<ValueRangeObject>)},
    {Py_tp_traverse, reinterpret_cast<void*>(py::traverse_object_fields<ValueRangeObject>)},
    {Py_tp_clear, reinterpret_cast<void*>(py::clear_object_fields<ValueRangeObject>)},
    {Py_tp_str, reinterpret_cast<void*>(value_range_str)},
    {Py_tp_repr, reinterpret_cast<void*>(value_range_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(value_range_richcompare)},
    {Py_tp_hash, reinterpret_cast<void*>(value_range_hash)},
    {Py_tp_members, value_range_members},
    {Py_tp_methods, value_range_methods},
    {Py_tp_doc, const_cast<char*>(
        "ValueRange(min, max)\n--\n\n"
        "An immutable range of numbers, closed at both ends. str() gives 'min-max'; ranges\n"
        "with equal bounds are equal and hash alike.")},
    {0, nullptr},
};

PyType_Spec value_range_spec = {"ozra_data_access._internal._storage.ValueRange", sizeof(ValueRangeObject), 0,
                                Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, value_range_slots};

// ---- SpectrumBasedChromatogramPoint ----------------------------------------

PyTypeObject* chromatogram_point_type = nullptr;

ChromatogramPointObject* as_point(PyObject* self) { return reinterpret_cast<ChromatogramPointObject*>(self); }

PyObject* chromatogram_point_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return py::guard([&]() -> Ref {
        static const py::Parameters parameters("SpectrumBasedChromatogramPoint",
                                               {"spectrum_index", "retention_time", "intensity", "x"}, 4);
        auto parsed = py::parse_arguments<4>(parameters, args, kwargs);
        Ref self = py::allocate(type);
        ChromatogramPointObject* point = as_point(self.get());
        py::set_object_field(point->spectrum_index, parsed[0]);
        py::set_object_field(point->retention_time, parsed[1]);
        py::set_object_field(point->intensity, parsed[2]);
        py::set_object_field(point->x, parsed[3]);
        return self;
    });
}

PyObject* chromatogram_point_repr(PyObject* self) {
    return py::guard([&]() -> Ref {
        ChromatogramPointObject* point = as_point(self);
        return Ref::checked(PyUnicode_FromFormat(
            "SpectrumBasedChromatogramPoint(spectrum_index=%R, retention_time=%R, intensity=%R, x=%R)",
            point->spectrum_index, point->retention_time, point->intensity, point->x));
    });
}

PyObject* chromatogram_point_richcompare(PyObject* self, PyObject* other, int op) {
    if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
    return py::guard([&]() -> Ref {
        if (!PyObject_TypeCheck(other, chromatogram_point_type)) return Ref::borrow(Py_NotImplemented);
        ChromatogramPointObject* a = as_point(self);
        ChromatogramPointObject* b = as_point(other);
        const bool equal = py::compare(a->spectrum_index, b->spectrum_index, Py_EQ) &&
                           py::compare(a->retention_time, b->retention_time, Py_EQ) &&
                           py::compare(a->intensity, b->intensity, Py_EQ) && py::compare(a->x, b->x, Py_EQ);
        return Ref::boolean(op == Py_EQ ? equal : !equal);
    });
}

Py_hash_t chromatogram_point_hash(PyObject* self) {
    return py::guard_hash([&]() -> Py_hash_t {
        ChromatogramPointObject* point = as_point(self);
        Ref fields = Ref::checked(
            PyTuple_Pack(4, point->spectrum_index, point->retention_time, point->intensity, point->x));
        const Py_hash_t hash = PyObject_Hash(fields.get());
        if (hash == -1) py::throw_error();
        return hash;
    });
}

PyMemberDef chromatogram_point_members[] = {
    {"spectrum_index", T_OBJECT, offsetof(ChromatogramPointObject, spectrum_index), READONLY,
     "The spectrum's index as stored in its description."},
    {"retention_time", T_OBJECT, offsetof(ChromatogramPointObject, retention_time), READONLY,
     "The spectrum's retention time."},
    {"intensity", T_OBJECT, offsetof(ChromatogramPointObject, intensity), READONLY,
     "The chromatogram's intensity at this spectrum."},
    {"x", T_OBJECT, offsetof(ChromatogramPointObject, x), READONLY,
     "The m/z or wavelength that goes with the intensity."},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot chromatogram_point_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(chromatogram_point_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(py::dealloc_object_fields<ChromatogramPointObject>)},
    {Py_tp_traverse, reinterpret_cast<void*>(py::traverse_object_fields<ChromatogramPointObject>)},
    {Py_tp_clear, reinterpret_cast<void*>(py::clear_object_fields<ChromatogramPointObject>)},
    {Py_tp_repr, reinterpret_cast<void*>(chromatogram_point_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(chromatogram_point_richcompare)},
    {Py_tp_hash, reinterpret_cast<void*>(chromatogram_point_hash)},
    {Py_tp_members, chromatogram_point_members},
    {Py_tp_doc, const_cast<char*>(
        "SpectrumBasedChromatogramPoint(spectrum_index, retention_time, intensity, x)\n--\n\n"
        "One point of a chromatogram, made from one spectrum. Equal when all four values are equal.")},
    {0, nullptr},
};

PyType_Spec chromatogram_point_spec = {"ozra_data_access._internal._storage.SpectrumBasedChromatogramPoint",
                                       sizeof(ChromatogramPointObject), 0,
                                       Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, chromatogram_point_slots};

}  // namespace

py::Ref new_value_range(py::Ref min, py::Ref max) {
    return make_value_range(value_range_type, std::move(min), std::move(max));
}

void add_value_types(PyObject* module, storage::ValueTypesApi& api) {
    value_range_type = py::add_type(module, &value_range_spec);
    chromatogram_point_type = py::add_type(module, &chromatogram_point_spec);
    api.value_range = value_range_type;
    api.chromatogram_point = chromatogram_point_type;
}

}  // namespace ozra::storage
