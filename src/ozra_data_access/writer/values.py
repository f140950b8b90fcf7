"""Tagged values and records: how every description field is stored.

A value is encoded by its Python type:

=====================================  ====  ==========================================
Python value                           tag   stored as
=====================================  ====  ==========================================
None                                   0     nothing further
int (and numpy integers)               1     i64
float (and numpy floats)               2     f64
str                                    3     count, UTF-8 bytes
bool (and numpy.bool\\_)                4     u8 0 or 1 (tested before int)
``ValueRange``                         5     min, max, each an integer or float value
member of an Ozra enumeration          6     u8 enumeration number, i32 member value
mapping (dict) with str keys           7     count, key/value pairs
list or tuple                          8     count, values
record (has ``ozra_record()``)         9     record kind, field count, fields
numpy array, ``array.array``           10    count, f64 each
=====================================  ====  ==========================================

A record value is any object with a method ``ozra_record()`` returning ``(kind, fields)``;
the condition classes of :mod:`ozra_data_access.writer.model` are such objects.
"""

from __future__ import annotations

import array
import enum
import struct
from collections.abc import Mapping
from typing import Any, Callable, Sequence

import numpy as np

from ozra_data_access._internal._enum import (
    DetectorTypes,
    PolarityTypes,
    SpectrumTypes,
    TripleQScanTypes,
    VendorSpecificAdditionalConditionTypes,
)
from ozra_data_access.common import ValueRange
from ozra_data_access.writer.primitives import pack_count


class Tag(enum.IntEnum):
    """The first byte of a tagged value."""

    NONE = 0
    INTEGER = 1
    FLOAT = 2
    STRING = 3
    BOOLEAN = 4
    RANGE = 5
    ENUMERATION = 6
    MAPPING = 7
    LIST = 8
    RECORD = 9
    FLOAT_ARRAY = 10


#: The number each enumeration is stored under.
ENUMERATION_NUMBERS: dict[type, int] = {
    PolarityTypes: 1,
    SpectrumTypes: 2,
    DetectorTypes: 3,
    VendorSpecificAdditionalConditionTypes: 4,
    TripleQScanTypes: 5,
}

_RECORD_HEADER = struct.Struct("<BB")
_TAGGED_I64 = struct.Struct("<Bq")
_TAGGED_F64 = struct.Struct("<Bd")
_TAGGED_ENUMERATION = struct.Struct("<BBi")

Encoder = Callable[[bytearray, Any], None]


def encode_value(out: bytearray, value: Any) -> None:
    """Appends `value` as a tagged value to `out`."""
    encoder = _ENCODERS.get(type(value))
    if encoder is None:
        encoder = _encoder_for(type(value))
    encoder(out, value)


def encode_record(out: bytearray, kind: int, fields: Sequence[Any]) -> None:
    """Appends a record (kind, field count, tagged fields) to `out`."""
    if len(fields) > 255:
        raise ValueError(f"a record holds at most 255 fields, not {len(fields)}")
    out += _RECORD_HEADER.pack(kind, len(fields))
    for value in fields:
        if value is None:
            out.append(Tag.NONE)
            continue
        encoder = _ENCODERS.get(type(value))
        if encoder is None:
            encoder = _encoder_for(type(value))
        encoder(out, value)


def _none(out: bytearray, _value: None) -> None:
    out.append(Tag.NONE)


def _boolean(out: bytearray, value: Any) -> None:
    out += b"\x04\x01" if value else b"\x04\x00"


def _integer(out: bytearray, value: Any) -> None:
    try:
        out += _TAGGED_I64.pack(Tag.INTEGER, value)
    except struct.error:
        raise ValueError(f"integer {value} does not fit the 64-bit integer of an Ozra file") from None


def _float(out: bytearray, value: Any) -> None:
    out += _TAGGED_F64.pack(Tag.FLOAT, value)


def _string(out: bytearray, value: str) -> None:
    data = value.encode("utf-8")
    out.append(Tag.STRING)
    out += pack_count(len(data))
    out += data


def _range(out: bytearray, value: ValueRange) -> None:
    out.append(Tag.RANGE)
    for bound in (value.min, value.max):
        if isinstance(bound, (bool, np.bool_)) or not isinstance(bound, (int, float, np.integer, np.floating)):
            raise TypeError(f"a stored range holds numbers, not {type(bound).__name__}")
        encode_value(out, bound)


def _enumeration(out: bytearray, value: enum.Enum) -> None:
    out += _TAGGED_ENUMERATION.pack(Tag.ENUMERATION, ENUMERATION_NUMBERS[type(value)], value.value)


def _mapping(out: bytearray, value: Mapping) -> None:
    out.append(Tag.MAPPING)
    out += pack_count(len(value))
    for key, item in value.items():
        if not isinstance(key, str):
            raise TypeError(f"a stored mapping has str keys, not {type(key).__name__}")
        _string(out, key)
        encode_value(out, item)


def _list(out: bytearray, value: Sequence) -> None:
    out.append(Tag.LIST)
    out += pack_count(len(value))
    for item in value:
        encode_value(out, item)


def _record(out: bytearray, value: Any) -> None:
    out.append(Tag.RECORD)
    kind, fields = value.ozra_record()
    encode_record(out, kind, fields)


def _float_array(out: bytearray, value: Any) -> None:
    values = np.asarray(value, dtype="<f8")
    if values.ndim != 1:
        raise ValueError(f"a stored float array is one-dimensional, not of shape {values.shape}")
    out.append(Tag.FLOAT_ARRAY)
    out += pack_count(len(values))
    out += values.tobytes()


_ENCODERS: dict[type, Encoder] = {
    type(None): _none,
    bool: _boolean,
    int: _integer,
    float: _float,
    str: _string,
    ValueRange: _range,
    dict: _mapping,
    list: _list,
    tuple: _list,
    np.ndarray: _float_array,
    array.array: _float_array,
}


def _encoder_for(cls: type) -> Encoder:
    """Finds the encoder of a type without an exact entry, and remembers it."""
    if cls in ENUMERATION_NUMBERS:
        encoder = _enumeration
    elif issubclass(cls, (bool, np.bool_)):
        encoder = _boolean
    elif issubclass(cls, (int, np.integer)):
        encoder = _integer
    elif issubclass(cls, (float, np.floating)):
        encoder = _float
    elif issubclass(cls, str):
        encoder = _string
    elif issubclass(cls, ValueRange):
        encoder = _range
    elif callable(getattr(cls, "ozra_record", None)):
        encoder = _record
    elif issubclass(cls, Mapping):
        encoder = _mapping
    elif issubclass(cls, (np.ndarray, array.array)):
        encoder = _float_array
    elif issubclass(cls, (list, tuple)):
        encoder = _list
    else:
        raise TypeError(f"an Ozra file cannot store a value of type {cls.__name__}")
    _ENCODERS[cls] = encoder
    return encoder
