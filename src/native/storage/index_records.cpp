// The index records (SpectrumIndex: spectrum_index.cpp) and XicInfo. Their
// factories decode straight from the native reader's state.
#include "storage/index_records.hpp"

#include "python/args.hpp"
#include "python/entry.hpp"
#include "python/types.hpp"
#include "storage/description_decoder.hpp"
#include "storage/reader_object.hpp"
#include "storage/records.hpp"
#include "storage/storage_module.hpp"

#include <optional>
#include <string>
#include <vector>

namespace ozra::storage {
namespace {

using py::Ref;



// ---- JumpTable --------------------------------------------------------------

// The measurement positions of the jump table, made absolute and checked to lie in the file.
std::vector<std::int64_t> measurement_positions(core::FileReader& file, std::uint64_t origin) {
    const std::vector<std::int64_t> relative = file.read_i64_array();
    const std::uint64_t array_end = file.position();
    std::vector<std::int64_t> absolute(relative.size());
    for (std::size_t i = 0; i < relative.size(); ++i) {
        std::int64_t position;
        const std::uint64_t stored_at = array_end - 8 * (relative.size() - i);
        if (__builtin_add_overflow(relative[i], static_cast<std::int64_t>(origin), &position) || position < 0 ||
            static_cast<std::uint64_t>(position) >= file.file()->size()) {
            throw core::FormatError("expected a measurement position inside the file, found " +
                                        std::to_string(relative[i]) + " relative to the origin " +
                                        std::to_string(origin),
                                    stored_at);
        }
        absolute[i] = position;
    }
    return absolute;
}

PyObject* jump_table_create_instance(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&]() -> Ref {
        static const py::Parameters parameters("_JumpTable__create_instance", {"reader"}, 1);
        auto parsed = py::parse_arguments<1>(parameters, args, nargs, kwnames);
        PyObject* reader = parsed[0];
        ReaderUse held(reader, "_JumpTable__create_instance()");
        core::FileReader& file = held->file;
        const core::FileHeader& header = file.header();

        file.set_position(header.jump_table_position);
        file.expect_marker(core::Marker::begin_jump_table);
        const std::uint64_t origin = file.position();
        const std::uint32_t count = file.read_count();
        const std::vector<std::int64_t> positions = measurement_positions(file, origin);
        file.enter_frame();
        Ref measurements = py::new_list(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            Ref index = new_record(state().measurement_index);
            set_record_field(index.get(), field::measurement_reader, Ref::borrow(reader));
            set_record_field(index.get(), field::measurement_position, py::from_long(positions[i]));
            set_record_field(index.get(), field::measurement_description,
                             decode_record(file.frame_cursor(), RecordKind::measurement_description));
            PyList_SET_ITEM(measurements.get(), i, index.release());
        }
        file.leave_frame();
        file.expect_marker(core::Marker::end_jump_table);

        Ref table = new_record(py::as_class(cls));
        set_record_field(table.get(), field::num_measurements, py::from_long(count));
        set_record_field(table.get(), field::measurement_index_list, std::move(measurements));
        const int versions[][2] = {
            {field::major_version, header.format.major},
            {field::minor_version, header.format.minor},
            {field::revision_version, header.format.revision},
            {field::major_lib_version, header.converter.major},
            {field::minor_lib_version, header.converter.minor},
            {field::revision_lib_version, header.converter.revision},
        };
        for (const auto& [position, value] : versions) set_record_field(table.get(), position, py::from_long(value));
        return table;
    });
}

PyMethodDef jump_table_methods[] = {
    {"_JumpTable__create_instance", py::method_cast(jump_table_create_instance), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "_JumpTable__create_instance(reader)\n--\n\n"
     "Reads the file's jump table block through the reader: the versions from the file header and\n"
     "one MeasurementIndex per measurement, with its decoded MeasurementDescription."},
    {nullptr, nullptr, 0, nullptr},
};

// ---- FunctionIndex ----------------------------------------------------------

// The length of the stored condition list of a decoded FunctionDescription, if it
// has one. The list is a list or none: any other value (a mapping, a string) is damage.
std::optional<std::uint32_t> stored_condition_count(PyObject* function_description, const core::ByteCursor& cursor,
                                                    std::size_t record_at) {
    PyObject* qual = record_field(function_description, schema::function_description::qual_description);
    if (!Py_IS_TYPE(qual, state().descriptions[static_cast<int>(RecordKind::qual_description)])) return std::nullopt;
    PyObject* conditions = record_field(qual, schema::qual_description::unique_acquisition_condition_list);
    if (conditions == Py_None) return std::nullopt;
    if (!PyList_CheckExact(conditions)) {
        cursor.fail_at(record_at, std::string("expected a list (tag 8) or none (tag 0) as the stored condition "
                                              "list, found a value decoded as ") + Py_TYPE(conditions)->tp_name);
    }
    return static_cast<std::uint32_t>(PyList_GET_SIZE(conditions));
}

