// Text forms built as the interpreter builds them: literal labels, str objects
// and str() of values, joined once at the end.
#pragma once

#include "python/ref.hpp"

namespace ozra::py {

class Text {
public:
    Text() : pieces_(new_list()) {}

    void add(const char* label) {
        Ref piece = Ref::checked(PyUnicode_FromString(label));
        add(piece.get());
    }
    // A str, added as it is.
    void add(PyObject* piece) { append(pieces_.get(), piece); }
    // str(value).
    void add_str(PyObject* value) {
        Ref piece = str(value);
        add(piece.get());
    }

    Ref finish() {
        Ref empty = Ref::checked(PyUnicode_FromStringAndSize(nullptr, 0));
        return Ref::checked(PyUnicode_Join(empty.get(), pieces_.get()));
    }

private:
    Ref pieces_;  // a list
};

}  // namespace ozra::py
