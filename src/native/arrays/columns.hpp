// Columns of doubles or 64-bit integers, each in a bytearray that numpy wraps
// without copying (numpy.frombuffer): the arrays module's results are made in
// C++ and handed to Python as one object per column, never one per value.
#pragma once

#include "python/ref.hpp"

#include <cstdint>

namespace ozra::arrays {

template <class Value>
class Column {
public:
    explicit Column(Py_ssize_t count)
        : bytes_(py::Ref::checked(PyByteArray_FromStringAndSize(nullptr, count * Py_ssize_t{sizeof(Value)}))),
          values_(reinterpret_cast<Value*>(PyByteArray_AS_STRING(bytes_.get()))) {}
    Value& operator[](Py_ssize_t i) noexcept { return values_[i]; }
    Value* data() noexcept { return values_; }
    py::Ref release() noexcept { return std::move(bytes_); }

private:
    py::Ref bytes_;
    Value* values_;
};

using DoubleColumn = Column<double>;
using IndexColumn = Column<std::int64_t>;

}  // namespace ozra::arrays
