// Decoding of the tagged values and description records of a frame into
// Python objects (see "Records" in docs/format.md).
#pragma once

#include "byte_cursor.hpp"
#include "records.hpp"
#include "ref.hpp"

#include <cstdint>

namespace ozra::storage {

using schema::RecordKind;

// Binds the record kinds to their classes (once, at module load).
void prepare_description_decoding(const DescriptionTypes& types);

// One record of the given kind at the cursor, as a new description record.
py::Ref decode_record(core::ByteCursor& cursor, RecordKind kind);

}  // namespace ozra::storage
