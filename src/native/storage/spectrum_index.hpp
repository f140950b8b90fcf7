// The SpectrumIndex record: where a spectrum's points lie, with its description.
#pragma once

#include "python/ref.hpp"
#include "storage/api/storage_api.hpp"
#include "storage/description_frame.hpp"
#include "storage/reader_object.hpp"

#include <cstdint>
#include <optional>

namespace ozra::storage {

// Room for a block's `count` descriptions in the frame being read (the block's
// position array, read whole, bounds the count by the file's size).
void reserve_pending_descriptions(ReaderState& reader, std::uint32_t count);

// A record of class `cls` for the next description of the frame `reader` reads (its
// checks made), the spectrum's points at `position`: SpectrumIndex.__create_instance.
// The two steps below.
py::Ref make_spectrum_index(PyTypeObject* cls, PyObject* reader_object, ReaderState& reader, PyObject* position);

// Checks the next description of the frame `reader` reads, claims the spectrum's
// `position` (when it is a 64-bit number) and keeps the description pending in the
// reader's description frame (reader.description_frame); its entry there.
std::uint32_t add_pending_description(ReaderState& reader, std::optional<std::int64_t> position);

// A record of class `cls` whose description is the pending entry `entry` of the
// description frame object `frame`; its profile position 0 when null.
py::Ref new_pending_record(PyTypeObject* cls, PyObject* reader_object, PyObject* position, PyObject* profile_position,
                           PyObject* frame, std::uint32_t entry);

// Claims the profile position of a spectrum of the block being read (when it is a
// 64-bit number; 0 names none).
void claim_profile_position(core::FileReader& file, std::optional<std::int64_t> position);

// Sets a record's profile position, claimed in its block: SpectrumIndex.__set_profile_position.
void set_profile_position(PyObject* record, PyObject* position);

// Whether `create` is the storage layer's own SpectrumIndex.__create_instance, bound to its class.
bool is_native_create_instance(PyObject* create) noexcept;

// The record's pending description: none once its description is built, or for a
// record not of the storage layer's class.
PendingEntry pending_entry(PyObject* record) noexcept;

// Adds the SpectrumIndex class; returns it.
PyTypeObject* add_spectrum_index_type(PyObject* module);

}  // namespace ozra::storage
