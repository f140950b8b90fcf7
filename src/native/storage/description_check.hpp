// Spectrum descriptions checked without making their objects: the format layer's
// TaggedDecoder (tagged_values.hpp) with a builder of C values, so that a damaged
// description fails exactly as decoding it into Python objects fails, at a fraction
// of the cost. The SpectrumIndex records build the objects on first read.
#pragma once

#include "core/byte_cursor.hpp"
#include "schema/format_schema.hpp"
#include "storage/api/storage_api.hpp"

#include <cstdint>
#include <string>

namespace ozra::storage {

// A value as its tag and, for a number, boolean, enumeration member or range of
// numbers, the bits that tell it from others of its tag. Sixteen bytes, so the
// decoder hands each one back in registers: a range's upper bound waits beside
// it until the record's field takes it.
struct CheckedValue {
    std::uint64_t bits = 0;  // a range: its lower bound's
    std::uint8_t tag = schema::none_tag;
    std::uint8_t bound_tags[2] = {};
    bool top = false;  // the record being checked (not one nested in it)
};

struct CheckedField {
    CheckedValue value;
    std::uint64_t upper_bits = 0;  // a range: its upper bound's
};

// The values a description's acquisition condition is made from (ms_level,
// polarity, collision_energy, mass_range, precursor_range, precursor_value,
// is_profile_spectrum_measured), as checking the description found them.
struct ConditionValues {
    CheckedField fields[7];
};

// Checks the InternalSpectrumDescription at the cursor (FormatError as decode_record
// raises it) and returns the numbers the walks read from it.
SpectrumSummary check_spectrum_description(core::ByteCursor& cursor);

// The key of the acquisition condition a checked description makes (see
// ValueTypesApi::condition_key), and the values it is made from: false when it
// cannot be told from its values.
bool spectrum_condition_key(core::ByteCursor& cursor, std::string& key, ConditionValues& values);

// A new InternalSpectrumDescription record holding only the condition's values of
// a description whose key tells its condition (the other fields None): the same
// objects decoding makes for them, for the condition to be made from.
py::Ref condition_fields_record(const ConditionValues& values);

// The fields condition_fields_record sets.
bool is_condition_field(int position) noexcept;

}  // namespace ozra::storage
