// The storage module's public interface: the layout of its value types, so that
// the modules above it (access, qual, arrays) can build and read them directly
// once they have checked that the class bound in their namespace is the native
// one, and the capsule through which they reach the classes (value_types_api()).
// CMake's ozra_storage_api target gives this header to those modules.
#pragma once

#include "python/ref.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

namespace ozra::storage {

// A record of the format's record classes: its fields, in the order of the format
// schema's field tables, after the object header. A record of exactly the class
// internal_spectrum_description (ValueTypesApi) is read through record_field as
// its attributes read it (never null: a field not given is None).
struct RecordObject {
    PyObject_HEAD
    PyObject* fields[1];  // really as many as the class has fields
};

// Borrowed field value; `index` is the field's position in its layout.
inline PyObject* record_field(PyObject* record, int index) {
    return reinterpret_cast<RecordObject*>(record)->fields[index];
}

struct ValueRangeObject {
    PyObject_HEAD
    PyObject* min;
    PyObject* max;
};

// One chromatogram point: its four values, in constructor order, each kept as a C
// value when it is a float, an int of 64 bits or None (the Python object is made when
// the value is read: the same type and value every time), and as the object itself
// otherwise. A point of C values is one small allocation and unknown to the collector.
enum ChromatogramPointField { point_spectrum_index, point_retention_time, point_intensity, point_x };
inline constexpr int chromatogram_point_fields = 4;

enum class PointValueKind : unsigned char { object, real, integer, none };

union PointValue {
    double real;
    long long integer;
    PyObject* object;  // owned
};

struct ChromatogramPointObject {
    PyObject_HEAD
    PointValue values[chromatogram_point_fields];
    PointValueKind kinds[chromatogram_point_fields];
};

inline void set_point_object(ChromatogramPointObject* point, int field, py::Ref value) noexcept {
    point->values[field].object = value.release();
    point->kinds[field] = PointValueKind::object;
}

// NaN stays an object: a float NaN hashes by identity, so a point must keep handing
// out the one it was given (or made) for its hash to stay the same.
inline void set_point_real(ChromatogramPointObject* point, int field, double value) {
    if (std::isnan(value)) return set_point_object(point, field, py::from_double(value));
    point->values[field].real = value;
    point->kinds[field] = PointValueKind::real;
}

// Keeps `value` (borrowed) as a C value when it is one, else takes a reference to it.
// The point's kinds start as none, so that a point given up half-way is freed cleanly.
inline void set_point_value(ChromatogramPointObject* point, int field, PyObject* value) noexcept {
    if (PyFloat_CheckExact(value) && !std::isnan(PyFloat_AS_DOUBLE(value))) {
        point->values[field].real = PyFloat_AS_DOUBLE(value);
        point->kinds[field] = PointValueKind::real;
        return;
    }
    if (value == Py_None) {
        point->kinds[field] = PointValueKind::none;
        return;
    }
    if (PyLong_CheckExact(value)) {
        int overflow = 0;
        const long long integer = PyLong_AsLongLongAndOverflow(value, &overflow);
        if (overflow == 0) {  // an exact int cannot fail otherwise
            point->values[field].integer = integer;
            point->kinds[field] = PointValueKind::integer;
            return;
        }
    }
    set_point_object(point, field, py::Ref::borrow(value));
}

// The value as Python reads it.
inline py::Ref point_value(const ChromatogramPointObject* point, int field) {
    switch (point->kinds[field]) {
        case PointValueKind::real: return py::from_double(point->values[field].real);
        case PointValueKind::integer: return py::from_long(point->values[field].integer);
        case PointValueKind::none: return py::Ref::none();
        case PointValueKind::object: break;
    }
    return py::Ref::borrow(point->values[field].object);
}

// A new point of `type` whose values are all None, for the caller to set.
inline py::Ref new_chromatogram_point(PyTypeObject* type) {
    auto* point = PyObject_GC_New(ChromatogramPointObject, type);
    if (point == nullptr) py::throw_error();
    for (PointValueKind& kind : point->kinds) kind = PointValueKind::none;
    return py::Ref::steal(reinterpret_cast<PyObject*>(point));
}

inline bool point_keeps_objects(const ChromatogramPointObject* point) noexcept {
    for (PointValueKind kind : point->kinds) {
        if (kind == PointValueKind::object) return true;
    }
    return false;
}

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

// The struct format of a buffer of point records (a numpy array with the fields
// x and intensity exports it).
inline constexpr const char* point_buffer_format = "T{d:x:d:intensity:}";

// A number of a spectrum description kept as C data: the kind of object the
// description holds for it (other: neither None, an int nor a float) and its value.
enum class StoredKind : unsigned char { none, integer, real, other };

union StoredValue {
    long long integer;
    double real;
};

// The fields of a spectrum description that the walks over an analysis read: what a
// storage layer's SpectrumIndex record keeps until its description is built.
struct SpectrumSummary {
    enum Field : int {
        index,
        retention_time,
        acquisition_condition_index,
        current_total_ion,
        base_peak_intensity,
        base_peak_mz,
        field_count,
    };
    StoredKind kinds[field_count];
    // The acquisition condition made from the description is told by its values
    // (ValueTypesApi::condition_key_at succeeds).
    bool condition_keyed;
    StoredValue values[field_count];

