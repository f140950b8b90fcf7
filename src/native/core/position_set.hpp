// A set of file positions, open-addressed in one array. A spectrum index block
// names tens of thousands of spectra and a full read charges every one of them to
// the decode budget: a node allocated per position cost more than checking the
// block's descriptions.
#pragma once

#include <cstdint>
#include <vector>

namespace ozra::core {

class PositionSet {
public:
    // Adds `position`; false when it was in the set already.
    bool insert(std::uint64_t position);
    bool contains(std::uint64_t position) const;

private:
    // UINT64_MAX marks a free slot; the position itself is kept aside.
    static constexpr std::uint64_t free_slot = UINT64_MAX;
    static constexpr int initial_shift = 64 - 6;  // 64 slots

    std::size_t slot_of(std::uint64_t position) const;
    void grow();

    std::vector<std::uint64_t> slots_;
    std::size_t size_ = 0;
    int shift_ = initial_shift;  // 64 - log2 of the slot count
    bool has_free_slot_value_ = false;
};

}  // namespace ozra::core
