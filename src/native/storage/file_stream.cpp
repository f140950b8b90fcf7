#include "storage/file_stream.hpp"
#include "storage/storage_module.hpp"

#include "python/args.hpp"
#include "python/entry.hpp"
#include "python/object_fields.hpp"
#include "python/types.hpp"

#include <algorithm>
#include <new>

namespace ozra::storage {
namespace {

using py::Ref;

struct StreamObject {
    PyObject_HEAD
    std::shared_ptr<core::FileSource>* file;  // owned; shared with the reader
    std::uint64_t position;
};


StreamObject* as_stream(PyObject* self) { return reinterpret_cast<StreamObject*>(self); }

core::FileSource& open_file(PyObject* self) {
    core::FileSource& file = **as_stream(self)->file;
    file.require_open();
    return file;
}

void stream_dealloc(PyObject* self) {
    delete as_stream(self)->file;
    py::free_instance(self);
}

PyObject* stream_closed(PyObject* self, void*) { return Ref::boolean((*as_stream(self)->file)->closed()).release(); }

PyObject* stream_close(PyObject* self, PyObject*) {
    (*as_stream(self)->file)->close();
    Py_RETURN_NONE;
}

PyObject* stream_fileno(PyObject* self, PyObject*) {
    return py::guard([&] { return py::from_long(open_file(self).fileno()); });
}

PyObject* stream_tell(PyObject* self, PyObject*) {
    return py::guard([&] {
        open_file(self);
        return py::from_long(static_cast<long long>(as_stream(self)->position));
    });
}

PyObject* stream_read(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&]() -> Ref {
        static const py::Parameters parameters("read", {"size"}, 0);
        auto parsed = py::parse_arguments<1>(parameters, args, nargs, kwnames);
        Py_ssize_t wanted = -1;
        if (parsed[0] != nullptr && parsed[0] != Py_None) {
            wanted = PyNumber_AsSsize_t(parsed[0], PyExc_OverflowError);
            if (wanted == -1 && PyErr_Occurred()) py::throw_error();
        }
        core::FileSource& file = open_file(self);
        StreamObject* stream = as_stream(self);
        const std::uint64_t left = file.size() - std::min(file.size(), stream->position);
        const std::uint64_t length =
            wanted < 0 ? left : std::min<std::uint64_t>(left, static_cast<std::uint64_t>(wanted));
        Ref bytes = Ref::checked(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(length)));
        file.read_exact(stream->position, length, reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(bytes.get())));
        stream->position += length;
        return bytes;
    });
}

PyObject* stream_seek(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&]() -> Ref {
        static const py::Parameters parameters("seek", {"pos", "whence"}, 1);
        auto parsed = py::parse_arguments<2>(parameters, args, nargs, kwnames);
        const long long offset = py::as_long_long(parsed[0]);
        const long long whence = parsed[1] != nullptr ? py::as_long_long(parsed[1]) : 0;
        core::FileSource& file = open_file(self);
        StreamObject* stream = as_stream(self);
        long long base = 0;
        if (whence == 1) {
            base = static_cast<long long>(stream->position);
        } else if (whence == 2) {
            base = static_cast<long long>(file.size());
        } else if (whence != 0) {
            PyErr_Format(PyExc_ValueError, "invalid whence (%ld, should be 0, 1 or 2)", whence);
            py::throw_error();
        }
        long long target;
        if (__builtin_add_overflow(base, offset, &target)) py::raise(PyExc_OverflowError, "seek position too large");
        if (target < 0) {
            PyErr_Format(PyExc_OSError, "negative seek position %lld", target);
            py::throw_error();
        }
        stream->position = static_cast<std::uint64_t>(target);
        return py::from_long(target);
    });
}

PyObject* stream_enter(PyObject* self, PyObject*) {
    return py::guard([&] {
        open_file(self);
        return Ref::borrow(self);
    });
}

PyObject* stream_exit(PyObject* self, PyObject* const*, Py_ssize_t) {
    (*as_stream(self)->file)->close();
    Py_RETURN_NONE;
}

PyGetSetDef stream_getset[] = {
    {"closed", stream_closed, nullptr, "True once the file is closed.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef stream_methods[] = {
    {"close", stream_close, METH_NOARGS,
     "close()\n--\n\nCloses the file; every later read, through the stream or the reader, raises ValueError."},
    {"fileno", stream_fileno, METH_NOARGS, "fileno()\n--\n\nThe file descriptor."},
    {"read", py::method_cast(stream_read), METH_FASTCALL | METH_KEYWORDS,
     "read(size=-1)\n--\n\nUp to size bytes from the stream position (all if negative)."},
    {"seek", py::method_cast(stream_seek),
     METH_FASTCALL | METH_KEYWORDS,
     "seek(pos, whence=0)\n--\n\nMoves the stream position (whence: 0 start, 1 current, 2 end); returns it."},
    {"tell", stream_tell, METH_NOARGS, "tell()\n--\n\nThe stream position."},
    {"__enter__", stream_enter, METH_NOARGS, "Returns the stream itself."},
    {"__exit__", py::method_cast(stream_exit), METH_FASTCALL,
     "Closes the stream."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot stream_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(stream_dealloc)},
    {Py_tp_getset, stream_getset},
    {Py_tp_methods, stream_methods},
    {Py_tp_doc, const_cast<char*>(
        "The open Ozra file as a read-only binary file-like object (closed, close(), fileno(),\n"
        "read(), seek(), tell(), with-block). It keeps its own position; closing it closes the\n"
        "file for its reader as well.")},
    {0, nullptr},
};

PyType_Spec stream_spec = {"ozra_data_access._internal._storage.OzraFileStream", sizeof(StreamObject), 0,
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, stream_slots};

}  // namespace

py::Ref new_file_stream(std::shared_ptr<core::FileSource> file) {
    Ref stream = py::allocate(state().stream);
    as_stream(stream.get())->file = new std::shared_ptr<core::FileSource>(std::move(file));
    as_stream(stream.get())->position = 0;
    return stream;
}

void add_file_stream_type(PyObject* module) { state().stream = py::add_type(module, &stream_spec); }

}  // namespace ozra::storage
