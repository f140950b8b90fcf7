// The reader's spectrum reads: whole spectra as SpectrumPoints, and the
// multiple-extraction reads that hand each XicInfo the points of its range.
#include "storage/reader_object.hpp"

#include "python/allow_threads.hpp"
#include "python/args.hpp"
#include "python/entry.hpp"
#include "python/types.hpp"
#include "storage/index_records.hpp"
#include "storage/records.hpp"
#include "storage/spectrum_points.hpp"
#include "storage/storage_module.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>

namespace ozra::storage {
namespace {

using py::Ref;

bool is_double_format(const char* format) {
    return format != nullptr && (std::strcmp(format, "d") == 0 || std::strcmp(format, "@d") == 0 ||
                                 std::strcmp(format, "=d") == 0 ||
                                 (std::endian::native == std::endian::little && std::strcmp(format, "<d") == 0));
}

// A DAD function's wavelengths as contiguous doubles: the memory of a buffer of
// doubles (array('d'), a float64 numpy array) when the object offers one, else
// converted from a sequence of numbers into a vector of its own (the numbers'
// __float__ may read with the same reader, so no storage of the reader's is used).
class Wavelengths {
public:
    explicit Wavelengths(PyObject* source) {
        if (PyObject_CheckBuffer(source)) {
            if (PyObject_GetBuffer(source, &view_, PyBUF_FORMAT | PyBUF_C_CONTIGUOUS) == 0) {
                if (view_.ndim <= 1 && view_.itemsize == sizeof(double) && is_double_format(view_.format)) {
                    held_ = true;
                    data_ = static_cast<const double*>(view_.buf);
                    count_ = static_cast<std::size_t>(view_.len) / sizeof(double);
                    return;
                }
                PyBuffer_Release(&view_);
            } else if (!py::clear_layout_refusal()) {
                py::throw_error();
            }
        }
        Ref sequence = py::held_items(source, "wavelength_arr must be a sequence of numbers");
        const Py_ssize_t n = PyTuple_GET_SIZE(sequence.get());
        PyObject** items = &PyTuple_GET_ITEM(sequence.get(), 0);
        converted_.resize(static_cast<std::size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i) converted_[i] = py::as_double(items[i]);
        data_ = converted_.data();
        count_ = converted_.size();
    }
    ~Wavelengths() {
        if (held_) PyBuffer_Release(&view_);
    }
    Wavelengths(const Wavelengths&) = delete;
    Wavelengths& operator=(const Wavelengths&) = delete;

