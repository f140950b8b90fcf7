// The decoded-data budget of a reader (docs/format.md, "Work a reader does").
//
// Decoded bytes are charged once per stored position, however often the data
// there is read again, against a fixed multiple of the file size. Data stored
// without overlap never exceeds it (no frame or payload decodes to more than 256
// times its stored size); a file whose spectra or frames overlap, so that the
// same bytes decode again and again under other positions, is refused when it
// passes the budget.
#pragma once

#include "core/position_set.hpp"

#include <cstdint>
#include <string>

namespace ozra::core {

class DecodeBudget {
public:
    // `what` names the data in the refusal ("spectra", "description frames").
    DecodeBudget(std::string what, std::uint64_t multiple) : what_(std::move(what)), multiple_(multiple) {}

    // Charges `decoded_size` bytes for the data stored at `position`, unless charged
    // before; FormatError at `position` when the total passes multiple x file_size.
    void charge(std::uint64_t position, std::uint64_t decoded_size, std::uint64_t file_size);
    // Whether charge() would take those bytes.
    bool admits(std::uint64_t position, std::uint64_t decoded_size, std::uint64_t file_size) const;

private:
    std::uint64_t left(std::uint64_t file_size) const noexcept;

    std::string what_;
    std::uint64_t multiple_;
    std::uint64_t spent_ = 0;
    PositionSet charged_;
};

}  // namespace ozra::core
