// Spectrum descriptions checked without making their objects: the format layer's
// TaggedDecoder (tagged_values.hpp) with a builder of C values, so that a damaged
// description fails exactly as decoding it into Python objects fails, at a fraction
// of the cost. The SpectrumIndex records build the objects on first read.
#pragma once

#include "core/byte_cursor.hpp"
#include "storage/api/storage_api.hpp"

#include <string>

namespace ozra::storage {

// Checks the InternalSpectrumDescription at the cursor (FormatError as decode_record
// raises it) and returns the numbers the walks read from it.
SpectrumSummary check_spectrum_description(core::ByteCursor& cursor);

// The key of the acquisition condition a checked description makes (see
// ValueTypesApi::condition_key): false when it cannot be told from its values.
bool spectrum_condition_key(core::ByteCursor& cursor, std::string& key);

// A new InternalSpectrumDescription record holding only the fields of a checked
// description whose key tells its condition (the others None): the same objects
// decoding makes for them, for the condition to be made from; empty when the key
// does not tell it.
py::Ref condition_fields_record(core::ByteCursor& cursor);

// The fields condition_fields_record sets.
bool is_condition_field(int position) noexcept;

}  // namespace ozra::storage
