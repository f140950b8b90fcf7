// The reading state of one open Ozra file: a current position in the file, or,
// between enter_frame() and leave_frame(), a cursor in a decompressed frame.
// Every count, length and position is checked against the file size or the
// bytes left in the frame before anything is allocated or read.
#pragma once

#include "core/byte_buffer.hpp"
#include "core/byte_cursor.hpp"
#include "core/decode_budget.hpp"
#include "core/file_header.hpp"
#include "core/file_source.hpp"
#include "core/position_set.hpp"
#include "core/primitives.hpp"
#include "core/spectrum_payload.hpp"
#include "core/zstd_frame.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace ozra::core {

class FileReader {
public:
    // Opens the file and reads its header (see FileSource and read_file_header).
    explicit FileReader(const std::string& path);

    const FileHeader& header() const noexcept { return header_; }
    // Shared with the file-like stream, which closes it.
    const std::shared_ptr<FileSource>& file() const noexcept { return file_; }
    void require_open() const { file_->require_open(); }

    // Moves to an absolute position inside the file (0 <= position < size) and
    // back to reading file data, abandoning a frame being read.
    void set_position(std::int64_t position);
    // The file position; while a frame is read, the position of the frame.
    std::uint64_t position() const;

    // Primitive reads from the file, or from the frame while one is read.
    void expect_marker(Marker marker);
    std::uint32_t read_u32();
    std::uint32_t read_count();
    bool read_bool();
    // A block's i64 array must have as many elements as the count read last in
    // the block (read_u32 / read_count after set_position), when there is one.
    const std::vector<std::int64_t>& read_i64_array();

    // Reads the frame (u32 length, zstd frame) at the file position and reads
    // from its decompressed data until leave_frame(), which requires the data
    // to be consumed exactly and moves the file position behind the frame.
    void enter_frame();
    // The same for a frame of records read one after another with read_frame_record():
    // a large frame decompresses on a thread of its own while its first records are
    // read. Every other read of the frame waits for the whole frame first.
    void enter_record_frame();
    void leave_frame();
    ByteCursor& frame_cursor();
    // Runs `read` on the frame's cursor to read one record. While the frame still
    // decompresses, the cursor holds the bytes that have arrived (those of the record
    // to come, or at least record_reach of them); a record that fails in them is read
    // again in the whole frame, after a damaged frame's own error.
    template <class Read>
    auto read_frame_record(Read read);
    static constexpr std::size_t record_reach = std::size_t{64} << 10;
    // Waits for a frame decompressing on its own thread to be whole; the frame's
    // error when it is damaged, as enter_frame() would have told it.
    void complete_frame();
    // Leaves the frame being read, if any, where it is; its thread is stopped.
    void abandon_frame() noexcept;
    // The decompressed bytes of the frame being read, to be kept and read only: a
    // frame read with read_frame_record() is final up to the records read so far.
    const std::shared_ptr<ByteBuffer>& frame_bytes() const noexcept { return frame_data_; }

    // The spectrum point data at the file position, checked and decompressed;
    // the file position moves behind it. With a wavelength count, x values
    // must not be stored and the point count must equal it; without one, x
    // values must be stored. The decoded bytes stay valid until the next read.
    struct LoadedSpectrum {
        SpectrumHeader header;
        const std::uint8_t* decoded;
    };
    LoadedSpectrum load_spectrum(std::optional<std::size_t> wavelength_count);
    // Whether the next load_spectrum() is likely to take long (tens of
    // microseconds), judged by the last one: it was decompressed, or it was
    // large. True before the first.
    bool expects_costly_spectrum() const noexcept {
        return last_spectrum_compressed_ || expected_spectrum_size_ >= costly_spectrum_size;
    }
    static constexpr std::size_t costly_spectrum_size = std::size_t{256} << 10;

