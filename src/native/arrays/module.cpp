// ozra_data_access._arrays: the columns behind ozra_data_access.arrays. Every
// function reads the points natively (the storage layer's own records through
// their layout, anything else through its attributes) and returns bytearrays.
#include "arrays/columns.hpp"
#include "python/args.hpp"
#include "python/entry.hpp"
#include "python/module_slots.hpp"
#include "python/types.hpp"
#include "storage/api/storage_api.hpp"

#include <cmath>
#include <limits>

namespace ozra::arrays {
namespace {

using py::Ref;

PyObject* name_spectrum_index = nullptr;
PyObject* name_retention_time = nullptr;
PyObject* name_intensity = nullptr;
PyObject* name_x = nullptr;

[[noreturn]] void raise_field_error(Py_ssize_t position, const char* field, const char* expected, PyObject* value) {
    PyErr_Format(PyExc_TypeError, "point %zd: %s must be %s, not %.100s", position, field, expected,
                 Py_TYPE(value)->tp_name);
    py::throw_error();
}

// float(value), exactly as the value reads in Python; `missing` stands for None.
double as_column_double(PyObject* value, Py_ssize_t position, const char* field, bool none_allowed) {
    if (PyFloat_CheckExact(value)) return PyFloat_AS_DOUBLE(value);
    if (value == Py_None) {
        if (none_allowed) return std::numeric_limits<double>::quiet_NaN();
        raise_field_error(position, field, "a real number", value);
    }
    const double result = PyFloat_AsDouble(value);
    if (result == -1.0 && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) py::throw_error();
        PyErr_Clear();
        raise_field_error(position, field, none_allowed ? "a real number or None" : "a real number", value);
    }
    return result;
}

std::int64_t as_column_index(PyObject* value, Py_ssize_t position) {
    if (!PyLong_Check(value)) raise_field_error(position, "spectrum_index", "an integer", value);
    return py::as_long_long(value);
}

// One value of a chromatogram point kept as a C number, as a double (None as NaN
// where `none_allowed`); false for a value kept as an object.
bool c_double(const storage::ChromatogramPointObject* point, int field, bool none_allowed, double& out) noexcept {
    switch (point->kinds[field]) {
        case storage::PointValueKind::real: out = point->values[field].real; return true;
        case storage::PointValueKind::integer: out = static_cast<double>(point->values[field].integer); return true;
        case storage::PointValueKind::none:
            out = std::numeric_limits<double>::quiet_NaN();
            return none_allowed;
        default: return false;
    }
}

// One value of a chromatogram point as a double, through its object when not a C number.
double point_double(const storage::ChromatogramPointObject* point, int field, Py_ssize_t position, const char* name,
                    bool none_allowed) {
    double value = 0.0;
    if (c_double(point, field, none_allowed, value)) return value;
    py::Ref object = storage::point_value(point, field);
    return as_column_double(object.get(), position, name, none_allowed);
}

// The spectrum index of a point when kept as a C integer; false otherwise.
bool c_index(const storage::ChromatogramPointObject* point, std::int64_t& out) noexcept {
    if (point->kinds[storage::point_spectrum_index] != storage::PointValueKind::integer) return false;
    out = point->values[storage::point_spectrum_index].integer;
    return true;
}

std::int64_t point_index(const storage::ChromatogramPointObject* point, Py_ssize_t position) {
    std::int64_t index = 0;
    if (c_index(point, index)) return index;
    py::Ref value = storage::point_value(point, storage::point_spectrum_index);
    return as_column_index(value.get(), position);
}

struct ChromatogramColumns {
    explicit ChromatogramColumns(Py_ssize_t count) : retention_time(count), intensity(count), x(count),
                                                     spectrum_index(count) {}
    DoubleColumn retention_time, intensity, x;
    IndexColumn spectrum_index;

    Ref release() {
        return Ref::checked(PyTuple_Pack(4, retention_time.release().get(), intensity.release().get(),
                                         x.release().get(), spectrum_index.release().get()));
    }
};

// The columns of a list holding only the storage layer's points with C numbers
// (what every chromatogram of this package is), read straight from the list:
// nothing in the walk runs Python code, so the list cannot change under it.
// Empty for any other input, which the general walk reads.
Ref native_list_columns(PyObject* points) {
    if (!PyList_CheckExact(points)) return {};
    const Py_ssize_t count = PyList_GET_SIZE(points);
    ChromatogramColumns columns(count);  // bytearrays: their allocation runs no collection
    PyTypeObject* native = storage::value_types_api().chromatogram_point;
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject* item = PyList_GET_ITEM(points, i);
        if (Py_TYPE(item) != native) return {};
        const auto* point = reinterpret_cast<const storage::ChromatogramPointObject*>(item);
        if (!c_index(point, columns.spectrum_index[i]) ||
            !c_double(point, storage::point_retention_time, false, columns.retention_time[i]) ||
            !c_double(point, storage::point_intensity, false, columns.intensity[i]) ||
            !c_double(point, storage::point_x, true, columns.x[i])) {
            return {};
        }
    }
    return columns.release();
}

