#include "storage/spectrum_points.hpp"
#include "storage/storage_module.hpp"

#include "python/args.hpp"
#include "python/entry.hpp"
#include "python/object_fields.hpp"
#include "python/types.hpp"

#include <structmember.h>

#include <limits>

namespace ozra::storage {
namespace {

using py::Ref;

// ---- SpectrumPoint ----------------------------------------------------------

using storage::SpectrumPointObject;


SpectrumPointObject* as_point(PyObject* self) { return reinterpret_cast<SpectrumPointObject*>(self); }

PyObject* point_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return py::guard([&]() -> Ref {
        static const py::Parameters parameters("SpectrumPoint", {"x", "intensity"}, 2);
        auto parsed = py::parse_arguments<2>(parameters, args, kwargs);
        Ref self = py::allocate(type);
        as_point(self.get())->x = py::as_double(parsed[0]);
        as_point(self.get())->intensity = py::as_double(parsed[1]);
        return self;
    });
}


PyObject* point_repr(PyObject* self) {
    return py::guard([&]() -> Ref {
        Ref x = py::from_double(as_point(self)->x);
        Ref intensity = py::from_double(as_point(self)->intensity);
        return Ref::checked(PyUnicode_FromFormat("SpectrumPoint(x=%R, intensity=%R)", x.get(), intensity.get()));
    });
}

PyObject* point_richcompare(PyObject* self, PyObject* other, int op) {
    if ((op != Py_EQ && op != Py_NE) || !PyObject_TypeCheck(other, state().value_types.spectrum_point)) Py_RETURN_NOTIMPLEMENTED;
    const bool equal = as_point(self)->x == as_point(other)->x &&
                       as_point(self)->intensity == as_point(other)->intensity;
    return Ref::boolean(op == Py_EQ ? equal : !equal).release();
}

Py_hash_t point_hash(PyObject* self) {
    return py::guard_hash([&]() -> Py_hash_t {
        Ref pair = Ref::checked(Py_BuildValue("(dd)", as_point(self)->x, as_point(self)->intensity));
        const Py_hash_t hash = PyObject_Hash(pair.get());
        if (hash == -1) py::throw_error();
        return hash;
    });
}

PyMemberDef point_members[] = {
    {"x", T_DOUBLE, offsetof(SpectrumPointObject, x), READONLY, "m/z for MS spectra, wavelength for DAD spectra."},
    {"intensity", T_DOUBLE, offsetof(SpectrumPointObject, intensity), READONLY, "The intensity at x."},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot point_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(point_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(py::free_instance)},
    {Py_tp_repr, reinterpret_cast<void*>(point_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(point_richcompare)},
    {Py_tp_hash, reinterpret_cast<void*>(point_hash)},
    {Py_tp_members, point_members},
    {Py_tp_doc, const_cast<char*>("SpectrumPoint(x, intensity)\n--\n\n"
                                  "One point of a spectrum. Equal to another point with the same x and intensity.")},
    {0, nullptr},
};

PyType_Spec point_spec = {"ozra_data_access._internal._storage.SpectrumPoint", sizeof(SpectrumPointObject), 0,
                          Py_TPFLAGS_DEFAULT, point_slots};

// ---- SpectrumPoints ---------------------------------------------------------

// The buffer is an ob_size x 2 matrix of doubles rather than records of a struct
// format: numpy parses a struct format in Python on every numpy.asarray (some
// 10 us), and takes a plain "d" matrix at once.
struct SpectrumPointsObject {
    PyObject_VAR_HEAD
    Py_ssize_t shape[2];    // {ob_size, 2}, kept where a buffer view can point at them
    Py_ssize_t strides[2];  // {sizeof(PointPair), sizeof(double)}
    core::PointPair points[1];  // really ob_size of them
};

constexpr Py_ssize_t points_header_size = offsetof(SpectrumPointsObject, points);


SpectrumPointsObject* as_points(PyObject* self) { return reinterpret_cast<SpectrumPointsObject*>(self); }


Py_ssize_t points_length(PyObject* self) { return Py_SIZE(self); }

// The interpreter has already added the length to a negative index.
PyObject* points_item(PyObject* self, Py_ssize_t index) {
    if (index < 0 || index >= Py_SIZE(self)) {
        PyErr_SetString(PyExc_IndexError, "SpectrumPoints index out of range");
        return nullptr;
    }
    return py::guard([&]() -> Ref {
        const core::PointPair& point = as_points(self)->points[index];
        return new_spectrum_point(point.x, point.intensity);
    });
}

PyObject* points_repr(PyObject* self) {
    return PyUnicode_FromFormat("<SpectrumPoints of %zd points>", Py_SIZE(self));
}

int points_getbuffer(PyObject* self, Py_buffer* view, int flags) {
    if (flags & PyBUF_WRITABLE) {
        PyErr_SetString(PyExc_BufferError, "SpectrumPoints is read-only");
        view->obj = nullptr;
        return -1;
    }
    SpectrumPointsObject* points = as_points(self);
    view->buf = points->points;
    view->obj = py::Ref::borrow(self).release();
    view->len = Py_SIZE(self) * static_cast<Py_ssize_t>(sizeof(core::PointPair));
    view->readonly = 1;
    view->itemsize = sizeof(double);
    view->format = (flags & PyBUF_FORMAT) ? const_cast<char*>("d") : nullptr;
    view->ndim = 2;
    view->shape = (flags & PyBUF_ND) ? points->shape : nullptr;
    view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? points->strides : nullptr;
    view->suboffsets = nullptr;
    view->internal = nullptr;
    return 0;
}

PyType_Slot points_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(py::free_instance)},
    {Py_tp_repr, reinterpret_cast<void*>(points_repr)},
    {Py_sq_length, reinterpret_cast<void*>(points_length)},
    {Py_sq_item, reinterpret_cast<void*>(points_item)},
    {Py_bf_getbuffer, reinterpret_cast<void*>(points_getbuffer)},
    {Py_tp_doc, const_cast<char*>(
        "The points of one spectrum, in increasing x: len(), integer indexing (negative indices\n"
        "count from the end) giving SpectrumPoint records, and a read-only buffer: an n x 2 matrix\n"
        "of doubles, one (x, intensity) row per point, so that numpy.asarray(points) is an (n, 2)\n"
        "float64 array that shares the memory (column 0 x, column 1 intensity);\n"
        "ozra_data_access.arrays.spectrum_view(points) is the same memory with the fields x and intensity.")},
    {0, nullptr},
};