    const double* data() const noexcept { return data_; }
    std::size_t count() const noexcept { return count_; }

private:
    Py_buffer view_{};
    bool held_ = false;
    std::vector<double> converted_;
    const double* data_ = nullptr;
    std::size_t count_ = 0;
};

// The interpreter lock is released only around work that takes longer than
// handing the lock to a waiting thread and back, some 10-20 us of CPU (measured
// with benchmarks/bench_threads.py: two threads releasing it around each 5,000-point
// raw decode took 3x the CPU of one thread; decompression, reads of 256 KiB and
// more, and decodes of 16,384 points and more gain from it).
constexpr std::size_t released_decode_points = 16384;

// The spectrum at the file position, read and decompressed; with the interpreter
// lock released (the reader is held by this thread) when that takes long.
core::FileReader::LoadedSpectrum load(ReaderState& state, const Wavelengths* wavelengths) {
    const std::optional<std::size_t> count = wavelengths ? std::optional(wavelengths->count()) : std::nullopt;
    return py::run_released_if(state.file.expects_costly_spectrum(), [&] { return state.file.load_spectrum(count); });
}

// Decodes the loaded points into `points`, with the interpreter lock released for
// large spectra. A DAD spectrum's x values come from a wavelength buffer that
// another thread could write to, so it always decodes with the lock held.
void decode(const core::FileReader::LoadedSpectrum& loaded, const Wavelengths* wavelengths, core::PointPair* points) {
    const bool release = wavelengths == nullptr && loaded.header.count >= released_decode_points;
    py::run_released_if(release, [&] {
        core::decode_points(loaded.header, loaded.decoded, wavelengths ? wavelengths->data() : nullptr, points);
    });
}

// The new points object, which no other thread can see while it is filled.
Ref read_points(ReaderState& state, const Wavelengths* wavelengths) {
    const auto loaded = load(state, wavelengths);
    core::PointPair* points = nullptr;
    Ref result = new_spectrum_points(loaded.header.count, &points);
    decode(loaded, wavelengths, points);
    return result;
}

// One XicInfo of a multiple-extraction read, its fields resolved before the read.
struct Extraction {
    PyObject* xic_info;  // held by the tuple of the read's requests
    double min, max;
    Ref points_list;
};

// Attribute names of the generic path (objects that are not the native classes).
struct Names {
    PyObject* range;
    PyObject* spectrum_point;
    PyObject* is_break_to_read;
    PyObject* min;
    PyObject* max;
    PyObject* append;
} names;

double as_bound(PyObject* range, bool lower) {
    if (PyObject_TypeCheck(range, state().value_types.value_range)) {
        auto* native = reinterpret_cast<storage::ValueRangeObject*>(range);
        return py::as_double(lower ? native->min : native->max);
    }
    return py::as_double(py::get_attr(range, lower ? names.min : names.max).get());
}

Extraction resolve(PyObject* xic_info) {
    const bool native = Py_IS_TYPE(xic_info, state().xic_info);
    Ref range = native ? Ref::borrow(record_field(xic_info, field::xic_range)) : py::get_attr(xic_info, names.range);
    const double min = as_bound(range.get(), true);
    const double max = as_bound(range.get(), false);
    Ref points_list = native ? Ref::borrow(record_field(xic_info, field::spectrum_point))
                             : py::get_attr(xic_info, names.spectrum_point);
    return Extraction{xic_info, min, max, std::move(points_list)};
}

void append(PyObject* list, PyObject* item) {
    if (PyList_Check(list)) {
        py::append(list, item);
    } else {
        Ref ignored = Ref::checked(PyObject_CallMethodOneArg(list, names.append, item));
    }
}

void set_break(PyObject* xic_info, bool value) {
    if (Py_IS_TYPE(xic_info, state().xic_info)) {
        set_record_field(xic_info, field::is_break_to_read, Ref::boolean(value));
    } else {
        py::set_attr(xic_info, names.is_break_to_read, value ? Py_True : Py_False);
    }
}

// The points with min <= x <= max, found by binary search in the sorted points.
void extract(const std::vector<core::PointPair>& points, const Extraction& extraction) {
    auto first = std::lower_bound(points.begin(), points.end(), extraction.min,
                                  [](const core::PointPair& point, double min) { return point.x < min; });
    auto last = first;
    for (; last != points.end() && last->x <= extraction.max; ++last) {
        Ref point = new_spectrum_point(last->x, last->intensity);
        append(extraction.points_list.get(), point.get());
    }
    set_break(extraction.xic_info, last != points.end());
}

Ref read_for_multiple_xic(ReaderState& state, PyObject* xic_infos, const Wavelengths* wavelengths) {
    Ref sequence = py::held_items(xic_infos, "xic_infos must be a sequence of XicInfo");
    const Py_ssize_t count = PyTuple_GET_SIZE(sequence.get());
    std::vector<Extraction> extractions;
    extractions.reserve(static_cast<std::size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
        extractions.push_back(resolve(PyTuple_GET_ITEM(sequence.get(), i)));
    }
    const auto loaded = load(state, wavelengths);
    // Taken out of the reader while the lists' own append runs, which may read with it.
    std::vector<core::PointPair> points = std::move(state.points);
    points.resize(loaded.header.count);
    decode(loaded, wavelengths, points.data());
    for (const Extraction& extraction : extractions) extract(points, extraction);
    state.points = std::move(points);
    return Ref::none();
}

}  // namespace

void prepare_spectrum_reads() {
    names = Names{py::intern("_XicInfo__range"), py::intern("_XicInfo__spectrum_point"),
                  py::intern("_XicInfo__is_break_to_read"), py::intern("min"), py::intern("max"),
                  py::intern("append")};
}

PyObject* read_spectrum(PyObject* self, PyObject*) {
    return py::guard([&] {
        ReaderUse reader(self, "OzraFileReader");
        return read_points(*reader, nullptr);
    });
}

PyObject* read_dad_spectrum(PyObject* self, PyObject* wavelength_arr) {
    return py::guard([&] {
        ReaderUse reader(self, "OzraFileReader");
        reader->file.require_open();
        Wavelengths wavelengths(wavelength_arr);
        return read_points(*reader, &wavelengths);
    });
}

PyObject* read_spectrum_points(PyObject* reader, PyObject* position, PyObject* wavelengths) noexcept {
    return py::guard([&]() -> Ref {
        if (Py_IS_TYPE(reader, state().reader)) {
            ReaderUse held(reader, "OzraFileReader");
            held->file.set_position(py::as_clamped_long_long(position));
            return Ref::checked(wavelengths ? read_dad_spectrum(reader, wavelengths) : read_spectrum(reader, nullptr));
        }
        const CallNames& call = state().call_names;
        const HoldIfNative hold(reader);
        py::call_method(reader, call.set_buffer, position);
        return wavelengths ? py::call_method(reader, call.read_dad_spectrum, wavelengths)
                           : py::call_method(reader, call.read_spectrum);
    });
}

PyObject* read_spectrum_points_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&]() -> Ref {
        static const py::Parameters parameters("_read_spectrum_points", {"reader", "position"}, 2);
        const auto parsed = py::parse_arguments<2>(parameters, args, nargs, kwnames);
        return Ref::checked(read_spectrum_points(parsed[0], parsed[1], nullptr));
    });
}

PyObject* read_spectrum_for_multiple_xic(PyObject* self, PyObject* xic_infos) {
    return py::guard([&] {
        ReaderUse reader(self, "OzraFileReader");
        return read_for_multiple_xic(*reader, xic_infos, nullptr);
    });
}

PyObject* read_dad_spectrum_for_multiple_xic(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                             PyObject* kwnames) {
    return py::guard([&] {
        static const py::Parameters parameters("_OzraFileReader__read_dad_spectrum_for_multiple_xic",
                                               {"xic_infos", "wavelength_arr"}, 2);
        auto parsed = py::parse_arguments<2>(parameters, args, nargs, kwnames);
        ReaderUse reader(self, "OzraFileReader");
        reader->file.require_open();
        Wavelengths wavelengths(parsed[1]);
        return read_for_multiple_xic(*reader, parsed[0], &wavelengths);
    });
}

}  // namespace ozra::storage
