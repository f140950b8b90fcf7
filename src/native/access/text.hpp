// Text forms built as the interpreter builds them: literal labels concatenated
// with str() of values.
#pragma once

#include "ref.hpp"

namespace ozra::access {

class Text {
public:
    Text() : text_(py::Ref::checked(PyUnicode_FromStringAndSize(nullptr, 0))) {}

    Text& operator<<(const char* label) {
        py::Ref piece = py::Ref::checked(PyUnicode_FromString(label));
        return add(piece.get());
    }
    // Appends str(value).
    Text& operator<<(PyObject* value) {
        py::Ref piece = py::str(value);
        return add(piece.get());
    }

    py::Ref finish() { return std::move(text_); }

private:
    Text& add(PyObject* piece) {
        text_ = py::Ref::checked(PyUnicode_Concat(text_.get(), piece));
        return *this;
    }

    py::Ref text_;
};

}  // namespace ozra::access
