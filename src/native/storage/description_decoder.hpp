// Decoding of the tagged values and description records of a frame into
// Python objects (see "Records" in docs/format.md).
#pragma once

#include "byte_cursor.hpp"
#include "records.hpp"
#include "ref.hpp"

#include <cstdint>

namespace ozra::storage {

enum class RecordKind : std::uint8_t {
    measurement_description = 1,
    function_description = 2,
    qual_description = 3,
    quan_description = 4,
    internal_spectrum_description = 5,
    internal_acquisition_condition = 6,
    internal_acquisition_core_condition = 7,
    vendor_specific_additional_condition = 8,
    triple_q_scan_condition = 9,
};

// Binds the record kinds to their classes (once, at module load).
void prepare_description_decoding(const DescriptionTypes& types);

// One record of the given kind at the cursor, as a new description record.
py::Ref decode_record(core::ByteCursor& cursor, RecordKind kind);

}  // namespace ozra::storage
