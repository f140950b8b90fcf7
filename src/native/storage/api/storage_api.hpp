// The storage module's public interface: the layout of its value types, so that
// the modules above it (access, qual, arrays) can build and read them directly
// once they have checked that the class bound in their namespace is the native
// one, and the capsule through which they reach the classes (value_types_api()).
// CMake's ozra_storage_api target gives this header to those modules.
#pragma once

#include "ref.hpp"

namespace ozra::storage {

struct ValueRangeObject {
    PyObject_HEAD
    PyObject* min;
    PyObject* max;
};

struct ChromatogramPointObject {
    PyObject_HEAD
    PyObject* spectrum_index;
    PyObject* retention_time;
    PyObject* intensity;
    PyObject* x;
};

// One point record of a spectrum, as its indexing and the extraction reads hand it out.
struct SpectrumPointObject {
    PyObject_HEAD
    double x;
    double intensity;
};

// One contiguous point of a spectrum: the element of the points buffer.
struct Point {
    double x;
    double intensity;
};

// The struct format every points buffer offers.
inline constexpr const char* point_buffer_format = "T{d:x:d:intensity:}";

struct ValueTypesApi {
    PyTypeObject* value_range;
    PyTypeObject* chromatogram_point;
    PyTypeObject* spectrum_points;
    PyTypeObject* spectrum_point;
    // Records whose fields never change once made (read-only members).
    PyTypeObject* spectrum_index;
    PyTypeObject* internal_spectrum_description;
    // A public operation that reads spectra holds the file's reader from its
    // first read to its end, so that no other thread moves the reader between
    // its set-position and read steps (the reads release the interpreter lock).
    // hold_reader may wait, with the interpreter lock released; it returns false,
    // holding nothing, for an object that is not the storage layer's own reader.
    bool (*hold_reader)(PyObject* reader);
    void (*release_reader)(PyObject* reader) noexcept;
};

inline constexpr const char* value_types_capsule_name = "ozra_data_access._internal._storage._value_types_api";

// The storage layer's native value types (imports the storage module once).
inline const ValueTypesApi& value_types_api() {
    static const ValueTypesApi* api = nullptr;
    if (api == nullptr) {
        api = static_cast<const ValueTypesApi*>(PyCapsule_Import(value_types_capsule_name, 0));
        if (api == nullptr) py::throw_error();
    }
    return *api;
}

// Holds the file's reader for the scope of one public operation that makes a
// sequence of reader calls (see ValueTypesApi::hold_reader); nothing for a
// reader that is not the storage layer's own. Keeps `reader` alive meanwhile.
class ReaderHold {
public:
    explicit ReaderHold(PyObject* reader)
        : reader_(py::Ref::borrow(reader)), held_(value_types_api().hold_reader(reader)) {}
    ~ReaderHold() {
        if (held_) value_types_api().release_reader(reader_.get());
    }
    ReaderHold(const ReaderHold&) = delete;
    ReaderHold& operator=(const ReaderHold&) = delete;

private:
    py::Ref reader_;
    bool held_;
};

}  // namespace ozra::storage
