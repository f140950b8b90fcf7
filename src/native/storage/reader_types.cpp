// The reader part of the storage module: the reader, its stream, the points
// types and the index records.
#include "storage/description_frame.hpp"
#include "storage/file_stream.hpp"
#include "storage/imports.hpp"
#include "storage/index_records.hpp"
#include "storage/reader_object.hpp"
#include "storage/spectrum_index.hpp"
#include "storage/spectrum_index_block.hpp"
#include "storage/spectrum_points.hpp"
#include "storage/storage_module.hpp"

namespace ozra::storage {

void add_reader_types(PyObject* module, StorageState& state) {
    load_imports();
    prepare_spectrum_reads();
    add_spectrum_point_types(module);
    add_file_stream_type(module);
    add_reader_type(module);
    state.value_types.hold_reader = hold_reader;
    state.value_types.release_reader = release_reader;
    add_index_types(module);
    state.description_frame = make_description_frame_type();
    state.value_types.spectrum_index = add_spectrum_index_type(module);
    add_spectrum_index_block_type(state.value_types);
    state.value_types.internal_spectrum_description =
        state.descriptions[static_cast<int>(schema::RecordKind::internal_spectrum_description)];
}

}  // namespace ozra::storage
