#include "storage/description_decoder.hpp"

#include "core/tagged_values.hpp"
#include "storage/imports.hpp"
#include "storage/records.hpp"
#include "storage/storage_module.hpp"

#include <optional>
#include <vector>

namespace ozra::storage {
namespace {

using py::Ref;

// The values of the format as Python objects: a Builder of core::TaggedDecoder.
struct PythonValues {
    using Value = Ref;

    const DescriptionTypes& types;

    Ref none() { return Ref::none(); }
    Ref integer(std::int64_t value) { return py::from_long(value); }
    Ref real(double value) { return py::from_double(value); }
    Ref boolean(bool value) { return Ref::boolean(value); }

    std::optional<Ref> string(const char* utf8, std::size_t size) {
        PyObject* text = PyUnicode_DecodeUTF8(utf8, static_cast<Py_ssize_t>(size), "strict");
        if (text != nullptr) return Ref::steal(text);
        if (!PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) py::throw_error();
        PyErr_Clear();
        return std::nullopt;
    }

    Ref range(Ref min, Ref max) { return new_value_range(std::move(min), std::move(max)); }
    Ref enumeration(std::uint8_t number, std::int32_t value) { return Ref::borrow(enumeration_member(number, value)); }

    Ref mapping() { return Ref::checked(PyDict_New()); }
    void add_pair(Ref& mapping, Ref key, Ref value) { py::check(PyDict_SetItem(mapping.get(), key.get(), value.get())); }

    Ref list(std::uint32_t size) { return py::new_list(size); }
    void set_item(Ref& list, std::uint32_t index, Ref item) { PyList_SET_ITEM(list.get(), index, item.release()); }

    Ref float_array(const std::uint8_t* little_endian, std::uint32_t count) {
        std::vector<double> values(count);
        for (std::uint32_t i = 0; i < count; ++i) values[i] = core::load_le<double>(little_endian + std::size_t{i} * 8);
        return new_array("d", values.data(), values.size() * sizeof(double));
    }

    Ref record(RecordKind kind) { return new_record(types[static_cast<std::size_t>(kind)]); }
    void set_field(Ref& record, int position, Ref value) { set_record_field(record.get(), position, std::move(value)); }
};

}  // namespace

py::Ref decode_record(core::ByteCursor& cursor, RecordKind kind) {
    PythonValues values{state().descriptions};
    return core::TaggedDecoder<PythonValues>(cursor, values).record(kind);
}

}  // namespace ozra::storage
