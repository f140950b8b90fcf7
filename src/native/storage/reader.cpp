// OzraFileReader: opening a file and the block-level reads the index records use.
#include "storage/reader_object.hpp"
#include "storage/storage_module.hpp"

#include "python/args.hpp"
#include "python/entry.hpp"
#include "python/object_fields.hpp"
#include "python/types.hpp"
#include "storage/file_stream.hpp"
#include "storage/imports.hpp"

#include <structmember.h>

#include <cerrno>
#include <memory>
#include <system_error>

namespace ozra::storage {
namespace {

using py::Ref;


ReaderObject* as_reader(PyObject* self) { return reinterpret_cast<ReaderObject*>(self); }

// Runs `read(file)` on the reader's file, the reader held by this thread meanwhile.
template <class Read>
PyObject* with_file(PyObject* self, Read&& read) {
    return py::guard([&] {
        ReaderUse reader(self, "OzraFileReader");
        return read(reader->file);
    });
}

void reader_dealloc(PyObject* self) {
    delete as_reader(self)->state;
    py::clear_field(as_reader(self)->stream);
    py::free_instance(self);
}

// Opens the file; OS errors are raised as the interpreter raises them for open().
std::unique_ptr<ReaderState> open_reader(PyObject* file_path) {
    PyObject* encoded = nullptr;
    if (!PyUnicode_FSConverter(file_path, &encoded)) py::throw_error();
    Ref path = Ref::steal(encoded);
    try {
        return std::make_unique<ReaderState>(PyBytes_AS_STRING(path.get()));
    } catch (const std::system_error& error) {
        errno = error.code().value();
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, file_path);
        py::throw_error();
    }
}

PyObject* reader_create_instance(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&]() -> Ref {
        static const py::Parameters parameters("_OzraFileReader__create_instance", {"file_path"}, 1);
        auto parsed = py::parse_arguments<1>(parameters, args, nargs, kwnames);
        PyTypeObject* type = py::as_class(cls);
        if (!PyType_IsSubtype(type, state().reader)) py::raise(PyExc_TypeError, "not a subclass of OzraFileReader");
        std::unique_ptr<ReaderState> state = open_reader(parsed[0]);
        Ref stream = new_file_stream(state->file.file());
        Ref self = py::allocate(type);
        as_reader(self.get())->state = state.release();
        py::set_object_field(as_reader(self.get())->stream, std::move(stream));
        return self;
    });
}

PyObject* reader_set_buffer(PyObject* self, PyObject* position) {
    return py::guard([&] {
        // A position beyond 64 bits lies outside every file, like its clamped value.
        const long long value = py::as_clamped_long_long(position);
        ReaderUse reader(self, "OzraFileReader");
        reader->file.set_position(value);
        return Ref::none();
    });
}

PyObject* reader_confirm_ozra_symbol(PyObject* self, PyObject* symbol) {
    return with_file(self, [&](core::FileReader& file) {
        file.expect_marker(marker_of(symbol));
        return Ref::none();
    });
}

PyObject* reader_get_absolute_position(PyObject* self, PyObject*) {
    return with_file(self, [](core::FileReader& file) { return py::from_long(static_cast<long long>(file.position())); });
}

PyObject* reader_read_uint32(PyObject* self, PyObject*) {
    return with_file(self, [](core::FileReader& file) { return py::from_long(file.read_u32()); });
}

PyObject* reader_read_uint16_or_32(PyObject* self, PyObject*) {
    return with_file(self, [](core::FileReader& file) { return py::from_long(file.read_count()); });
}

PyObject* reader_read_bool(PyObject* self, PyObject*) {
    return with_file(self, [](core::FileReader& file) { return Ref::boolean(file.read_bool()); });
}

PyObject* reader_read_int64_array(PyObject* self, PyObject*) {
    return with_file(self, [](core::FileReader& file) {
        const std::vector<std::int64_t>& elements = file.read_i64_array();
        static_assert(sizeof(long long) == sizeof(std::int64_t));
        return new_array("q", elements.data(), elements.size() * sizeof(std::int64_t));
    });
}

