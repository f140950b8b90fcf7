// SpectrumIndex records. An analysis has one per spectrum (its block makes them when
// asked for), and most descriptions are never read (a random access, a TIC, a
// nearest-spectrum look-up read a few numbers or none): a record made from a file
// checks its description where it lies in the frame, exactly as decoding it would,
// keeps the numbers the walks read, and builds the description's objects on first
// read, from its own copy of the frame (description_frame.hpp, shared by the block's
// records), so a file closed since makes no difference.
#include "storage/spectrum_index.hpp"

#include "python/args.hpp"
#include "python/entry.hpp"
#include "python/object_fields.hpp"
#include "python/types.hpp"
#include "storage/description_check.hpp"
#include "storage/description_decoder.hpp"
#include "storage/description_frame.hpp"
#include "storage/reader_object.hpp"
#include "storage/records.hpp"
#include "storage/storage_module.hpp"

#include <structmember.h>

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ozra::storage {
namespace {

using py::Ref;

enum Field : int { reader_field, position_field, profile_position_field, description_field, field_count };

// The record's fields first, as in every record (record_field and set_record_field
// reach them), then, while `fields[description_field]` is null, the frame whose
// pending description `entry` is the record's (description_frame.hpp).
struct SpectrumIndexObject {
    PyObject_HEAD
    PyObject* fields[field_count];
    PyObject* frame;
    std::uint32_t entry;
};

SpectrumIndexObject* as_index(PyObject* self) { return reinterpret_cast<SpectrumIndexObject*>(self); }

bool is_pending(const SpectrumIndexObject* index) { return index->fields[description_field] == nullptr && index->frame; }

// The record's pending description. Records are added to a frame while it is read,
// which may move its entries: the reference is not kept across code that may run Python.
PendingDescription& pending_of(const SpectrumIndexObject* index) {
    return description_frame(index->frame).descriptions[index->entry];
}

const std::vector<std::string>& field_names() {
    static const std::vector<std::string> names{"reader", "position", "profile_position", "spectrum_description"};
    return names;
}

// ---- the description, built on first read -----------------------------------

// The acquisition condition a description gets. The pending one stays in place:
// making a condition may run code, in which another thread may build the same
// description, and that thread must find the pending condition as this one did.
Ref condition_for(const PendingDescription& pending, PyObject* description) {
    Ref condition = Ref::borrow(pending.condition);
    switch (pending.condition_kind) {
        case PendingCondition::object: return condition;
        case PendingCondition::made_like:
            return Ref::checked(
                PyObject_CallOneArg(reinterpret_cast<PyObject*>(Py_TYPE(condition.get())), description));
        case PendingCondition::none:
        case PendingCondition::settle: break;
    }
    return Ref();
}

// Decoding and making the condition may run code (a finalizer) in which another
// thread builds the same description: the first one built stays, and the record's
// frame is reached through the reference held here.
void build_description(SpectrumIndexObject* index) {
    if (pending_of(index).condition_kind == PendingCondition::settle) {
        // It sets this record's condition, or builds the description; called while it
        // runs (when it builds this very description), it does nothing.
        const Ref settle = Ref::borrow(pending_of(index).condition);
        Ref::checked(PyObject_CallNoArgs(settle.get()));
        if (!is_pending(index)) return;
        if (pending_of(index).condition_kind == PendingCondition::settle) clear_pending_condition(pending_of(index));
    }
    const Ref frame = Ref::borrow(index->frame);
    const auto pending = [&, entry = index->entry]() -> PendingDescription& {
        return description_frame(frame.get()).descriptions[entry];
    };
    core::ByteCursor cursor = description_cursor(description_frame(frame.get()), pending());
    Ref description = decode_record(cursor, RecordKind::internal_spectrum_description);
    if (!is_pending(index)) return;
    Ref condition = condition_for(pending(), description.get());
    if (!is_pending(index)) return;
    // From here no code runs until the description is published: the pending state is
    // taken by the one thread that publishes.
    const Ref pending_condition = Ref::steal(std::exchange(pending().condition, nullptr));
    pending().condition_kind = PendingCondition::none;
    // The record the condition was made from becomes the description, its objects kept.
    if (Ref fields = Ref::steal(std::exchange(pending().condition_fields, nullptr))) {
        for (int position = 0; position < static_cast<int>(std::size(schema::internal_spectrum_description_fields));
             ++position) {
            if (is_condition_field(position)) continue;
            set_record_field(fields.get(), position, Ref::borrow(record_field(description.get(), position)));
        }
        description = std::move(fields);
    }
    if (condition) {
        set_record_field(description.get(), schema::internal_spectrum_description::acquisition_condition,
                         std::move(condition));
    }
    index->fields[description_field] = description.release();
    Py_CLEAR(index->frame);
}

PyObject* get_description(PyObject* self, void*) {
    return py::guard([&]() -> Ref {
        SpectrumIndexObject* index = as_index(self);
        if (is_pending(index)) build_description(index);
        PyObject* description = index->fields[description_field];
        return description ? Ref::borrow(description) : Ref::none();
    });
}

// ---- making records from the reader's frame ---------------------------------

// The frame the reader is reading, shared by the records made from it (held by the
// reader while it reads the frame).
PyObject* frame_of(ReaderState& reader) {
    PyObject* kept = reader.description_frame.get();
    const std::shared_ptr<core::ByteBuffer>& bytes = reader.file.frame_bytes();
    if (!kept || description_frame(kept).bytes != bytes) {
        reader.description_frame = new_description_frame(bytes, reader.file.position());
    }
    return reader.description_frame.get();
}

// In a function with a stored condition list, a spectrum's condition index must
// name an entry. The message shows the stored value: it is decoded for it.
void check_condition_index(const core::FileReader& file, const core::ByteCursor& cursor, std::size_t record_at,
                           const SpectrumSummary& summary) {
    const std::optional<std::uint32_t> count = file.condition_count();
    if (!count) return;
    if (summary.kind(SpectrumSummary::acquisition_condition_index) == StoredKind::integer) {
        const long long value = summary.integer(SpectrumSummary::acquisition_condition_index);
        if (value >= 0 && value < static_cast<long long>(*count)) return;
    }
    core::ByteCursor again = core::ByteCursor::decompressed(cursor.data(), cursor.size(), cursor.offset_of(0));
    again.take(record_at, "the descriptions before this one");
    const Ref description = decode_record(again, RecordKind::internal_spectrum_description);
    PyObject* index = record_field(description.get(), schema::internal_spectrum_description::acquisition_condition_index);
    const Ref text = Ref::checked(PyObject_Repr(index));
    const char* shown = PyUnicode_AsUTF8(text.get());
    if (shown == nullptr) py::throw_error();
    cursor.fail_at(record_at, "expected an acquisition_condition_index from 0 to " + std::to_string(*count) +
                                  " - 1 (the function's stored conditions), found " + shown);
}

Ref new_spectrum_index(PyTypeObject* type) {
    Ref record = py::allocate(type);
    py::set_fields_none(as_index(record.get())->fields, description_field);
    return record;
}

}  // namespace

void reserve_pending_descriptions(ReaderState& reader, std::uint32_t count) {
    if (count == 0) return;  // no frame to make
    std::vector<PendingDescription>& descriptions = description_frame(frame_of(reader)).descriptions;
    descriptions.reserve(descriptions.size() + count);
}

std::uint32_t add_pending_description(ReaderState& reader, std::optional<std::int64_t> position) {
    std::size_t record_at = 0;
    const SpectrumSummary summary = reader.file.read_frame_record([&](core::ByteCursor& cursor) {
        record_at = cursor.consumed();
        const SpectrumSummary checked = check_spectrum_description(cursor);
        check_condition_index(reader.file, cursor, record_at, checked);
        return checked;
    });
    if (position) reader.file.claim_spectrum_position(*position);
    std::vector<PendingDescription>& descriptions = description_frame(frame_of(reader)).descriptions;
    descriptions.push_back({static_cast<std::uint32_t>(record_at), PendingCondition::none, nullptr, nullptr, summary});
    return static_cast<std::uint32_t>(descriptions.size() - 1);
}

Ref new_pending_record(PyTypeObject* cls, PyObject* reader_object, PyObject* position, PyObject* profile_position,
                       PyObject* frame, std::uint32_t entry) {
    Ref record = new_spectrum_index(cls);
    set_record_field(record.get(), reader_field, Ref::borrow(reader_object));
    set_record_field(record.get(), position_field, Ref::borrow(position));
    set_record_field(record.get(), profile_position_field,
                     profile_position ? Ref::borrow(profile_position) : py::from_long(0));
    SpectrumIndexObject* index = as_index(record.get());
    index->entry = entry;
    index->frame = Ref::borrow(frame).release();
    return record;
}

Ref make_spectrum_index(PyTypeObject* cls, PyObject* reader_object, ReaderState& reader, PyObject* position) {
    const std::uint32_t entry = add_pending_description(reader, py::as_int64(position));
    return new_pending_record(cls, reader_object, position, nullptr, reader.description_frame.get(), entry);
}

void claim_profile_position(core::FileReader& file, std::optional<std::int64_t> position) {
    // Profile points are a spectrum of their own: no other entry of the block may name them.
    if (position && *position != 0) file.claim_spectrum_position(*position);
}

void set_profile_position(PyObject* record, PyObject* position) {
    if (ReaderState* reader = native_reader(record_field(record, reader_field))) {
        claim_profile_position(reader->file, py::as_int64(position));
    }
    set_record_field(record, profile_position_field, Ref::borrow(position));
}

namespace {

PyObject* spectrum_index_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return py::guard([&]() -> Ref {
        Ref record = new_spectrum_index(type);
        py::set_object_field(as_index(record.get())->fields[description_field], Py_None);
        set_keyword_fields(record.get(), field_names(), args, kwargs);
        return record;
    });
}

PyObject* spectrum_index_create_instance(PyObject* cls, PyObject* const* args, Py_ssize_t nargs,
                                         PyObject* kwnames) {
    return py::guard([&]() -> Ref {
        static const py::Parameters parameters("_SpectrumIndex__create_instance", {"reader", "position", "index"}, 3);
        auto parsed = py::parse_arguments<3>(parameters, args, nargs, kwnames);
        ReaderUse held(parsed[0], "_SpectrumIndex__create_instance()");
        return make_spectrum_index(py::as_class(cls), parsed[0], *held, parsed[1]);
    });
}

PyObject* spectrum_index_set_profile_position(PyObject* self, PyObject* position) {
    return py::guard([&] {
        set_profile_position(self, position);
        return Ref::none();
    });
}

// ---- the class ----------------------------------------------------------------

int spectrum_index_traverse(PyObject* self, visitproc visit, void* arg) {
    SpectrumIndexObject* index = as_index(self);
    Py_VISIT(index->frame);
    return py::visit_fields(self, index->fields, field_count, visit, arg);
}

int spectrum_index_clear(PyObject* self) {
    SpectrumIndexObject* index = as_index(self);
    py::clear_fields(index->fields, field_count);
    Py_CLEAR(index->frame);
    return 0;
}

void spectrum_index_dealloc(PyObject* self) { py::dealloc_collectable(self, spectrum_index_clear); }

PyMethodDef spectrum_index_methods[] = {
    {"_SpectrumIndex__create_instance", py::method_cast(spectrum_index_create_instance),
     METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "_SpectrumIndex__create_instance(reader, position, index)\n--\n\n"
     "Decodes the next InternalSpectrumDescription from the reader's decompressed data; position is\n"
     "the absolute position of the spectrum's points, index its place in the function (not stored:\n"
     "the description carries the stored index). The profile position starts at 0 (none)."},
    {"_SpectrumIndex__set_profile_position", spectrum_index_set_profile_position, METH_O,
     "_SpectrumIndex__set_profile_position(position)\n--\n\nSets the absolute position of the profile points."},
    {nullptr, nullptr, 0, nullptr},
};

constexpr Py_ssize_t field_offset(Field field) {
    return static_cast<Py_ssize_t>(offsetof(SpectrumIndexObject, fields) + sizeof(PyObject*) * field);
}

PyMemberDef spectrum_index_members[] = {
    {"_SpectrumIndex__reader", T_OBJECT, field_offset(reader_field), READONLY, nullptr},
    {"_SpectrumIndex__position", T_OBJECT, field_offset(position_field), READONLY, nullptr},
    {"_SpectrumIndex__profile_position", T_OBJECT, field_offset(profile_position_field), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef spectrum_index_getset[] = {
    {"_SpectrumIndex__spectrum_description", get_description, py::refuse_setting, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot spectrum_index_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(spectrum_index_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(spectrum_index_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(spectrum_index_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(spectrum_index_clear)},
    {Py_tp_members, spectrum_index_members},
    {Py_tp_getset, spectrum_index_getset},
    {Py_tp_methods, spectrum_index_methods},
    {Py_tp_doc, const_cast<char*>(
        "Where a spectrum's points (and profile points; 0 for none) lie, with its description.")},
    {0, nullptr},
};

PyType_Spec spectrum_index_spec = {"ozra_data_access._internal._storage.SpectrumIndex", sizeof(SpectrumIndexObject),
                                   0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, spectrum_index_slots};

}  // namespace

bool is_native_create_instance(PyObject* create) noexcept {
    return PyCFunction_Check(create) &&
           PyCFunction_GET_FUNCTION(create) == py::method_cast(spectrum_index_create_instance) &&
           PyCFunction_GET_SELF(create) == reinterpret_cast<PyObject*>(state().value_types.spectrum_index);
}

PendingEntry pending_entry(PyObject* record) noexcept {
    if (Py_TYPE(record) != state().value_types.spectrum_index) return {};
    const SpectrumIndexObject* index = as_index(record);
    return is_pending(index) ? PendingEntry{index->frame, index->entry} : PendingEntry{};
}

PyTypeObject* add_spectrum_index_type(PyObject* module) { return py::add_type(module, &spectrum_index_spec); }

}  // namespace ozra::storage
