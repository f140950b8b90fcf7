#include "core/file_reader.hpp"

#include <algorithm>
#include <system_error>

namespace ozra::core {
namespace {

// Buffers grown by one huge block are given back above this size.
constexpr std::size_t kept_buffer_size = std::size_t{64} << 20;
// The most a spectrum read fetches before it knows the spectrum's size.
constexpr std::size_t max_read_ahead = std::size_t{1} << 20;
// What a read fetches when the reads walk the file in order. From the page cache,
// 320 MB of 16 KB spectra took 48 ms read one by one, 43 ms in reads of 64 KiB to
// 1 MiB (AMD EPYC, Linux 6.18).
constexpr std::size_t walk_read_size = std::size_t{128} << 10;
// Frames of records from this size on decompress on a thread of their own (some 0.2 ms
// of zstd against some 30 us to start a thread).
constexpr std::uint64_t min_streamed_frame = std::uint64_t{256} << 10;

}  // namespace

FileReader::FileReader(const std::string& path) : file_(std::make_shared<FileSource>(path)) {
    ByteCursor window = file_window(file_header_size);
    header_ = read_file_header(window);
}

ByteCursor FileReader::file_window(std::size_t length) {
    const std::uint64_t size = file_->size();
    const std::uint64_t left = size - std::min(size, position_);
    const std::size_t available = static_cast<std::size_t>(std::min<std::uint64_t>(length, left));
    if (position_ >= window_at_ && position_ - window_at_ + available <= window_.size()) {
        return ByteCursor::file(window_.data() + (position_ - window_at_), available, position_);
    }
    // Reading on where the last window ended: the reads walk the file in order, and
    // one larger read costs less than several (the kernel's work per call and page).
    const bool walking_on = !window_.empty() && position_ == window_at_ + window_.size();
    const std::size_t wanted =
        walking_on ? static_cast<std::size_t>(std::min<std::uint64_t>(std::max(available, walk_read_size), left))
                   : available;
    std::uint8_t* bytes = window_.reserve(wanted);
    window_.resize(file_->read_at_least(position_, available, wanted, bytes));
    window_at_ = position_;
    return ByteCursor::file(bytes, available, position_);
}

template <class Decode>
auto FileReader::decode_next(std::size_t max_length, Decode decode) {
    require_open();
    if (in_frame_) return decode(frame_cursor());
    ByteCursor window = file_window(max_length);
    auto value = decode(window);
    position_ += window.consumed();
    return value;
}

void FileReader::set_position(std::int64_t position) {
    require_open();
    if (position < 0 || static_cast<std::uint64_t>(position) >= file_->size()) {
        throw FormatError::outside_file(position, file_->size());
    }
    position_ = static_cast<std::uint64_t>(position);
    abandon_frame();
    block_count_.reset();
}

std::uint64_t FileReader::position() const {
    require_open();
    return in_frame_ ? frame_offset_ : position_;
}

void FileReader::expect_marker(Marker marker) {
    const std::uint64_t at = position();
    decode_next(marker_size, [&](ByteCursor& cursor) {
        read_marker(cursor, marker);
        return 0;
    });
    if (marker == Marker::begin_spectrum_index_block) {
        const auto known = condition_counts_.find(static_cast<std::int64_t>(at));
        current_condition_count_ = known == condition_counts_.end() ? std::nullopt : known->second;
        const auto namers = block_namers_.find(static_cast<std::int64_t>(at));
        current_block_namers_ = namers == block_namers_.end() ? 1 : std::max<std::uint64_t>(1, namers->second.size());
        block_spectra_.emplace();
    } else if (marker == Marker::end_spectrum_index_block) {
        block_spectra_.reset();
    } else if (marker == Marker::begin_jump_table || marker == Marker::begin_function_index_block) {
        current_condition_count_.reset();
    }
}

std::uint32_t FileReader::read_u32() {
    const std::uint32_t value = decode_next(4, [](ByteCursor& cursor) { return cursor.u32("a u32"); });
    if (!in_frame_) block_count_ = value;
    return value;
}

std::uint32_t FileReader::read_count() {
    const std::uint32_t value =
        decode_next(max_count_size, [](ByteCursor& cursor) { return core::read_count(cursor, "a count"); });
    if (!in_frame_) block_count_ = value;
    return value;
}

bool FileReader::read_bool() {
    return decode_next(1, [](ByteCursor& cursor) { return core::read_bool(cursor, "a bool"); });
}

const std::vector<std::int64_t>& FileReader::read_i64_array() {
    std::vector<std::int64_t>& elements = i64_elements_;
    require_open();
    if (in_frame_) {
        core::read_i64_array(frame_cursor(), elements);
        return elements;
    }
    // The count first, to size the window that holds the whole array.
    ByteCursor count_window = file_window(max_count_size);
    const std::uint32_t n = core::read_count(count_window, "the element count of an i64 array");
    const std::uint64_t room = file_->size() - position_ - count_window.consumed();
    if (n > room / 8) {
        throw FormatError("expected an i64 array of at most " + std::to_string(room / 8) +
                              " elements (the bytes left in the file), found a count of " + std::to_string(n),
                          position_);
    }
    if (block_count_ && n != *block_count_) {
        throw FormatError("expected an i64 array of " + std::to_string(*block_count_) +
                              " elements (the block's count), found " + std::to_string(n),
                          position_);
    }
    ByteCursor window = file_window(count_window.consumed() + std::size_t{n} * 8);
    core::read_i64_array(window, elements);
    position_ += window.consumed();
    window_.shrink_to(kept_buffer_size);
    return elements;
}

void FileReader::enter_frame() { load_frame(false); }

void FileReader::enter_record_frame() { load_frame(true); }

void FileReader::load_frame(bool may_stream) {
    require_open();
    if (in_frame_) throw UsageError("a decompressed frame is already being read");
    const std::uint64_t frame_offset = position_;
    ByteCursor length_window = file_window(4);
    const std::uint32_t stored = length_window.u32("the stored size of a frame");
    const std::uint64_t frame_start = frame_offset + 4;
    const std::uint64_t room = file_->size() - std::min(file_->size(), frame_start);
    if (stored > room) {
        throw FormatError("expected a frame of at most " + std::to_string(room) +
                              " bytes (the bytes left in the file), found a stored size of " + std::to_string(stored),
                          frame_offset);
    }
    std::uint8_t* bytes = stored_.reserve(stored);
    file_->read_exact(frame_start, stored, bytes);
    // The last frame's bytes stay with whoever took them.
    if (!frame_data_ || frame_data_.use_count() > 1) frame_data_ = std::make_shared<ByteBuffer>();
    ByteBuffer& data = *frame_data_;
    std::size_t arrived = 0;
    if (may_stream) {
        const std::uint64_t declared = decompressor_.declared_size(bytes, stored, frame_start);
        // A budget that refuses the frame does so after it decompressed, as for any frame.
        if (declared >= min_streamed_frame && description_budget_.admits(frame_offset, declared, file_->size())) {
            try {
                frame_stream_ = std::make_unique<FrameStream>(decompressor_, bytes, stored,
                                                              data.reserve(declared), declared);
            } catch (const std::system_error&) {
                // No thread to be had: decompressed here, as a small frame is.
            }
        }
    }
    if (!frame_stream_) {
        decompressor_.decompress(bytes, stored, frame_start, data, std::nullopt);
        stored_.shrink_to(kept_buffer_size);
        description_budget_.charge(frame_offset, data.size(), file_->size());
        arrived = data.size();
    }
    frame_cursor_ = ByteCursor::decompressed(data.data(), arrived, frame_offset);
    frame_offset_ = frame_offset;
    frame_end_ = frame_start + stored;
    in_frame_ = true;
}

void FileReader::complete_frame() {
    if (!frame_stream_) return;
    const bool whole = frame_stream_->whole();
    frame_stream_.reset();
    const std::size_t consumed = frame_cursor_.consumed();
    ByteBuffer& data = *frame_data_;
    if (!whole) {
        // Damaged: told as a frame decompressed at once tells it, which leaves no frame entered.
        in_frame_ = false;
        decompressor_.decompress(stored_.data(), stored_.size(), frame_offset_ + 4, data, std::nullopt);
        in_frame_ = true;
    }
    stored_.shrink_to(kept_buffer_size);
    description_budget_.charge(frame_offset_, data.size(), file_->size());
    view_frame(data.size(), consumed);
}

void FileReader::view_frame(std::size_t size, std::size_t at) {
    frame_cursor_ = ByteCursor::decompressed(frame_data_->data(), size, frame_offset_);
    frame_cursor_.take(at, "the records read");
}

void FileReader::abandon_frame() noexcept {
    frame_stream_.reset();
    in_frame_ = false;
}

ByteCursor& FileReader::frame_cursor_in_progress() {
    require_open();
    if (!in_frame_) throw UsageError("no decompressed frame is being read");
    return frame_cursor_;
}

void FileReader::await_frame_bytes(std::size_t wanted) {
    if (frame_cursor_.size() >= wanted) return;
    const std::size_t arrived = frame_stream_->wait_for(wanted);
    if (frame_stream_->ended()) {
        complete_frame();
        return;
    }
    view_frame(arrived, frame_cursor_.consumed());
}

void FileReader::leave_frame() {
    ByteCursor& cursor = frame_cursor();
    if (!cursor.at_end()) {
        cursor.fail("expected the end of the frame's records, found " + std::to_string(cursor.remaining()) +
                    " more bytes");
    }
    in_frame_ = false;
    position_ = frame_end_;
    if (frame_data_.use_count() > 1) {
        frame_data_.reset();
    } else {
        frame_data_->shrink_to(kept_buffer_size);
    }
}

ByteCursor& FileReader::frame_cursor() {
    ByteCursor& cursor = frame_cursor_in_progress();
    complete_frame();
    return cursor;
}

FileReader::LoadedSpectrum FileReader::load_spectrum(std::optional<std::size_t> wavelength_count) {
    require_open();
    if (in_frame_) throw UsageError("spectra are read from the file, not from a decompressed frame");
    // One read usually brings the whole spectrum: the next spectrum of a function is
    // about as large as the last one (a rare huge one is not read ahead).
    ByteCursor window = file_window(
        std::clamp(expected_spectrum_size_, spectrum_header_size + marker_size, max_read_ahead));
    const SpectrumHeader header = read_spectrum_header(window);
    if (wavelength_count) {
        if (header.x_stored) {
            throw FormatError("expected a spectrum without stored x values (read with the function's wavelengths)",
                              header.offset);
        }
        if (header.count != *wavelength_count) {
            throw FormatError("expected a spectrum of " + std::to_string(*wavelength_count) +
                                  " points (one per wavelength), found " + std::to_string(header.count),
                              header.offset);
        }
    } else if (!header.x_stored) {
        throw FormatError("expected a spectrum with stored x values (one without them needs the function's "
                          "wavelengths)",
                          header.offset);
    }
    check_spectrum_sizes(header, file_->size());
    // Charged once per function naming it (see name_spectrum_index_block); saturating, as the
    // budget refuses anything near the limit of the type anyway.
    const auto namers = spectrum_namers_.find(static_cast<std::int64_t>(header.offset));
    const std::uint64_t times = namers == spectrum_namers_.end() ? 1 : namers->second;
    const std::uint64_t decoded_size = header.decoded_size();
    const std::uint64_t charged = decoded_size > UINT64_MAX / times ? UINT64_MAX : decoded_size * times;
    spectrum_budget_.charge(header.offset, charged, file_->size());

    const std::size_t stored_with_marker = std::size_t{header.stored_size} + marker_size;
    expected_spectrum_size_ = spectrum_header_size + stored_with_marker;
    last_spectrum_compressed_ = header.compressed();
    const std::uint8_t* stored = window.data() + spectrum_header_size;
    if (window.consumed() + window.remaining() < expected_spectrum_size_) {
        std::uint8_t* rest = stored_.reserve(stored_with_marker);
        file_->read_exact(header.payload_offset(), stored_with_marker, rest);
        stored = rest;
    }
    ByteCursor end = ByteCursor::file(stored + header.stored_size, marker_size,
                                      header.payload_offset() + header.stored_size);
    read_marker(end, Marker::end_spectrum);

    const std::uint8_t* decoded = stored;
    if (header.compressed()) {
        decompressor_.decompress(stored, header.stored_size, header.payload_offset(), decoded_, header.decoded_size());
        decoded = decoded_.data();
    }
    position_ = header.payload_offset() + header.stored_size + marker_size;
    return {header, decoded};
}

void FileReader::claim_spectrum_position(std::int64_t position) {
    if (!block_spectra_) return;
    if (!block_spectra_->insert(static_cast<std::uint64_t>(position))) {
        throw FormatError("expected each spectrum of a function at a position of its own, found a second "
                          "spectrum index entry naming the spectrum",
                          static_cast<std::uint64_t>(position));
    }
    if (current_block_namers_ > 1) {
        std::uint64_t& namers = spectrum_namers_[position];
        namers = std::max(namers, current_block_namers_);
    }
}

bool FileReader::remember_condition_count(std::int64_t block_position, std::optional<std::uint32_t> count) {
    const auto [known, added] = condition_counts_.try_emplace(block_position, count);
    return added || known->second == count;
}

void FileReader::name_spectrum_index_block(std::int64_t block_position, std::size_t record_at) {
    block_namers_[block_position].emplace(frame_offset_, record_at);
}

}  // namespace ozra::core