PyObject* function_index_create_instance(PyObject* cls, PyObject* const* args, Py_ssize_t nargs,
                                         PyObject* kwnames) {
    return py::guard([&]() -> Ref {
        static const py::Parameters parameters("_FunctionIndex__create_instance", {"reader", "position"}, 2);
        auto parsed = py::parse_arguments<2>(parameters, args, nargs, kwnames);
        ReaderUse held(parsed[0], "_FunctionIndex__create_instance()");
        return make_function_index(py::as_class(cls), parsed[0], *held, parsed[1]);
    });
}

PyMethodDef function_index_methods[] = {
    {"_FunctionIndex__create_instance", py::method_cast(function_index_create_instance),
     METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "_FunctionIndex__create_instance(reader, position)\n--\n\n"
     "Decodes the next FunctionDescription from the reader's decompressed data; position is the\n"
     "absolute position of the function's spectrum index block."},
    {nullptr, nullptr, 0, nullptr},
};

// ---- XicInfo ----------------------------------------------------------------

PyObject* xic_info_create_instance(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&]() -> Ref {
        static const py::Parameters parameters("_XicInfo__create_instance", {"range"}, 1);
        auto parsed = py::parse_arguments<1>(parameters, args, nargs, kwnames);
        Ref info = new_record(py::as_class(cls));
        set_record_field(info.get(), field::xic_range, Ref::borrow(parsed[0]));
        set_record_field(info.get(), field::is_break_to_read, Ref::boolean(false));
        set_record_field(info.get(), field::spectrum_point, py::new_list());
        set_record_field(info.get(), field::xic, py::new_list());
        return info;
    });
}

PyMethodDef xic_info_methods[] = {
    {"_XicInfo__create_instance", py::method_cast(xic_info_create_instance), METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "_XicInfo__create_instance(range)\n--\n\n"
     "A new extraction record for the range: is_break_to_read False, empty spectrum_point and xic lists."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

Ref make_function_index(PyTypeObject* cls, PyObject* reader_object, ReaderState& reader, PyObject* position) {
    core::ByteCursor& cursor = reader.file.frame_cursor();
    const std::size_t record_at = cursor.consumed();
    Ref description = decode_record(cursor, RecordKind::function_description);
    // One function's description decides the condition index check of its block's spectra.
    const auto condition_count = stored_condition_count(description.get(), cursor, record_at);
    const auto block_position = py::as_int64(position);
    if (block_position && !reader.file.remember_condition_count(*block_position, condition_count)) {
        cursor.fail_at(record_at, "expected a spectrum index block of its own, found the block at byte offset " +
                                      std::to_string(*block_position) +
                                      " named by a function with a different stored condition list");
    }
    if (block_position) reader.file.name_spectrum_index_block(*block_position, record_at);
    Ref index = new_record(cls);
    set_record_field(index.get(), field::function_reader, Ref::borrow(reader_object));
    set_record_field(index.get(), field::function_position, Ref::borrow(position));
    set_record_field(index.get(), field::function_description, std::move(description));
    return index;
}

bool is_native_function_index_create_instance(PyObject* create) noexcept {
    return PyCFunction_Check(create) &&
           PyCFunction_GET_FUNCTION(create) == py::method_cast(function_index_create_instance) &&
           PyCFunction_GET_SELF(create) == reinterpret_cast<PyObject*>(state().function_index);
}

void add_index_types(PyObject* module) {
    add_record_type(module, {"JumpTable",
                             {"num_measurements", "measurement_index_list", "major_version", "minor_version",
                              "revision_version", "major_lib_version", "minor_lib_version", "revision_lib_version"},
                             {},
                             jump_table_methods,
                             "The jump table of a file: the format and converter versions and one\n"
                             "MeasurementIndex per measurement."});
    state().measurement_index = add_record_type(
        module, {"MeasurementIndex",
                 {"reader", "position", "measurement_description"},
                 {},
                 nullptr,
                 "Where a measurement's function index block lies, with the measurement's description."});
    state().function_index = add_record_type(module, {"FunctionIndex",
                             {"reader", "position", "function_description"},
                             {},
                             function_index_methods,
                             "Where a function's spectrum index block lies, with the function's description."});
    state().xic_info = add_record_type(
        module, {"XicInfo",
                 {"range", "is_break_to_read", "spectrum_point", "xic"},
                 {"is_break_to_read"},
                 xic_info_methods,
                 "One extraction window of a multiple-extraction read: the range, the points the read\n"
                 "found in it, and the chromatogram its caller builds."});
}

}  // namespace ozra::storage
