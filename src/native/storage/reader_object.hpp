// OzraFileReader: the layout shared by the files that implement its parts
// (reader.cpp: creation and block reads; reader_spectra.cpp: spectrum reads;
// index_records.cpp: the index records decoded straight from its state).
#pragma once

#include "file_reader.hpp"
#include "ref.hpp"

#include <string>
#include <vector>

namespace ozra::storage {

struct ReaderState {
    explicit ReaderState(const std::string& path) : file(path) {}
    core::FileReader file;
    std::vector<core::PointPair> points;    // the spectrum of the last multiple-extraction read
};

struct ReaderObject {
    PyObject_HEAD
    ReaderState* state;  // owned; null only in an instance not made by __create_instance
    PyObject* stream;    // the OzraFileStream sharing the file
};

// The native state of an OzraFileReader (or subclass) instance, else nullptr.
ReaderState* native_reader(PyObject* object) noexcept;
// The same, or TypeError naming `who` when `object` is not a native reader.
ReaderState& require_native_reader(PyObject* object, const char* who);

void add_reader_type(PyObject* module);

// The spectrum reads, bound as the reader's methods (names interned by prepare_spectrum_reads()).
void prepare_spectrum_reads();
PyObject* read_spectrum(PyObject* self, PyObject* unused);
PyObject* read_dad_spectrum(PyObject* self, PyObject* wavelength_arr);
PyObject* read_spectrum_for_multiple_xic(PyObject* self, PyObject* xic_infos);
PyObject* read_dad_spectrum_for_multiple_xic(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                             PyObject* kwnames);

}  // namespace ozra::storage
