// A decompressed frame of spectrum descriptions, kept for the SpectrumIndex records made
// from it until each has built its description: the frame's bytes and, per record, what
// the record knows before that (where its description lies, its summary, its pending
// acquisition condition). Kept here rather than in the records, so that a record whose
// description is built costs no more than a plain record; the frame goes with the
// last record that needs it.
#pragma once

#include "core/byte_buffer.hpp"
#include "core/byte_cursor.hpp"
#include "python/ref.hpp"
#include "storage/api/storage_api.hpp"
#include "storage/description_check.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ozra::storage {

struct PendingDescription {
    std::uint32_t offset;  // of the description in the frame
    PendingCondition condition_kind;
    PyObject* condition;  // owned; see ValueTypesApi::set_pending_condition_at
    PyObject* condition_fields;  // owned: the record condition_fields made, which the description becomes
    SpectrumSummary summary;
};

// The condition's values of the description whose key was told last: the walk over
// all conditions asks for a description's key, then, for the first of its key, for
// the record of its values, which is made from these without decoding it again.
struct KeyedDescription {
    std::uint32_t entry;  // in `descriptions`
    ConditionValues values;
};

struct DescriptionFrame {
    std::shared_ptr<const core::ByteBuffer> bytes;  // the reader's, given up when it reads its next frame
    std::uint64_t frame_at;  // the frame's position in the file
    std::vector<PendingDescription> descriptions;
    std::optional<KeyedDescription> last_keyed;
};

// A new frame object (a Python object, known to the collector through the pending
// conditions) for the decompressed frame stored at `frame_at`.
py::Ref new_description_frame(std::shared_ptr<const core::ByteBuffer> bytes, std::uint64_t frame_at);

// The frame objects' class, made once at load and kept in the module's state.
PyTypeObject* make_description_frame_type();

// The frame of an object made by new_description_frame.
DescriptionFrame& description_frame(PyObject* frame) noexcept;

// Sets (see ValueTypesApi::set_pending_condition_at) or drops the pending condition of
// one of the frame's descriptions.
void set_pending_condition(PendingDescription& description, PyObject* object, PendingCondition kind) noexcept;
void clear_pending_condition(PendingDescription& description) noexcept;

// A cursor at the description in the frame's bytes.
core::ByteCursor description_cursor(const DescriptionFrame& frame, const PendingDescription& description);

// One pending description: the entry `entry` of the frame object `frame` (null for none).
// Entries are added while a frame is read, which may move them: a PendingDescription
// reached through one is not kept across code that may run Python.
struct PendingEntry {
    PyObject* frame = nullptr;
    std::uint32_t entry = 0;

    explicit operator bool() const noexcept { return frame != nullptr; }
    PendingDescription& description() const noexcept { return description_frame(frame).descriptions[entry]; }
};

// See ValueTypesApi::condition_key_at and condition_description_at.
bool condition_key(PendingEntry pending, std::string& key);
py::Ref condition_fields(PendingEntry pending);

}  // namespace ozra::storage
