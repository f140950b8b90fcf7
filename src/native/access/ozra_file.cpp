// OzraFile: an open Ozra file, its one reader and jump table, and its measurements.
#include "access/access_module.hpp"
#include "python/args.hpp"
#include "python/entry.hpp"
#include "python/index_range.hpp"
#include "python/object_fields.hpp"
#include "python/text.hpp"
#include "python/types.hpp"

#include <structmember.h>

#include <cstddef>

namespace ozra::access {
namespace {

struct FileObject {
    PyObject_HEAD
    PyObject* file_path;
    PyObject* reader;
    PyObject* jump_table;
};

FileObject* as_file(PyObject* self) { return reinterpret_cast<FileObject*>(self); }

// The fields are reassigned only by a repeated __init__, which may run during
// any call out; methods therefore hold their own references.
py::Ref reader_of(PyObject* self) {
    return py::Ref::borrow(py::require_field(as_file(self)->reader, self, "_OzraFile__reader"));
}
py::Ref jump_table_of(PyObject* self) {
    return py::Ref::borrow(py::require_field(as_file(self)->jump_table, self, "_OzraFile__jump_table"));
}
py::Ref file_path_of(PyObject* self) {
    return py::Ref::borrow(py::require_field(as_file(self)->file_path, self, "_OzraFile__file_path"));
}

int file_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    return py::guard_int([&] {
        static const py::Parameters parameters("__init__", {"file_path"}, 1);
        const AccessNames& names = state().names;
        PyObject* file_path = py::parse_arguments<1>(parameters, args, kwargs)[0];
        FileObject* file = as_file(self);
        py::set_object_field(file->file_path, file_path);
        py::Ref reader_class = global(names.reader_class);
        py::Ref reader = py::call_method(reader_class.get(), names.reader_create_instance, file_path);
        py::set_object_field(file->reader, reader.copy());
        py::Ref jump_table_class = global(names.jump_table_class);
        py::Ref jump_table = py::call_method(jump_table_class.get(), names.jump_table_create_instance, reader.get());
        py::set_object_field(file->jump_table, std::move(jump_table));
        return 0;
    });
}

// What close(), __exit__ and the destructor do: close the reader's stream unless it is closed.
void close_stream(PyObject* self) {
    py::Ref reader = reader_of(self);
    py::Ref stream = py::get_attr(reader.get(), state().names.stream);
    py::Ref closed = py::get_attr(stream.get(), state().names.closed);
    if (py::is_true(closed.get())) return;
    py::call_method(stream.get(), state().names.close);
}

// The destructor (__del__). A file whose construction failed before it had a
// reader has nothing to close; an error while closing is reported as the
// interpreter reports one raised by __del__, never passed on.
void file_finalize(PyObject* self) {
    if (as_file(self)->reader == nullptr) return;
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    if (py::guard_int([&] {
            close_stream(self);
            return 0;
        }) < 0) {
        PyErr_WriteUnraisable(self);
    }
    PyErr_Restore(type, value, traceback);
}

PyObject* file_close(PyObject* self, PyObject*) {
    return py::guard([&] {
        close_stream(self);
        return py::Ref::none();
    });
}

PyObject* file_enter(PyObject* self, PyObject*) { return py::Ref::borrow(self).release(); }

PyObject* file_exit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&] {
        static const py::Parameters parameters("__exit__", {"ex_type", "ex_value", "trace"}, 3);
        py::parse_arguments<3>(parameters, args, nargs, kwnames);
        close_stream(self);
        return py::Ref::none();
    });
}

PyObject* file_str(PyObject* self) {
    return py::guard([&] { return file_path_of(self); });
}

PyObject* file_path_property(PyObject* self, void*) { return file_str(self); }

py::Ref version_text(PyObject* self, const std::array<py::Kept, 3>& fields) {
    py::Ref jump_table = jump_table_of(self);
    py::Ref major = py::get_attr(jump_table.get(), fields[0]);
    py::Ref minor = py::get_attr(jump_table.get(), fields[1]);
    py::Ref revision = py::get_attr(jump_table.get(), fields[2]);
    py::Text text;
    text.add_str(major.get());
    text.add(".");
    text.add_str(minor.get());
    text.add(".");
    text.add_str(revision.get());
    return text.finish();
}

PyObject* file_format_version(PyObject* self, PyObject*) {
    return py::guard([&] { return version_text(self, state().names.format_version); });
}

PyObject* converter_version(PyObject* self, PyObject*) {
    return py::guard([&] { return version_text(self, state().names.converter_version); });
}

PyObject* measurement_count(PyObject* self, PyObject*) {
    return py::guard([&] {
        py::Ref jump_table = jump_table_of(self);
        return py::get_attr(jump_table.get(), state().names.num_measurements);
    });
}

