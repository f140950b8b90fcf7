// ValueRange and SpectrumBasedChromatogramPoint, the value types callers receive.
#include "storage/storage_module.hpp"

#include "python/args.hpp"
#include "python/entry.hpp"
#include "python/object_fields.hpp"
#include "python/pickling.hpp"
#include "python/types.hpp"
#include "storage/api/storage_api.hpp"

#include <structmember.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace ozra::storage {
namespace {

using storage::ChromatogramPointObject;
using py::Ref;
using storage::ValueRangeObject;

// ---- ValueRange -------------------------------------------------------------

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
        if (!PyObject_TypeCheck(other, state().value_types.value_range)) return Ref::borrow(Py_NotImplemented);
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

PyObject* value_range_reduce(PyObject* self, PyObject*) {
    return py::guard([&] {
        return py::reduce_to_constructor(self, py::object_fields(self), py::object_field_count<ValueRangeObject>);
    });
}

PyMethodDef value_range_methods[] = {
    {"contains_value", value_range_contains_value, METH_O,
     "contains_value(value)\n--\n\nWhether min <= value <= max: the range is closed at both ends."},
    {"__reduce__", value_range_reduce, METH_NOARGS,
     "__reduce__($self, /)\n--\n\nPickles the range by value: ValueRange(min, max)."},
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

ChromatogramPointObject* as_point(PyObject* self) { return reinterpret_cast<ChromatogramPointObject*>(self); }

PyObject* chromatogram_point_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return py::guard([&]() -> Ref {
        static const py::Parameters parameters("SpectrumBasedChromatogramPoint",
                                               {"spectrum_index", "retention_time", "intensity", "x"}, 4);
        auto parsed = py::parse_arguments<4>(parameters, args, kwargs);
        Ref self = storage::new_chromatogram_point(type);
        ChromatogramPointObject* point = as_point(self.get());
        for (int field = 0; field < storage::chromatogram_point_fields; ++field) {
            storage::set_point_value(point, field, parsed[static_cast<std::size_t>(field)]);
        }
        if (storage::point_keeps_objects(point)) PyObject_GC_Track(self.get());
        return self;
    });
}

int chromatogram_point_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    ChromatogramPointObject* point = as_point(self);
    for (int field = 0; field < storage::chromatogram_point_fields; ++field) {
        if (point->kinds[field] == storage::PointValueKind::object) Py_VISIT(point->values[field].object);
    }
    return 0;
}

int chromatogram_point_clear(PyObject* self) {
    ChromatogramPointObject* point = as_point(self);
    for (int field = 0; field < storage::chromatogram_point_fields; ++field) {
        if (point->kinds[field] != storage::PointValueKind::object) continue;
        point->kinds[field] = storage::PointValueKind::none;
        Py_CLEAR(point->values[field].object);
    }
    return 0;
}

void chromatogram_point_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    chromatogram_point_clear(self);
    type->tp_free(self);
    Py_DECREF(type);
}

// The four values as a tuple of the objects Python reads.
Ref point_values(PyObject* self) {
    const ChromatogramPointObject* point = as_point(self);
    Ref values = Ref::checked(PyTuple_New(storage::chromatogram_point_fields));
    for (int field = 0; field < storage::chromatogram_point_fields; ++field) {
        PyTuple_SET_ITEM(values.get(), field, storage::point_value(point, field).release());
    }
    return values;
}

PyObject* chromatogram_point_repr(PyObject* self) {
    return py::guard([&]() -> Ref {
        Ref values = point_values(self);
        return Ref::checked(PyUnicode_FromFormat(
            "SpectrumBasedChromatogramPoint(spectrum_index=%R, retention_time=%R, intensity=%R, x=%R)",
            PyTuple_GET_ITEM(values.get(), 0), PyTuple_GET_ITEM(values.get(), 1), PyTuple_GET_ITEM(values.get(), 2),
            PyTuple_GET_ITEM(values.get(), 3)));
    });
}

