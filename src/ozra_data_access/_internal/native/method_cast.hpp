// PyMethodDef entries hold every calling convention as a PyCFunction.
#pragma once

#include "ref.hpp"

namespace ozra::storage {

template <class Function>
PyCFunction method_cast(Function function) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace ozra::storage
