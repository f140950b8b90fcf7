// numpy's scalar classes the module fetches, part of its state.
#pragma once

#include "python/ref.hpp"

namespace ozra::qual {

// numpy's float64 and integer classes, once numpy is imported (no value of theirs
// can exist before); part of the module's state (qual_module.hpp).
struct NumpyScalarTypes {
    py::Kept float64;
    py::Kept integer;
};

}  // namespace ozra::qual
