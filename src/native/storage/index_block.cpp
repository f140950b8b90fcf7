// The index blocks, each read as a whole. The storage layer's own reader with the
// storage layer's own record factory is read natively: no reader call goes through
// the interpreter and no number is made for the block's header. Any other reader or
// factory (a subclass, a caller's stand-in) gets the reader and factory calls of
// the block read, in their order: the order callers may rely on holds here.
#include "storage/index_block.hpp"

#include "python/args.hpp"
#include "python/entry.hpp"
#include "python/types.hpp"
#include "storage/imports.hpp"
#include "storage/index_records.hpp"
#include "storage/reader_object.hpp"
#include "storage/spectrum_index.hpp"
#include "storage/spectrum_index_block.hpp"
#include "storage/storage_module.hpp"

#include <cstdint>
#include <vector>

namespace ozra::storage {
namespace {

using py::Ref;

// The OzraSymbols member of a marker, as a reader that is not the storage layer's own is asked for it.
Ref marker_symbol(core::Marker marker) { return Ref::borrow(imports().symbols[static_cast<std::size_t>(marker)]); }

// Positions the file at a block and confirms its opening marker; the block's origin.
std::uint64_t begin_block(core::FileReader& file, PyObject* position, core::Marker begin) {
    file.set_position(py::as_clamped_long_long(position));
    file.expect_marker(begin);
    return file.position();
}

// Leaves the block's frame and confirms its closing marker.
void end_block(ReaderState& reader, core::Marker end) {
    reader.file.leave_frame();
    reader.description_frame = Ref();  // the records keep the frame while they need it
    reader.file.expect_marker(end);
}

// The same two steps through the reader's methods; the block's origin.
Ref begin_block_through_calls(PyObject* reader, PyObject* position, core::Marker begin) {
    const CallNames& names = state().call_names;
    py::call_method(reader, names.set_buffer, position);
    py::call_method(reader, names.confirm_ozra_symbol, marker_symbol(begin).get());
    return py::call_method(reader, names.get_absolute_position);
}

void end_block_through_calls(PyObject* reader, core::Marker end) {
    const CallNames& names = state().call_names;
    py::call_method(reader, names.reset_decompressed_buffer);
    py::call_method(reader, names.confirm_ozra_symbol, marker_symbol(end).get());
}

Ref read_natively(PyObject* reader_object, PyObject* position, bool set_profiles, bool lazily, PublishRecords publish,
                  void* context) {
    ReaderUse reader(reader_object, "OzraFileReader");
    core::FileReader& file = reader->file;
    const std::uint64_t origin = begin_block(file, position, core::Marker::begin_spectrum_index_block);
    const std::uint32_t count = file.read_u32();
    const bool has_profile = file.read_bool();
    std::vector<std::int64_t> positions = file.read_i64_array();
    std::vector<std::int64_t> profile_positions;
    if (has_profile) profile_positions = file.read_i64_array();
    file.enter_record_frame();
    reserve_pending_descriptions(*reader, count);
    PyTypeObject* record_class = state().value_types.spectrum_index;
    Ref records = lazily ? Ref() : py::new_list();
    std::uint32_t first_entry = 0;
    py::SignalCheck signals;
    try {
        for (std::uint32_t i = 0; i < count; ++i) {
            signals.tick();
            if (lazily) {
                const std::uint32_t entry = add_pending_description(*reader, absolute_int64(positions[i], origin));
                if (i == 0) first_entry = entry;
                continue;
            }
            Ref absolute = absolute_position(positions[i], origin);
            py::append(records.get(), make_spectrum_index(record_class, reader_object, *reader, absolute.get()).get());
        }
    } catch (const core::FormatError&) {
        file.complete_frame();  // a damaged frame is told before the faults of its records
        throw;
    } catch (...) {
        file.abandon_frame();  // no thread of the reader runs on after the read
        throw;
    }
    file.complete_frame();  // nor is a record of a damaged frame handed out
    if (lazily) {
        records = new_spectrum_index_block(reader_object, reader->description_frame.get(), first_entry,
                                           std::move(positions),
                                           set_profiles ? profile_positions : std::vector<std::int64_t>{}, origin);
    }
    if (publish) publish(records.get(), context);
    if (set_profiles && has_profile) {
        for (std::uint32_t i = 0; i < count; ++i) {
            if (lazily) {  // the records made later get the positions
                claim_profile_position(file, absolute_int64(profile_positions[i], origin));
                continue;
            }
            Ref absolute = absolute_position(profile_positions[i], origin);
            Ref record = py::list_item(records.get(), i);  // published: Python code may shrink it
            set_profile_position(record.get(), absolute.get());
        }
    }
    end_block(*reader, core::Marker::end_spectrum_index_block);
    return records;
}

Ref read_through_calls(PyObject* reader, PyObject* position, PyObject* create, bool set_profiles,
                       PublishRecords publish, void* context) {
    const CallNames& names = state().call_names;
    const HoldIfNative hold(reader);
    Ref origin = begin_block_through_calls(reader, position, core::Marker::begin_spectrum_index_block);
    Ref count_object = py::call_method(reader, names.read_uint32);
    const bool has_profile = py::is_true(py::call_method(reader, names.read_bool).get());
    Ref positions = py::call_method(reader, names.read_int64_array);
    Ref profile_positions;
    if (has_profile) profile_positions = py::call_method(reader, names.read_int64_array);
    py::call_method(reader, names.set_decompressed_buffer);

    const Py_ssize_t count = py::as_ssize(count_object.get());
    Ref records = py::new_list();
    py::SignalCheck signals;
    for (Py_ssize_t i = 0; i < count; ++i) {
        signals.tick();
        Ref relative = Ref::checked(PySequence_GetItem(positions.get(), i));
        Ref absolute = Ref::checked(PyNumber_Add(relative.get(), origin.get()));
        Ref position_in_list = py::from_size(i);
        PyObject* arguments[] = {reader, absolute.get(), position_in_list.get()};
        py::append(records.get(), Ref::checked(PyObject_Vectorcall(create, arguments, 3, nullptr)).get());
    }
    if (publish) publish(records.get(), context);
    if (set_profiles && has_profile) {
        for (Py_ssize_t i = 0; i < count; ++i) {
            Ref relative = Ref::checked(PySequence_GetItem(profile_positions.get(), i));
            Ref absolute = Ref::checked(PyNumber_Add(relative.get(), origin.get()));
            Ref record = py::list_item(records.get(), i);  // published: Python code may shrink it
            py::call_method(record.get(), names.set_profile_position, absolute.get());
        }
    }
    end_block_through_calls(reader, core::Marker::end_spectrum_index_block);
    return records;
}

void read_functions_natively(PyObject* reader_object, PyObject* position, TakeRecord take, void* context) {
    ReaderUse reader(reader_object, "OzraFileReader");
    core::FileReader& file = reader->file;
    const std::uint64_t origin = begin_block(file, position, core::Marker::begin_function_index_block);
    const std::uint32_t count = file.read_count();
    const std::vector<std::int64_t> positions = file.read_i64_array();
    file.enter_frame();
    for (std::uint32_t i = 0; i < count; ++i) {
        Ref absolute = absolute_position(positions[i], origin);
        Ref record = make_function_index(state().function_index, reader_object, *reader, absolute.get());
        if (!take(record.get(), context)) py::throw_error();
    }
    end_block(*reader, core::Marker::end_function_index_block);
}

void read_functions_through_calls(PyObject* reader, PyObject* position, PyObject* create, TakeRecord take,
                                  void* context) {
    const CallNames& names = state().call_names;
    const HoldIfNative hold(reader);
    Ref origin = begin_block_through_calls(reader, position, core::Marker::begin_function_index_block);
    Ref count_object = py::call_method(reader, names.read_uint16_or_32);
    Ref positions = py::call_method(reader, names.read_int64_array);
    py::call_method(reader, names.set_decompressed_buffer);
    for (Py_ssize_t i = 0, count = py::as_ssize(count_object.get()); i < count; ++i) {
        Ref position_in_list = py::from_size(i);
        Ref relative = Ref::checked(PyObject_GetItem(positions.get(), position_in_list.get()));
        Ref absolute = Ref::checked(PyNumber_Add(relative.get(), origin.get()));
        PyObject* arguments[] = {reader, absolute.get()};
        Ref record = Ref::checked(PyObject_Vectorcall(create, arguments, 2, nullptr));
        if (!take(record.get(), context)) py::throw_error();
    }
    end_block_through_calls(reader, core::Marker::end_function_index_block);
}

}  // namespace

bool read_function_index_block(PyObject* reader, PyObject* position, PyObject* create, TakeRecord take,
                               void* context) noexcept {
    return py::guard_int([&] {
        if (Py_IS_TYPE(reader, state().reader) && is_native_function_index_create_instance(create)) {
            read_functions_natively(reader, position, take, context);
        } else {
            read_functions_through_calls(reader, position, create, take, context);
        }
        return 0;
    }) == 0;
}

PyObject* read_spectrum_index_block(PyObject* reader, PyObject* position, PyObject* create, bool set_profiles,
                                    bool lazily, PublishRecords publish, void* context) noexcept {
    return py::guard([&] {
        if (Py_IS_TYPE(reader, state().reader) && is_native_create_instance(create)) {
            return read_natively(reader, position, set_profiles, lazily, publish, context);
        }
        return read_through_calls(reader, position, create, set_profiles, publish, context);
    });
}

PyObject* read_spectrum_index_block_function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&]() -> Ref {
        static const py::Parameters parameters("_read_spectrum_index_block", {"reader", "position", "create"}, 3);
        const auto parsed = py::parse_arguments<3>(parameters, args, nargs, kwnames);
        return Ref::checked(read_spectrum_index_block(parsed[0], parsed[1], parsed[2], false, false, nullptr, nullptr));
    });
}

}  // namespace ozra::storage
