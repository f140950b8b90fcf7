// The order of an MS analysis's distinct acquisition conditions.
#pragma once

#include "python/ref.hpp"

namespace ozra::qual {

// The conditions of `unique` (a set) as a list sorted by (x.ms_level, polarity key,
// (x.collision_energy is not None, x.collision_energy)), ties in set order. A
// condition without polarity has the key (0,), which sorts before the (1, value) of
// every polarity at the same MS level.
py::Ref sorted_conditions(PyObject* unique);

}  // namespace ozra::qual