    // The number of stored acquisition conditions of the function whose
    // spectrum index block lies at `block_position` (nullopt: none stored).
    // False, and the first number kept, when a function remembered before
    // named the same block with another number.
    [[nodiscard]] bool remember_condition_count(std::int64_t block_position, std::optional<std::uint32_t> count);
    // Notes that the function record at `record_at` of the frame being read names the spectrum
    // index block at `block_position`. Each naming function decodes the block's spectra for itself,
    // so the spectra a block names are charged to the budget once per function naming it.
    void name_spectrum_index_block(std::int64_t block_position, std::size_t record_at);
    // That number for the spectrum index block being read, as noted when its
    // BEGIN_OF_SPECTRUM_INDEX_BLOCK marker was confirmed.
    std::optional<std::uint32_t> condition_count() const noexcept { return current_condition_count_; }

    // Notes a spectrum position (of its points or its profile points) named by the
    // spectrum index block being read: FormatError when the block named it before.
    void claim_spectrum_position(std::int64_t position);

    // The decoded-data budgets (docs/format.md, "Work a reader does").
    static constexpr std::uint64_t spectrum_budget_multiple = 256;
    static constexpr std::uint64_t description_budget_multiple = 64;

private:
    void load_frame(bool may_stream);
    // The frame's cursor, however much of a streamed frame has arrived.
    ByteCursor& frame_cursor_in_progress();
    // Widens the cursor of a streamed frame to `wanted` bytes, or all there will be.
    void await_frame_bytes(std::size_t wanted);
    // Points the frame's cursor at `at` in the first `size` bytes of the frame.
    void view_frame(std::size_t size, std::size_t at);
    // A cursor over the next bytes of the file, at most `length` of them (fewer
    // only where the file ends).
    ByteCursor file_window(std::size_t length);
    template <class Decode>
    auto decode_next(std::size_t max_length, Decode decode);

    std::shared_ptr<FileSource> file_;
    FileHeader header_{};
    std::uint64_t position_ = 0;
    std::optional<std::uint32_t> block_count_;

    bool in_frame_ = false;
    std::uint64_t frame_offset_ = 0;
    std::uint64_t frame_end_ = 0;
    ByteCursor frame_cursor_;
    std::shared_ptr<ByteBuffer> frame_data_;  // given up to a holder of frame_bytes() when the next frame comes

    std::vector<std::int64_t> i64_elements_;
    // The bytes read last, from window_at_ on: spectrum reads, counts and markers are
    // served from them while they hold the range.
    ByteBuffer window_;
    std::uint64_t window_at_ = 0;
    std::size_t expected_spectrum_size_ = 0;  // bytes of the last spectrum read, markers included
    bool last_spectrum_compressed_ = true;
    ByteBuffer stored_;
    ByteBuffer decoded_;
    FrameDecompressor decompressor_;

    std::unordered_map<std::int64_t, std::optional<std::uint32_t>> condition_counts_;
    // The function records (their frame's offset, their place in it) naming each spectrum index block.
    std::unordered_map<std::int64_t, std::set<std::pair<std::uint64_t, std::size_t>>> block_namers_;
    // How many functions name the block being read, and so each spectrum it names (the most of any block).
    std::uint64_t current_block_namers_ = 1;
    // Only positions named by more than one function: the rest count once.
    std::unordered_map<std::int64_t, std::uint64_t> spectrum_namers_;
    std::optional<std::uint32_t> current_condition_count_;
    // The positions named so far by the spectrum index block being read (engaged
    // between its markers).
    std::optional<PositionSet> block_spectra_;
    DecodeBudget spectrum_budget_{"spectra", spectrum_budget_multiple};
    DecodeBudget description_budget_{"description frames", description_budget_multiple};
    // Last, so that its thread stops before what it reads and writes goes.
    std::unique_ptr<FrameStream> frame_stream_;
};

template <class Read>
auto FileReader::read_frame_record(Read read) {
    ByteCursor& cursor = frame_cursor_in_progress();
    if (!frame_stream_) return read(cursor);
    const std::size_t at = cursor.consumed();
    await_frame_bytes(at + record_reach);
    try {
        return read(frame_cursor_);
    } catch (const FormatError&) {
        complete_frame();
        view_frame(frame_data_->size(), at);
        return read(frame_cursor_);
    }
}

}  // namespace ozra::core
