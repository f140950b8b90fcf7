// The reader and record methods the index block reads and the spectrum reads call on
// objects that are not the storage layer's own, part of the module's state.
#pragma once

#include "python/ref.hpp"
#include "python/types.hpp"

namespace ozra::storage {

struct CallNames {
    py::Kept set_buffer = py::intern("_OzraFileReader__set_buffer");
    py::Kept confirm_ozra_symbol = py::intern("_OzraFileReader__confirm_ozra_symbol");
    py::Kept get_absolute_position = py::intern("_OzraFileReader__get_absolute_position");
    py::Kept read_uint32 = py::intern("_OzraFileReader__read_uint32");
    py::Kept read_uint16_or_32 = py::intern("_OzraFileReader__read_uint16_or_32");
    py::Kept read_bool = py::intern("_OzraFileReader__read_bool");
    py::Kept read_int64_array = py::intern("_OzraFileReader__read_int64_array");
    py::Kept set_decompressed_buffer = py::intern("_OzraFileReader__set_decompressed_buffer");
    py::Kept reset_decompressed_buffer = py::intern("_OzraFileReader__reset_decompressed_buffer");
    py::Kept read_spectrum = py::intern("_OzraFileReader__read_spectrum");
    py::Kept read_dad_spectrum = py::intern("_OzraFileReader__read_dad_spectrum");
    py::Kept set_profile_position = py::intern("_SpectrumIndex__set_profile_position");
};

}  // namespace ozra::storage
