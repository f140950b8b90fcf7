#include "core/position_set.hpp"

#include <utility>

namespace ozra::core {

// Fibonacci hashing: positions are often multiples of a record size, and the
// product's top bits spread them evenly over the slots.
std::size_t PositionSet::slot_of(std::uint64_t position) const {
    std::size_t slot = static_cast<std::size_t>((position * 0x9E3779B97F4A7C15ull) >> shift_);
    while (slots_[slot] != free_slot && slots_[slot] != position) slot = (slot + 1) & (slots_.size() - 1);
    return slot;
}

bool PositionSet::contains(std::uint64_t position) const {
    if (position == free_slot) return has_free_slot_value_;
    return !slots_.empty() && slots_[slot_of(position)] == position;
}

bool PositionSet::insert(std::uint64_t position) {
    if (position == free_slot) return !std::exchange(has_free_slot_value_, true);
    // At most half full, so a probe ends soon.
    if (2 * (size_ + 1) > slots_.size()) grow();
    std::uint64_t& slot = slots_[slot_of(position)];
    if (slot == position) return false;
    slot = position;
    ++size_;
    return true;
}

void PositionSet::grow() {
    const bool first = slots_.empty();
    std::vector<std::uint64_t> old(first ? std::size_t{1} << (64 - initial_shift) : 2 * slots_.size(), free_slot);
    old.swap(slots_);
    shift_ = first ? initial_shift : shift_ - 1;
    for (std::uint64_t position : old) {
        if (position != free_slot) slots_[slot_of(position)] = position;
    }
}

}  // namespace ozra::core