// chromatogram_columns(points) -> (retention_time, intensity, x, spectrum_index)
PyObject* chromatogram_columns(PyObject*, PyObject* points) {
    return py::guard([&] {
        if (Ref columns = native_list_columns(points)) return columns;
        Ref sequence = py::held_items(points, "chromatogram points must be a sequence");
        const Py_ssize_t count = PyTuple_GET_SIZE(sequence.get());
        ChromatogramColumns columns(count);
        PyTypeObject* native = storage::value_types_api().chromatogram_point;
        for (Py_ssize_t i = 0; i < count; ++i) {
            PyObject* point = PyTuple_GET_ITEM(sequence.get(), i);  // held by the tuple
            if (Py_TYPE(point) == native) {
                const auto* record = reinterpret_cast<const storage::ChromatogramPointObject*>(point);
                columns.spectrum_index[i] = point_index(record, i);
                columns.retention_time[i] =
                    point_double(record, storage::point_retention_time, i, "retention_time", false);
                columns.intensity[i] = point_double(record, storage::point_intensity, i, "intensity", false);
                columns.x[i] = point_double(record, storage::point_x, i, "x", true);
                continue;
            }
            Ref index = py::get_attr(point, name_spectrum_index);
            Ref rt = py::get_attr(point, name_retention_time);
            Ref value = py::get_attr(point, name_intensity);
            Ref point_x = py::get_attr(point, name_x);
            columns.spectrum_index[i] = as_column_index(index.get(), i);
            columns.retention_time[i] = as_column_double(rt.get(), i, "retention_time", false);
            columns.intensity[i] = as_column_double(value.get(), i, "intensity", false);
            columns.x[i] = as_column_double(point_x.get(), i, "x", true);
        }
        return columns.release();
    });
}

// The points buffer of the storage layer's SpectrumPoints (or any exporter of
// the same layout), split into the x and intensity columns.
bool split_point_buffer(PyObject* points, Ref& x_out, Ref& intensity_out) {
    if (!PyObject_CheckBuffer(points)) return false;
    Py_buffer view;
    if (PyObject_GetBuffer(points, &view, PyBUF_RECORDS_RO) < 0) {
        if (!py::clear_layout_refusal()) py::throw_error();
        return false;
    }
    const Py_ssize_t count = storage::point_pair_count(points, view);
    const bool usable = count >= 0;
    if (usable) {
        const auto* pairs = static_cast<const storage::Point*>(view.buf);
        DoubleColumn x(count), intensity(count);
        for (Py_ssize_t i = 0; i < count; ++i) {
            x[i] = pairs[i].x;
            intensity[i] = pairs[i].intensity;
        }
        x_out = x.release();
        intensity_out = intensity.release();
    }
    PyBuffer_Release(&view);
    return usable;
}

// spectrum_columns(points) -> (x, intensity)
PyObject* spectrum_columns(PyObject*, PyObject* points) {
    return py::guard([&] {
        Ref x_bytes, intensity_bytes;
        if (!split_point_buffer(points, x_bytes, intensity_bytes)) {
            Ref sequence = py::held_items(points, "spectrum points must be a sequence");
            const Py_ssize_t count = PyTuple_GET_SIZE(sequence.get());
            DoubleColumn x(count), intensity(count);
            for (Py_ssize_t i = 0; i < count; ++i) {
                PyObject* point = PyTuple_GET_ITEM(sequence.get(), i);  // held by the tuple
                Ref point_x = py::get_attr(point, name_x);
                Ref point_intensity = py::get_attr(point, name_intensity);
                x[i] = as_column_double(point_x.get(), i, "x", false);
                intensity[i] = as_column_double(point_intensity.get(), i, "intensity", false);
            }
            x_bytes = x.release();
            intensity_bytes = intensity.release();
        }
        return Ref::checked(PyTuple_Pack(2, x_bytes.get(), intensity_bytes.get()));
    });
}

PyMethodDef methods[] = {
    {"chromatogram_columns", chromatogram_columns, METH_O,
     "chromatogram_columns(points)\n--\n\n"
     "(retention_time, intensity, x, spectrum_index) as bytearrays of float64, float64, float64\n"
     "(NaN for an x of None) and int64."},
    {"spectrum_columns", spectrum_columns, METH_O,
     "spectrum_columns(points)\n--\n\n(x, intensity) as bytearrays of float64."},
    {nullptr, nullptr, 0, nullptr},
};

int arrays_exec(PyObject*) {
    return py::guard_int([] {
        name_spectrum_index = py::intern("spectrum_index");
        name_retention_time = py::intern("retention_time");
        name_intensity = py::intern("intensity");
        name_x = py::intern("x");
        // The storage module holds the value types; it may not be loaded yet.
        py::Ref storage = py::Ref::checked(PyImport_ImportModule("ozra_data_access._internal._storage"));
        storage::value_types_api();
        return 0;
    });
}

PyModuleDef arrays_module = {
    PyModuleDef_HEAD_INIT, "ozra_data_access._arrays",
    "The native columns behind ozra_data_access.arrays.", 0, methods, py::module_slots<arrays_exec>(), nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace ozra::arrays

PyMODINIT_FUNC PyInit__arrays() { return PyModuleDef_Init(&ozra::arrays::arrays_module); }
