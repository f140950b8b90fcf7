#include "core/decode_budget.hpp"

#include "core/format_error.hpp"

#include <algorithm>

namespace ozra::core {

void DecodeBudget::charge(std::uint64_t position, std::uint64_t decoded_size, std::uint64_t file_size) {
    if (charged_.contains(position)) return;
    const std::uint64_t limit = multiple_ * file_size;
    if (decoded_size > limit - std::min(limit, spent_)) {
        throw FormatError("expected decoded " + what_ + " of at most " + std::to_string(multiple_) +
                              " times the file's size (" + std::to_string(limit) +
                              " bytes) in all, found more with the data",
                          position);
    }
    charged_.insert(position);
    spent_ += decoded_size;
}

}  // namespace ozra::core