// `a == b` of one field. Two C values of one kind compare as Python compares the
// numbers they stand for; other pairs are compared through their objects.
bool field_equals(const ChromatogramPointObject* a, const ChromatogramPointObject* b, int field) {
    const storage::PointValueKind kind = a->kinds[field];
    if (kind == b->kinds[field]) {
        if (kind == storage::PointValueKind::real) return a->values[field].real == b->values[field].real;
        if (kind == storage::PointValueKind::integer) return a->values[field].integer == b->values[field].integer;
        if (kind == storage::PointValueKind::none) return true;
    }
    Ref left = storage::point_value(a, field);
    Ref right = storage::point_value(b, field);
    return py::compare(left.get(), right.get(), Py_EQ);
}

PyObject* chromatogram_point_richcompare(PyObject* self, PyObject* other, int op) {
    if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
    return py::guard([&]() -> Ref {
        if (!PyObject_TypeCheck(other, state().value_types.chromatogram_point)) return Ref::borrow(Py_NotImplemented);
        // Both points are held by the caller; a comparison of objects cannot free them.
        bool equal = true;
        for (int field = 0; field < storage::chromatogram_point_fields && equal; ++field) {
            equal = field_equals(as_point(self), as_point(other), field);
        }
        return Ref::boolean(op == Py_EQ ? equal : !equal);
    });
}

Py_hash_t chromatogram_point_hash(PyObject* self) {
    return py::guard_hash([&]() -> Py_hash_t {
        Ref values = point_values(self);
        const Py_hash_t hash = PyObject_Hash(values.get());
        if (hash == -1) py::throw_error();
        return hash;
    });
}

PyObject* chromatogram_point_get(PyObject* self, void* field) {
    return py::guard([&] {
        return storage::point_value(as_point(self), static_cast<int>(reinterpret_cast<std::intptr_t>(field)));
    });
}

void* point_field_closure(storage::ChromatogramPointField field) {
    return reinterpret_cast<void*>(static_cast<std::intptr_t>(field));
}

PyGetSetDef chromatogram_point_getset[] = {
    {"spectrum_index", chromatogram_point_get, nullptr, "The spectrum's index as stored in its description.",
     point_field_closure(storage::point_spectrum_index)},
    {"retention_time", chromatogram_point_get, nullptr, "The spectrum's retention time.",
     point_field_closure(storage::point_retention_time)},
    {"intensity", chromatogram_point_get, nullptr, "The chromatogram's intensity at this spectrum.",
     point_field_closure(storage::point_intensity)},
    {"x", chromatogram_point_get, nullptr, "The m/z or wavelength that goes with the intensity.",
     point_field_closure(storage::point_x)},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* chromatogram_point_reduce(PyObject* self, PyObject*) {
    return py::guard([&] {
        std::array<py::Ref, storage::chromatogram_point_fields> values;
        std::array<PyObject*, storage::chromatogram_point_fields> borrowed{};
        for (int field = 0; field < storage::chromatogram_point_fields; ++field) {
            values[field] = storage::point_value(as_point(self), field);
            borrowed[field] = values[field].get();
        }
        return py::reduce_to_constructor(self, borrowed.data(), borrowed.size());
    });
}

PyMethodDef chromatogram_point_methods[] = {
    {"__reduce__", chromatogram_point_reduce, METH_NOARGS,
     "__reduce__($self, /)\n--\n\n"
     "Pickles the point by value: SpectrumBasedChromatogramPoint(spectrum_index, retention_time, intensity, x)."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot chromatogram_point_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(chromatogram_point_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(chromatogram_point_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(chromatogram_point_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(chromatogram_point_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(chromatogram_point_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(chromatogram_point_richcompare)},
    {Py_tp_hash, reinterpret_cast<void*>(chromatogram_point_hash)},
    {Py_tp_getset, chromatogram_point_getset},
    {Py_tp_methods, chromatogram_point_methods},
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
    return make_value_range(state().value_types.value_range, std::move(min), std::move(max));
}

void add_value_types(PyObject* module, storage::ValueTypesApi& api) {
    api.value_range = py::add_type(module, &value_range_spec);
    api.chromatogram_point = py::add_type(module, &chromatogram_point_spec);
}

}  // namespace ozra::storage
