#include "storage/spectrum_index_block.hpp"

#include "python/entry.hpp"
#include "python/gc_pause.hpp"
#include "python/object_fields.hpp"
#include "python/types.hpp"
#include "storage/description_frame.hpp"
#include "storage/spectrum_index.hpp"
#include "storage/storage_module.hpp"

#include <algorithm>
#include <utility>

namespace ozra::storage {
namespace {

using py::Ref;

struct BlockState {
    std::uint32_t first_entry;  // in the frame, of the block's first spectrum
    std::vector<std::int64_t> positions;  // relative to `origin`, as stored
    std::vector<std::int64_t> profile_positions;
    std::uint64_t origin;
    std::vector<PyObject*> records;  // owned, null until made; given up to `list` when it is made
    std::size_t asked = 0;           // records made on request, one by one
};

// A caller that has asked for this share of the records one by one walks them all:
// the rest are made at once (one by one, the records kept by the block pass through
// every generation of the collector: a full read took 8% longer).
constexpr std::size_t walk_share = 8;

struct BlockObject {
    PyObject_HEAD
    PyObject* reader;
    PyObject* frame;  // null for a block of no spectra
    PyObject* list;   // every record in order, once asked for
    BlockState* state;
};

PyTypeObject* block_type = nullptr;

BlockObject* as_block(PyObject* self) { return reinterpret_cast<BlockObject*>(self); }

bool is_block(PyObject* spectra) noexcept { return Py_IS_TYPE(spectra, block_type); }

Py_ssize_t block_size(PyObject* self) {
    return static_cast<Py_ssize_t>(as_block(self)->state->positions.size());
}

// Record `i` (0 <= i < size) as the block keeps it, made now when it is not. Making
// it may run code (a collection's finalizer) in which another thread makes it too:
// the first kept stays.
Ref kept_record(PyObject* self, Py_ssize_t i) {
    BlockObject* block = as_block(self);
    const auto at = static_cast<std::size_t>(i);
    if (PyObject* made = block->state->records[at]) return Ref::borrow(made);
    const BlockState& state = *block->state;
    Ref position = absolute_position(state.positions[at], state.origin);
    Ref profile_position =
        state.profile_positions.empty() ? Ref() : absolute_position(state.profile_positions[at], state.origin);
    Ref record = new_pending_record(storage::state().value_types.spectrum_index, block->reader, position.get(),
                                    profile_position.get(), block->frame,
                                    state.first_entry + static_cast<std::uint32_t>(at));
    if (block->list) return py::list_item(block->list, i);
    PyObject*& slot = block->state->records[at];
    if (slot == nullptr) slot = record.copy().release();
    return Ref::borrow(slot);
}

Ref block_list(PyObject* self) {
    BlockObject* block = as_block(self);
    if (block->list) return Ref::borrow(block->list);
    const Py_ssize_t size = block_size(self);
    Ref list = py::new_list(size);
    for (Py_ssize_t i = 0; i < size; ++i) PyList_SET_ITEM(list.get(), i, kept_record(self, i).release());
    if (block->list) return Ref::borrow(block->list);
    block->list = list.copy().release();
    // The list holds each record now: letting them go here frees none, and runs no code.
    for (PyObject*& record : block->state->records) Py_CLEAR(record);
    return list;
}

// Record `i` (0 <= i < size) on request.
Ref block_record(PyObject* self, Py_ssize_t i) {
    BlockObject* block = as_block(self);
    if (!block->list) {
        BlockState& state = *block->state;
        if (state.records[static_cast<std::size_t>(i)] ||
            ++state.asked < std::max<std::size_t>(state.records.size() / walk_share, 1)) {
            return kept_record(self, i);
        }
        // Paused, the collector takes the new records in one step after them, as when an
        // analysis made them all at its open; a walk's own pause (the conditions') would
        // take them with its objects in one large step instead, slower than small ones.
        const py::GcPause pause;
        block_list(self);
    }
    return py::list_item(block->list, i);
}

// ---- the class --------------------------------------------------------------

int block_traverse(PyObject* self, visitproc visit, void* arg) {
    BlockObject* block = as_block(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(block->reader);
    Py_VISIT(block->frame);
    Py_VISIT(block->list);
    if (block->state) {
        for (PyObject* record : block->state->records) Py_VISIT(record);
    }
    return 0;
}

int block_clear(PyObject* self) {
    BlockObject* block = as_block(self);
    Py_CLEAR(block->reader);
    Py_CLEAR(block->frame);
    Py_CLEAR(block->list);
    if (block->state) {
        for (PyObject*& record : block->state->records) Py_CLEAR(record);
        block->state->positions.clear();  // a block cleared as garbage has no spectra left to make
    }
    return 0;
}

void block_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    block_clear(self);
    delete as_block(self)->state;
    py::free_instance(self);
}

// Once made, the list is the block's spectra: code that shortens it shortens them.
Py_ssize_t block_length(PyObject* self) {
    const BlockObject* block = as_block(self);
    return block->list ? PyList_GET_SIZE(block->list) : block_size(self);
}

PyObject* block_item(PyObject* self, Py_ssize_t i) {
    return py::guard([&] {
        if (i < 0 || i >= block_length(self)) py::raise(PyExc_IndexError, "spectrum index out of range");
        return block_record(self, i);
    });
}

PyType_Slot block_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(block_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(block_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(block_clear)},
    {Py_sq_length, reinterpret_cast<void*>(block_length)},
    {Py_sq_item, reinterpret_cast<void*>(block_item)},
    {Py_tp_doc, const_cast<char*>("The SpectrumIndex records of a spectrum index block, made when first asked for.")},
    {0, nullptr},
};

PyType_Spec block_spec = {"ozra_data_access._internal._storage.SpectrumIndexBlock", sizeof(BlockObject), 0,
                          Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_DISALLOW_INSTANTIATION, block_slots};

// ---- the functions of the api -------------------------------------------------

PyObject* spectrum_index_records(PyObject* spectra) noexcept {
    return py::guard([&] { return is_block(spectra) ? block_list(spectra) : Ref::borrow(spectra); });
}

// The list of the spectra's records: the spectra themselves, or a block's list once
// made; null for a block whose records are made one by one.
PyObject* records_list(PyObject* spectra) noexcept { return is_block(spectra) ? as_block(spectra)->list : spectra; }

// The record of spectrum `i`: null for a block's record not made yet, and past the
// end of a list (code may have shortened it).
PyObject* held_record(PyObject* spectra, Py_ssize_t i) noexcept {
    if (PyObject* list = records_list(spectra)) return i < PyList_GET_SIZE(list) ? PyList_GET_ITEM(list, i) : nullptr;
    return as_block(spectra)->state->records[static_cast<std::size_t>(i)];
}

// The pending description of spectrum `i`: its record's, or a block's entry whose
// record is not made, for which `unmade_position` (when given) gets the points' position.
PendingEntry pending_entry_at(PyObject* spectra, Py_ssize_t i,
                              std::optional<std::int64_t>* unmade_position = nullptr) noexcept {
    if (PyObject* record = held_record(spectra, i)) return pending_entry(record);
    if (records_list(spectra)) return {};
    const BlockObject* block = as_block(spectra);
    const auto at = static_cast<std::size_t>(i);
    if (unmade_position) *unmade_position = absolute_int64(block->state->positions[at], block->state->origin);
    return {block->frame, block->state->first_entry + static_cast<std::uint32_t>(at)};
}

PendingSpectrum pending_at(PyObject* spectra, Py_ssize_t i) noexcept {
    std::optional<std::int64_t> unmade_position;
    const PendingEntry pending = pending_entry_at(spectra, i, &unmade_position);
    if (!pending) return {nullptr, nullptr, PendingCondition::none, std::nullopt};
    const PendingDescription& description = pending.description();
    return {&description.summary, description.condition, description.condition_kind, unmade_position};
}

bool condition_key_at(PyObject* spectra, Py_ssize_t i, std::string& key) {
    const PendingEntry pending = pending_entry_at(spectra, i);
    return pending && condition_key(pending, key);
}

PyObject* condition_description_at(PyObject* spectra, Py_ssize_t i) noexcept {
    return py::guard([&] {
        const PendingEntry pending = pending_entry_at(spectra, i);
        return pending ? condition_fields(pending) : Ref();
    });
}

bool set_pending_condition_at(PyObject* spectra, Py_ssize_t i, PyObject* object, PendingCondition kind) noexcept {
    const PendingEntry pending = pending_entry_at(spectra, i);
    if (pending) set_pending_condition(pending.description(), object, kind);
    return static_cast<bool>(pending);
}

bool records_unshared(PyObject* spectra) noexcept {
    PyObject* list = records_list(spectra);
    if (list == nullptr) {
        for (PyObject* record : as_block(spectra)->state->records) {
            if (record && Py_REFCNT(record) != 1) return false;
        }
        return true;
    }
    if (list != spectra && Py_REFCNT(list) != 1) return false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
        if (Py_REFCNT(PyList_GET_ITEM(list, i)) != 1) return false;
    }
    return true;
}

}  // namespace

