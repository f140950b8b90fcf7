// Placeholder until the reader lands: the class names exist, without behaviour.
#include "storage_module.hpp"
#include "types.hpp"

namespace ozra::storage {
namespace {

PyType_Slot reader_slots[] = {
    {Py_tp_doc, const_cast<char*>("Reads an Ozra file.")},
    {0, nullptr},
};

PyType_Spec reader_spec = {"ozra_data_access._internal._storage.OzraFileReader", sizeof(PyObject), 0,
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, reader_slots};

}  // namespace

void add_reader_types(PyObject* module, StorageState&) {
    py::add_type(module, &reader_spec);
    add_record_type(module, {"JumpTable",
                             {"num_measurements", "measurement_index_list", "major_version", "minor_version",
                              "revision_version", "major_lib_version", "minor_lib_version", "revision_lib_version"},
                             {}});
    add_record_type(module, {"MeasurementIndex", {"reader", "position", "measurement_description"}, {}});
    add_record_type(module, {"FunctionIndex", {"reader", "position", "function_description"}, {}});
    add_record_type(module, {"SpectrumIndex", {"reader", "position", "profile_position", "spectrum_description"}, {}});
    add_record_type(module, {"XicInfo", {"range", "is_break_to_read", "spectrum_point", "xic"}, {"is_break_to_read"}});
}

}  // namespace ozra::storage