PyObject* reader_set_decompressed_buffer(PyObject* self, PyObject*) {
    return with_file(self, [](core::FileReader& file) {
        file.enter_frame();
        return Ref::none();
    });
}

PyObject* reader_reset_decompressed_buffer(PyObject* self, PyObject*) {
    return py::guard([&] {
        ReaderUse reader(self, "OzraFileReader");
        reader->file.leave_frame();
        // The SpectrumIndex records made from the frame keep it while they need it.
        reader->description_frame = Ref();
        return Ref::none();
    });
}

PyObject* reader_hold(PyObject* self, PyObject*) {
    return py::guard([&] {
        ReaderState* reader = native_reader(self);
        reader->lock.acquire();
        return Ref::none();
    });
}

PyObject* reader_release(PyObject* self, PyObject*) {
    return py::guard([&] {
        ReaderState* reader = native_reader(self);
        // A release by a thread that does not hold the reader would unlock another thread's hold.
        if (!reader->lock.held_here()) {
            PyErr_SetString(PyExc_RuntimeError, "the reader is not held by this thread");
            py::throw_error();
        }
        reader->lock.release();
        return Ref::none();
    });
}

PyMethodDef reader_methods[] = {
    {"_OzraFileReader__hold", reader_hold, METH_NOARGS,
     "_OzraFileReader__hold()\n--\n\n"
     "Holds the reader for this thread (again, if it holds it already) until as many releases: other\n"
     "threads' reads wait, so that a sequence of reader calls is not interleaved with theirs."},
    {"_OzraFileReader__release", reader_release, METH_NOARGS,
     "_OzraFileReader__release()\n--\n\nEnds one hold of this thread; RuntimeError if it holds none."},
    {"_OzraFileReader__create_instance", py::method_cast(reader_create_instance),
     METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "_OzraFileReader__create_instance(file_path)\n--\n\n"
     "Opens the file (str, bytes or path-like) and reads its header: a reader of this class.\n"
     "FileNotFoundError and the other OS errors are raised as open() raises them; a file that is\n"
     "not an Ozra file, or of an unknown major format version, raises OzraFormatError."},
    {"_OzraFileReader__set_buffer", reader_set_buffer, METH_O,
     "_OzraFileReader__set_buffer(position)\n--\n\n"
     "Later reads start at this absolute position (0 <= position < file size) in the file data,\n"
     "leaving any decompressed frame being read."},
    {"_OzraFileReader__confirm_ozra_symbol", reader_confirm_ozra_symbol, METH_O,
     "_OzraFileReader__confirm_ozra_symbol(symbol)\n--\n\n"
     "Reads the next block marker; OzraFormatError unless it is the given OzraSymbols member."},
    {"_OzraFileReader__get_absolute_position", reader_get_absolute_position, METH_NOARGS,
     "_OzraFileReader__get_absolute_position()\n--\n\n"
     "The current absolute file position (while a decompressed frame is read: the frame's position)."},
    {"_OzraFileReader__read_uint32", reader_read_uint32, METH_NOARGS,
     "_OzraFileReader__read_uint32()\n--\n\nReads a little-endian u32."},
    {"_OzraFileReader__read_uint16_or_32", reader_read_uint16_or_32, METH_NOARGS,
     "_OzraFileReader__read_uint16_or_32()\n--\n\nReads a count: a u16, or after the escape 0xFFFF a u32."},
    {"_OzraFileReader__read_bool", reader_read_bool, METH_NOARGS,
     "_OzraFileReader__read_bool()\n--\n\nReads a bool (a byte that must be 0 or 1)."},
    {"_OzraFileReader__read_int64_array", reader_read_int64_array, METH_NOARGS,
     "_OzraFileReader__read_int64_array()\n--\n\n"
     "Reads a count and that many i64 as array('q'). In a block, the count must equal the block's\n"
     "count read before it."},
    {"_OzraFileReader__set_decompressed_buffer", reader_set_decompressed_buffer, METH_NOARGS,
     "_OzraFileReader__set_decompressed_buffer()\n--\n\n"
     "Decompresses the frame at the current position; reads come from its data until the reset."},
    {"_OzraFileReader__reset_decompressed_buffer", reader_reset_decompressed_buffer, METH_NOARGS,
     "_OzraFileReader__reset_decompressed_buffer()\n--\n\n"
     "Back to the file data, just behind the frame; its data must have been read exactly."},
    {"_OzraFileReader__read_spectrum", read_spectrum, METH_NOARGS,
     "_OzraFileReader__read_spectrum()\n--\n\n"
     "The SpectrumPoints at the current position (a spectrum with stored x values)."},
    {"_OzraFileReader__read_dad_spectrum", read_dad_spectrum, METH_O,
     "_OzraFileReader__read_dad_spectrum(wavelength_arr)\n--\n\n"
     "The SpectrumPoints at the current position, x taken from the wavelengths (a buffer of doubles\n"
     "such as array('d') or a float64 numpy array, or a sequence of numbers), one per point."},
    {"_OzraFileReader__read_spectrum_for_multiple_xic", read_spectrum_for_multiple_xic, METH_O,
     "_OzraFileReader__read_spectrum_for_multiple_xic(xic_infos)\n--\n\n"
     "Reads the spectrum at the current position once and appends to each XicInfo's spectrum_point\n"
     "list the SpectrumPoint records whose x lies in its range (both ends included), in increasing\n"
     "x. Sets each XicInfo's is_break_to_read to whether the spectrum has points above its range.\n"
     "Returns None."},
    {"_OzraFileReader__read_dad_spectrum_for_multiple_xic", py::method_cast(read_dad_spectrum_for_multiple_xic),
     METH_FASTCALL | METH_KEYWORDS,
     "_OzraFileReader__read_dad_spectrum_for_multiple_xic(xic_infos, wavelength_arr)\n--\n\n"
     "As _OzraFileReader__read_spectrum_for_multiple_xic, x taken from the wavelengths."},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef reader_members[] = {
    {"_OzraFileReader__stream", T_OBJECT, offsetof(ReaderObject, stream), READONLY,
     "The file-like object over the open file; closing it closes the reader's file."},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot reader_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(reader_dealloc)},
    {Py_tp_methods, reader_methods},
    {Py_tp_members, reader_members},
    {Py_tp_doc, const_cast<char*>(
        "Reads one Ozra file: made by OzraFileReader._OzraFileReader__create_instance(file_path).\n"
        "It has a current position and reads the file data or, between __set_decompressed_buffer()\n"
        "and __reset_decompressed_buffer(), a decompressed frame. Damage raises OzraFormatError\n"
        "naming what was expected and the byte offset; a read after __stream.close() raises\n"
        "ValueError('I/O operation on closed file'). Subclasses may override any member.")},
    {0, nullptr},
};

PyType_Spec reader_spec = {"ozra_data_access._internal._storage.OzraFileReader", sizeof(ReaderObject), 0,
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
                           reader_slots};

}  // namespace

ReaderState* native_reader(PyObject* object) noexcept {
    if (!PyObject_TypeCheck(object, state().reader)) return nullptr;
    return as_reader(object)->state;
}

ReaderUse::ReaderUse(PyObject* object, const char* who) : state_(native_reader(object)) {
    if (state_ == nullptr) {
        PyErr_Format(PyExc_TypeError, "%s needs an OzraFileReader made by _OzraFileReader__create_instance, not %.200s",
                     who, Py_TYPE(object)->tp_name);
        py::throw_error();
    }
    state_->lock.acquire();
}

bool hold_reader(PyObject* object) {
    ReaderState* state = native_reader(object);
    if (state != nullptr) state->lock.acquire();
    return state != nullptr;
}

void release_reader(PyObject* object) noexcept { native_reader(object)->lock.release(); }

void add_reader_type(PyObject* module) { state().reader = py::add_type(module, &reader_spec); }

}  // namespace ozra::storage
