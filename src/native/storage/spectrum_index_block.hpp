// The spectrum index block of an MS analysis, read and checked whole when the
// analysis opens (every description, every position claimed), whose SpectrumIndex
// records are made when first asked for: a random access, a look-up or a TIC reads
// a few of 100,000 spectra or only their C numbers, and a record costs more to make
// and to drop than to check its description. As a sequence it gives each record
// (the same object every time); its list of records is made once, when asked for.
// The walks over an analysis read its spectra by index (ValueTypesApi::pending_at)
// and make a record only where they read its description. Either way the records are those a block read record by record
// makes.
#pragma once

#include "python/ref.hpp"
#include "storage/api/storage_api.hpp"

#include <cstdint>
#include <optional>
#include <vector>

namespace ozra::storage {

// `relative + origin`, the absolute position of a spectrum, as the interpreter adds
// them (beyond 64 bits too); as a 64-bit number when it is one.
py::Ref absolute_position(std::int64_t relative, std::uint64_t origin);
std::optional<std::int64_t> absolute_int64(std::int64_t relative, std::uint64_t origin) noexcept;

// A block of `positions.size()` spectra whose descriptions are the pending entries
// `first_entry` on of the description frame object `frame`; `profile_positions`
// empty when the block stores none.
py::Ref new_spectrum_index_block(PyObject* reader, PyObject* frame, std::uint32_t first_entry,
                                 std::vector<std::int64_t> positions, std::vector<std::int64_t> profile_positions,
                                 std::uint64_t origin);

// Adds the block class (not bound in the module) and sets the api's functions over
// the spectra of an analysis, a list of records or a block.
void add_spectrum_index_block_type(ValueTypesApi& api);

}  // namespace ozra::storage
