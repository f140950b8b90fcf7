#include "python/entry.hpp"
#include "python/module_slots.hpp"
#include "python/types.hpp"
#include "schema/format_schema.hpp"
#include "storage/index_block.hpp"
#include "storage/reader_object.hpp"
#include "storage/storage_errors.hpp"
#include "storage/storage_module.hpp"

namespace ozra::storage {

StorageState& state() {
    static StorageState& shared = *new StorageState();
    return shared;
}

namespace {

// POINT_ENCODINGS: the encodings' names by number, as the format schema lists them.
void add_point_encodings(PyObject* module) {
    constexpr Py_ssize_t count = schema::last_point_encoding + 1;
    py::Ref names = py::Ref::checked(PyTuple_New(count));
    for (Py_ssize_t number = 0; number < count; ++number) {
        PyTuple_SET_ITEM(names.get(), number,
                         py::Ref::checked(PyUnicode_FromString(schema::point_encoding_names[number])).release());
    }
    py::check(PyModule_AddObjectRef(module, "POINT_ENCODINGS", names.get()));
}

int storage_exec(PyObject* module) {
    return py::guard_int([&] {
        py::set_exception_translator(translate_core_exception);
        StorageState& shared = state();
        add_value_types(module, shared.value_types);
        shared.descriptions = add_description_types(module);
        add_reader_types(module, shared);
        add_point_encodings(module);
        shared.value_types.read_spectrum_index_block = read_spectrum_index_block;
        shared.value_types.read_function_index_block = read_function_index_block;
        shared.value_types.read_spectrum_points = read_spectrum_points;
        py::Ref capsule = py::Ref::checked(
            PyCapsule_New(&shared.value_types, storage::value_types_capsule_name, nullptr));
        py::check(PyModule_AddObjectRef(module, "_value_types_api", capsule.get()));
        return 0;
    });
}

PyMethodDef storage_functions[] = {
    {"_read_spectrum_index_block", py::method_cast(read_spectrum_index_block_function),
     METH_FASTCALL | METH_KEYWORDS,
     "_read_spectrum_index_block(reader, position, create)\n--\n\n"
     "The records of the spectrum index block at position, made by create\n"
     "(SpectrumIndex._SpectrumIndex__create_instance or what stands in for it), in stored order."},
    {"_read_spectrum_points", py::method_cast(read_spectrum_points_function), METH_FASTCALL | METH_KEYWORDS,
     "_read_spectrum_points(reader, position)\n--\n\n"
     "The points of the MS spectrum at position, read under the reader hold: natively for the\n"
     "storage layer's own reader, else through its __set_buffer and __read_spectrum."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef storage_module = {
    PyModuleDef_HEAD_INIT,
    "ozra_data_access._internal._storage",
    "The Ozra file reader, its index and description records, and the native value types.",
    0,
    storage_functions,
    py::module_slots<storage_exec>(),
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace ozra::storage

PyMODINIT_FUNC PyInit__storage() { return PyModuleDef_Init(&ozra::storage::storage_module); }
