// The 31-accumulation hash of the value classes, exact on unbounded integers.
//
//   result = 1; for each field: result = 31 * result + (0 if field == None else hash(field))
//
// `exact()` is the integer `__hash__()` returns; `reduced()` is what the
// interpreter derives from such an integer for hash(obj): the value itself when
// it fits a Py_ssize_t, else hash() of the integer; -1 becomes -2.
#pragma once

#include "python/ref.hpp"

namespace ozra::py {

class HashAccumulator {
public:
    void add(PyObject* field);
    void add_hash(Py_hash_t field_hash);
    Ref exact() const;
    Py_hash_t reduced() const;

private:
    __int128 small_ = 1;  // exact while it fits; a condition's 8 fields always do
    Ref big_;             // used once the value no longer fits in 128 bits
};

}  // namespace ozra::py