PyType_Spec points_spec = {"ozra_data_access._internal._storage.SpectrumPoints",
                           static_cast<int>(points_header_size), static_cast<int>(sizeof(core::PointPair)),
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, points_slots};

}  // namespace

py::Ref new_spectrum_points(std::size_t count, core::PointPair** points) {
    if (count > static_cast<std::size_t>(std::numeric_limits<Py_ssize_t>::max() / sizeof(core::PointPair))) {
        throw std::bad_alloc();
    }
    const auto size = static_cast<Py_ssize_t>(count);
    // Not zero-filled, unlike tp_alloc: the caller writes every point.
    void* memory = PyObject_Malloc(static_cast<std::size_t>(points_header_size) + count * sizeof(core::PointPair));
    if (memory == nullptr) throw std::bad_alloc();
    Ref self = Ref::steal(reinterpret_cast<PyObject*>(
        PyObject_InitVar(static_cast<PyVarObject*>(memory), state().value_types.spectrum_points, size)));
    SpectrumPointsObject* object = as_points(self.get());
    object->shape[0] = size;
    object->shape[1] = 2;
    object->strides[0] = sizeof(core::PointPair);
    object->strides[1] = sizeof(double);
    *points = object->points;
    return self;
}

py::Ref new_spectrum_point(double x, double intensity) {
    Ref point = py::allocate(state().value_types.spectrum_point);
    as_point(point.get())->x = x;
    as_point(point.get())->intensity = intensity;
    return point;
}

void add_spectrum_point_types(PyObject* module) {
    state().value_types.spectrum_point = py::add_type(module, &point_spec);
    state().value_types.spectrum_points = py::add_type(module, &points_spec);
}

}  // namespace ozra::storage
