// OzraFileReader: the layout shared by the files that implement its parts
// (reader.cpp: creation and block reads; reader_spectra.cpp: spectrum reads;
// index_records.cpp: the index records decoded straight from its state).
#pragma once

#include "core/file_reader.hpp"
#include "python/ref.hpp"
#include "storage/reader_lock.hpp"

#include <string>
#include <vector>

namespace ozra::storage {

struct ReaderState {
    explicit ReaderState(const std::string& path) : file(path) {}
    core::FileReader file;
    std::vector<core::PointPair> points;    // the spectrum of the last multiple-extraction read
    ReaderLock lock;
    // The description frame being read, shared by the SpectrumIndex records made from it
    // (spectrum_index.cpp); dropped when the frame is left.
    py::Ref description_frame;
};

struct ReaderObject {
    PyObject_HEAD
    ReaderState* state;  // owned; null only in an instance not made by __create_instance
    PyObject* stream;    // the OzraFileStream sharing the file
};

// The native state of an OzraFileReader (or subclass) instance, else nullptr.
ReaderState* native_reader(PyObject* object) noexcept;

// The native state of a reader, held by this thread for the object's life (see
// ReaderLock); TypeError naming `who` when `object` is not a native reader.
// The caller keeps `object` alive meanwhile.
class ReaderUse {
public:
    ReaderUse(PyObject* object, const char* who);
    ~ReaderUse() { state_->lock.release(); }
    ReaderUse(const ReaderUse&) = delete;
    ReaderUse& operator=(const ReaderUse&) = delete;

    ReaderState& operator*() const noexcept { return *state_; }
    ReaderState* operator->() const noexcept { return state_; }

private:
    ReaderState* state_;
};

// The hold of one public operation on a reader (the value types capsule's
// hold_reader/release_reader): true when `object` is a native reader, which is
// then held until release_reader; false, and nothing held, for any other object.
bool hold_reader(PyObject* object);
void release_reader(PyObject* object) noexcept;

// The reader hold (as hold_reader) for the scope, when `reader` is a native reader; nothing otherwise.
class HoldIfNative {
public:
    explicit HoldIfNative(PyObject* reader) : reader_(reader), held_(hold_reader(reader)) {}
    ~HoldIfNative() {
        if (held_) release_reader(reader_);
    }
    HoldIfNative(const HoldIfNative&) = delete;
    HoldIfNative& operator=(const HoldIfNative&) = delete;

private:
    PyObject* reader_;
    bool held_;
};

void add_reader_type(PyObject* module);

// The spectrum reads, bound as the reader's methods (names interned by prepare_spectrum_reads()).
void prepare_spectrum_reads();
PyObject* read_spectrum(PyObject* self, PyObject* unused);
PyObject* read_dad_spectrum(PyObject* self, PyObject* wavelength_arr);
// See ValueTypesApi::read_spectrum_points.
PyObject* read_spectrum_points(PyObject* reader, PyObject* position, PyObject* wavelengths) noexcept;
// _read_spectrum_points(reader, position): the same for an MS spectrum, from Python.
PyObject* read_spectrum_points_function(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames);
PyObject* read_spectrum_for_multiple_xic(PyObject* self, PyObject* xic_infos);
PyObject* read_dad_spectrum_for_multiple_xic(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                             PyObject* kwnames);

}  // namespace ozra::storage
