#include "core/decode_budget.hpp"

#include "core/format_error.hpp"

#include <algorithm>

namespace ozra::core {

std::uint64_t DecodeBudget::left(std::uint64_t file_size) const noexcept {
    const std::uint64_t limit = multiple_ * file_size;
    return limit - std::min(limit, spent_);
}

bool DecodeBudget::admits(std::uint64_t position, std::uint64_t decoded_size, std::uint64_t file_size) const {
    return decoded_size <= left(file_size) || charged_.contains(position);
}

void DecodeBudget::charge(std::uint64_t position, std::uint64_t decoded_size, std::uint64_t file_size) {
    if (charged_.contains(position)) return;
    if (decoded_size > left(file_size)) {
        throw FormatError("expected decoded " + what_ + " of at most " + std::to_string(multiple_) +
                              " times the file's size (" + std::to_string(multiple_ * file_size) +
                              " bytes) in all, found more with the data",
                          position);
    }
    charged_.insert(position);
    spent_ += decoded_size;
}

}  // namespace ozra::core
