#include "python/hashing.hpp"

#include <cstdint>

namespace ozra::py {
namespace {

Ref int128_to_long(__int128 value) {
    const auto high = static_cast<long long>(value >> 64);
    const auto low = static_cast<unsigned long long>(value & ~static_cast<unsigned long long>(0));
    if (high == 0) return Ref::checked(PyLong_FromUnsignedLongLong(low));
    if (high == -1 && static_cast<long long>(low) < 0) return from_long(static_cast<long long>(low));
    Ref high_part = from_long(high);
    Ref shift = from_long(64);
    Ref shifted = Ref::checked(PyNumber_Lshift(high_part.get(), shift.get()));
    Ref low_part = Ref::checked(PyLong_FromUnsignedLongLong(low));
    return Ref::checked(PyNumber_Add(shifted.get(), low_part.get()));
}

// The interpreter's hash of an integer: sign(n) * (|n| mod (2**61 - 1)), -1 -> -2.
Py_hash_t hash_of_integer(__int128 value) {
    constexpr unsigned __int128 modulus = (static_cast<unsigned __int128>(1) << _PyHASH_BITS) - 1;
    const bool negative = value < 0;
    const unsigned __int128 magnitude =
        negative ? static_cast<unsigned __int128>(-(value + 1)) + 1 : static_cast<unsigned __int128>(value);
    auto hash = static_cast<Py_hash_t>(magnitude % modulus);
    if (negative) hash = -hash;
    return hash == -1 ? -2 : hash;
}

}  // namespace

void HashAccumulator::add(PyObject* field) {
    if (equals_none(field)) {
        add_hash(0);
        return;
    }
    const Py_hash_t hash = PyObject_Hash(field);
    if (hash == -1 && PyErr_Occurred()) throw_error();
    add_hash(hash);
}

void HashAccumulator::add_hash(Py_hash_t field_hash) {
    if (!big_) {
        __int128 scaled;
        __int128 sum;
        if (!__builtin_mul_overflow(small_, static_cast<__int128>(31), &scaled) &&
            !__builtin_add_overflow(scaled, static_cast<__int128>(field_hash), &sum)) {
            small_ = sum;
            return;
        }
        big_ = int128_to_long(small_);
    }
    Ref prime = from_long(31);
    Ref scaled = Ref::checked(PyNumber_Multiply(big_.get(), prime.get()));
    Ref term = from_long(field_hash);
    big_ = Ref::checked(PyNumber_Add(scaled.get(), term.get()));
}

Ref HashAccumulator::exact() const { return big_ ? big_.copy() : int128_to_long(small_); }

Py_hash_t HashAccumulator::reduced() const {
    if (big_) {
        const Py_hash_t hash = PyObject_Hash(big_.get());
        if (hash == -1 && PyErr_Occurred()) throw_error();
        return hash;
    }
    if (small_ >= PY_SSIZE_T_MIN && small_ <= PY_SSIZE_T_MAX) {
        const auto value = static_cast<Py_hash_t>(small_);
        return value == -1 ? -2 : value;
    }
    return hash_of_integer(small_);
}

}  // namespace ozra::py