Ref absolute_position(std::int64_t relative, std::uint64_t origin) {
    if (const auto sum = absolute_int64(relative, origin)) return py::from_long(*sum);
    Ref left = py::from_long(relative);
    Ref right = Ref::checked(PyLong_FromUnsignedLongLong(origin));
    return Ref::checked(PyNumber_Add(left.get(), right.get()));
}

std::optional<std::int64_t> absolute_int64(std::int64_t relative, std::uint64_t origin) noexcept {
    const __int128 sum = static_cast<__int128>(relative) + static_cast<__int128>(origin);
    if (sum < INT64_MIN || sum > INT64_MAX) return std::nullopt;
    return static_cast<std::int64_t>(sum);
}

Ref new_spectrum_index_block(PyObject* reader, PyObject* frame, std::uint32_t first_entry,
                             std::vector<std::int64_t> positions, std::vector<std::int64_t> profile_positions,
                             std::uint64_t origin) {
    Ref object = py::allocate(block_type);
    BlockObject* block = as_block(object.get());
    const std::size_t size = positions.size();
    block->state = new BlockState{first_entry, std::move(positions), std::move(profile_positions), origin,
                                  std::vector<PyObject*>(size, nullptr)};
    block->reader = Py_NewRef(reader);
    block->frame = Py_XNewRef(frame);
    return object;
}

void add_spectrum_index_block_type(ValueTypesApi& api) {
    // Not bound in the module: only an analysis hands its block out.
    block_type = reinterpret_cast<PyTypeObject*>(py::Kept(py::Ref::checked(PyType_FromSpec(&block_spec))).get());
    api.spectrum_index_records = spectrum_index_records;
    api.pending_at = pending_at;
    api.condition_key_at = condition_key_at;
    api.condition_description_at = condition_description_at;
    api.set_pending_condition_at = set_pending_condition_at;
    api.records_unshared = records_unshared;
}

}  // namespace ozra::storage
