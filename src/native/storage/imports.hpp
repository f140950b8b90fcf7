// Objects of other modules the storage layer uses, looked up once at module load.
#pragma once

#include "core/primitives.hpp"
#include "python/ref.hpp"
#include "schema/format_schema.hpp"

#include <array>
#include <cstdint>
#include <vector>

namespace ozra::storage {

using schema::enumeration_count;

struct Imports {
    py::Kept format_error;  // ozra_data_access.exception.OzraFormatError
    py::Kept array_type;    // array.array
    // OzraSymbols members, in the order of core::Marker.
    std::array<py::Kept, core::marker_count> symbols;
    // Per enumeration (index = file number - 1): the members in the order of the format's tables.
    std::array<std::vector<py::Kept>, enumeration_count> members;
};

// Filled by load_imports().
const Imports& imports();
void load_imports();

// The member of an enumeration with the given value, or nullptr (borrowed).
// The enumeration classes hold exactly the members of the format's tables (checked at load).
PyObject* enumeration_member(std::uint8_t enumeration, std::int64_t value) noexcept;

// The marker of an OzraSymbols member; TypeError for anything else.
core::Marker marker_of(PyObject* symbol);

// A new array.array of the typecode ("d", "q") holding a copy of `size` bytes.
py::Ref new_array(const char* typecode, const void* data, std::size_t size);

}  // namespace ozra::storage