    StoredKind kind(Field field) const noexcept { return kinds[field]; }
    double real(Field field) const noexcept { return values[field].real; }
    long long integer(Field field) const noexcept { return values[field].integer; }
    // The object the description holds for the field (a new one; equal in type and
    // value); an empty reference for other.
    py::Ref object(Field field) const {
        switch (kinds[field]) {
            case StoredKind::none: return py::Ref::none();
            case StoredKind::integer: return py::from_long(values[field].integer);
            case StoredKind::real: return py::from_double(values[field].real);
            case StoredKind::other: break;
        }
        return py::Ref();
    }
};

// How a SpectrumIndex record's description gets its acquisition_condition when built.
enum class PendingCondition : unsigned char {
    none,       // stays None
    object,     // the object given
    made_like,  // a new object of the given object's class, made from the description
    settle,     // the object given is called first (no arguments): it sets what the record gets
};

// What a spectrum's description not built yet holds (ValueTypesApi::pending_at): its
// summary, null when there is none, and its pending acquisition condition (borrowed:
// held by the description until it is built; null for none); with the position of
// its points when the spectrum's record is not made yet and it is a 64-bit number.
struct PendingSpectrum {
    const SpectrumSummary* summary;
    PyObject* condition;
    PendingCondition condition_kind;
    std::optional<std::int64_t> unmade_position;
};

// Called by read_spectrum_index_block with the block's records once they are made.
using PublishRecords = void (*)(PyObject* records, void* context) noexcept;
// Called by read_function_index_block with each record as it is made; false with an error set stops the read.
using TakeRecord = bool (*)(PyObject* record, void* context) noexcept;

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
    // The spectrum index block at `position` (its function index's): one record per
    // entry, in stored order, made by `create` (SpectrumIndex.__create_instance, or what
    // stands in for it), under the reader hold. `publish(records, context)`, when given,
    // runs once they are made, before the profile positions are set (with set_profiles)
    // and the block is left. A new reference to the list, or null with the error set.
    // With `lazily`, the storage layer's own reader and factory give the analysis's
    // spectra as a sequence whose records are made when first asked for (every
    // description checked and every position claimed as the block is read), instead of
    // a list; any other reader or factory gives the list.
    PyObject* (*read_spectrum_index_block)(PyObject* reader, PyObject* position, PyObject* create,
                                           bool set_profiles, bool lazily, PublishRecords publish,
                                           void* context) noexcept;
    // The list of records of an analysis's spectra (the list itself, or the list of a
    // lazily read block, made once). A new reference, or null with the error set.
    PyObject* (*spectrum_index_records)(PyObject* spectra) noexcept;
    // Spectrum `i` (0 <= i < their count) of an analysis's spectra, a list or a block,
    // without making its record. A SpectrumIndex record made from a file (of class
    // spectrum_index) builds its description on first read; until then the functions
    // below answer from C data. pending_at gives no summary once the description is
    // built, or for any other record.
    PendingSpectrum (*pending_at)(PyObject* spectra, Py_ssize_t i) noexcept;
    // The values that decide the acquisition condition made from the description
    // (ms_level, polarity, collision_energy, mass_range, precursor_range,
    // precursor_value, is_profile_spectrum_measured) as bytes: descriptions of equal
    // keys make equal conditions. False when the description is built, or when its
    // condition may hold something else (a cone voltage, a NaN, a value that is not
    // None, a number, a boolean, an enumeration member or a range of numbers).
    bool (*condition_key_at)(PyObject* spectra, Py_ssize_t i, std::string& key);
    // The description's record holding only what its acquisition condition is made
    // from (when condition_key_at succeeds; the other fields None): it becomes the
    // description, its objects kept, when the description is built. A new reference;
    // null when the spectrum has none (no error set) or on an error (set).
    PyObject* (*condition_description_at)(PyObject* spectra, Py_ssize_t i) noexcept;
    // What the description's acquisition_condition becomes when it is built (see
    // PendingCondition); false, and nothing set, when it is built already (another
    // thread may build it whenever code runs). pending_at hands it out until then.
    bool (*set_pending_condition_at)(PyObject* spectra, Py_ssize_t i, PyObject* object,
                                     PendingCondition kind) noexcept;
    // Whether nothing but the spectra themselves holds their records (those made so far).
    bool (*records_unshared)(PyObject* spectra) noexcept;
    // The function index block at `position` (its measurement index's): one record per
    // function, in stored order, made by `create` (FunctionIndex.__create_instance, or what
    // stands in for it) under the reader hold, each handed to `take` as it is made. False
    // with the error set when the read or `take` fails.
    bool (*read_function_index_block)(PyObject* reader, PyObject* position, PyObject* create, TakeRecord take,
                                      void* context) noexcept;
    // The points of the spectrum at `position`, under the reader hold: the DAD spectrum over
    // `wavelengths` when given (not null), else the MS spectrum. Natively for the storage
    // layer's own reader; any other gets __set_buffer then __read_spectrum or
    // __read_dad_spectrum. A new reference, or null with the error set.
    PyObject* (*read_spectrum_points)(PyObject* reader, PyObject* position, PyObject* wavelengths) noexcept;
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

// The number of contiguous (x, intensity) pairs in a buffer taken with a format
// and strides, or -1 when it has another layout. The storage layer's own
// SpectrumPoints exports its pairs as an n x 2 matrix of doubles (numpy takes
// that format without parsing it in Python); any exporter may give records of
// point_buffer_format. A two-column matrix of another exporter is not taken as
// points: nothing says which column is x.
inline Py_ssize_t point_pair_count(PyObject* exporter, const Py_buffer& view) {
    if (view.format == nullptr || view.shape == nullptr) return -1;
    const bool own_matrix = Py_IS_TYPE(exporter, value_types_api().spectrum_points) && view.ndim == 2 &&
                            view.shape[1] == 2 && view.itemsize == sizeof(double) &&
                            std::strcmp(view.format, "d") == 0 &&
                            (view.strides == nullptr ||
                             (view.strides[0] == sizeof(Point) && view.strides[1] == sizeof(double)));
    const bool records = view.ndim == 1 && view.itemsize == sizeof(Point) &&
                         std::strcmp(view.format, point_buffer_format) == 0 &&
                         (view.strides == nullptr || view.strides[0] == sizeof(Point));
    return own_matrix || records ? view.shape[0] : -1;
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
