// Decoding of the description records of a frame into Python objects: the
// format layer's TaggedDecoder (tagged_values.hpp) with a builder of Python values.
#pragma once

#include "core/byte_cursor.hpp"
#include "python/ref.hpp"
#include "schema/format_schema.hpp"

namespace ozra::storage {

using schema::RecordKind;

// One record of the given kind at the cursor, as a new description record.
py::Ref decode_record(core::ByteCursor& cursor, RecordKind kind);

}  // namespace ozra::storage