PyObject* get_measurement(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&] {
        static const py::Parameters parameters("get_measurement", {"index"}, 1);
        const AccessNames& names = state().names;
        PyObject* index = py::parse_arguments<1>(parameters, args, nargs, kwnames)[0];
        py::Ref jump_table = jump_table_of(self);
        py::Ref count = py::get_attr(jump_table.get(), names.num_measurements);
        if (py::out_of_range(index, count.get())) {
            py::Ref ozra_exception = global(names.ozra_exception);
            py::raise(ozra_exception.get(), "Index out of range");
        }
        py::Ref index_list = py::get_attr(jump_table.get(), names.measurement_index_list);
        py::Ref measurement_index = py::Ref::checked(PyObject_GetItem(index_list.get(), index));
        py::Ref measurement_class = global(names.measurement_class);
        return py::call_method(measurement_class.get(), names.measurement_create_instance, measurement_index.get(),
                               index);
    });
}

// Pickled as its path: unpickling opens the file again.
PyObject* file_reduce(PyObject* self, PyObject*) {
    return py::guard([&] {
        py::Ref path = file_path_of(self);
        return py::Ref::checked(Py_BuildValue("(O(O))", reinterpret_cast<PyObject*>(Py_TYPE(self)), path.get()));
    });
}

PyMethodDef file_methods[] = {
    {"__enter__", file_enter, METH_NOARGS,
     "__enter__($self, /)\n--\n\n"
     "Enters a with block; returns the file object itself."},
    {"__exit__", py::method_cast(file_exit), py::fastcall_flags,
     "__exit__($self, /, ex_type, ex_value, trace)\n--\n\n"
     "Leaves a with block: closes the file; returns None, so an exception of the block propagates."},
    {"close", file_close, METH_NOARGS,
     "close($self, /)\n--\n\n"
     "Closes the file's stream; does nothing if it is closed already. Objects obtained from the file keep "
     "what they hold but can read nothing more."},
    {"get_file_format_version", file_format_version, METH_NOARGS,
     "get_file_format_version($self, /)\n--\n\n"
     "The file format's version, major.minor.revision."},
    {"get_converter_version", converter_version, METH_NOARGS,
     "get_converter_version($self, /)\n--\n\n"
     "The version of the converter that wrote the file, major.minor.revision."},
    {"get_measurement_count", measurement_count, METH_NOARGS,
     "get_measurement_count($self, /)\n--\n\n"
     "The number of measurements in the file."},
    {"get_measurement", py::method_cast(get_measurement), py::fastcall_flags,
     "get_measurement($self, /, index)\n--\n\n"
     "A new Measurement of the measurement at position `index`, read from the file; OzraException if out of "
     "range."},
    {"__reduce__", file_reduce, METH_NOARGS,
     "__reduce__($self, /)\n--\n\n"
     "Pickles the file as its path: unpickling opens the file at that path again (a relative path from the "
     "unpickling process's working directory), whether or not this object was closed."},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef file_members[] = {
    {"_OzraFile__file_path", T_OBJECT_EX, offsetof(FileObject, file_path), READONLY, nullptr},
    {"_OzraFile__reader", T_OBJECT_EX, offsetof(FileObject, reader), READONLY, nullptr},
    {"_OzraFile__jump_table", T_OBJECT_EX, offsetof(FileObject, jump_table), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef file_getset[] = {
    {"file_path", file_path_property, nullptr, "The path the file was opened with, exactly as given.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot file_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(PyType_GenericNew)},
    {Py_tp_init, reinterpret_cast<void*>(file_init)},
    {Py_tp_finalize, reinterpret_cast<void*>(file_finalize)},
    {Py_tp_dealloc, reinterpret_cast<void*>(py::dealloc_finalized_object_fields<FileObject>)},
    {Py_tp_traverse, reinterpret_cast<void*>(py::traverse_object_fields<FileObject>)},
    {Py_tp_clear, reinterpret_cast<void*>(py::clear_object_fields<FileObject>)},
    {Py_tp_str, reinterpret_cast<void*>(file_str)},
    {Py_tp_repr, reinterpret_cast<void*>(file_str)},
    {Py_tp_methods, file_methods},
    {Py_tp_members, file_members},
    {Py_tp_getset, file_getset},
    {Py_tp_doc, const_cast<char*>(
                    "OzraFile(file_path)\n--\n\n"
                    "An Ozra file opened for reading. Gives the versions, the measurement "
                    "count and the measurements; close() (or the end of a with block, or destruction) closes it "
                    "for every object obtained from it: keep it open, and referenced, while they are used (with "
                    "OzraFile(path) as f: ...); OzraFile(path).get_measurement(0).get_qual_analysis(0) raises "
                    "ValueError('I/O operation on closed file') as the unreferenced file is closed first. "
                    "Pickles as its path and opens again when unpickled; the "
                    "objects obtained from it (measurements, analyses, spectra) are not picklable: they read "
                    "through this file's open reader.")},
    {0, nullptr},
};

PyType_Spec file_spec = {"ozra_data_access.access.OzraFile", sizeof(FileObject), 0,
                         Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC, file_slots};

}  // namespace

void add_file_types(PyObject* module) {
    py::add_type(module, &file_spec);
    add_measurement_type(module);
}

}  // namespace ozra::access
