// libFuzzer target of the format layer alone. The input is the body of a file
// behind a valid header; it is read as a run of spectra (the read-ahead of one
// spectrum sized by the last), as a frame of primitives, as a spectrum index
// block, and, as a frame's content, as a run of description records. Any
// exception other than FormatError, and any decoded spectrum or record that
// breaks the documented guarantees, is a crash.
#include "core/file_reader.hpp"
#include "core/tagged_values.hpp"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace ozra::core;

constexpr std::uint8_t header[file_header_size] = {
    0x89, 'O', 'Z', 'R', 'A', 0x0D, 0x0A, 0x1A, 0x0A,  // magic
    1, 0, 0, 0, 0, 0,                                  // format version 1.0.0
    0, 0, 0, 0, 0, 0,                                  // converter version
    file_header_size, 0, 0, 0, 0, 0, 0, 0,             // jump table position
};

[[noreturn]] void crash(const std::string& what) {
    std::fprintf(stderr, "core_fuzzer: %s\n", what.c_str());
    std::abort();
}

const std::string scratch_path = "/dev/shm/ozra-core-fuzzer-" + std::to_string(::getpid()) + ".ozra";

void write_file(const std::uint8_t* data, std::size_t size) {
    const int fd = ::open(scratch_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) crash("cannot create " + scratch_path);
    bool written = ::write(fd, header, sizeof header) == static_cast<ssize_t>(sizeof header) &&
                   (size == 0 || ::write(fd, data, size) == static_cast<ssize_t>(size));
    ::close(fd);
    if (!written) crash("cannot write " + scratch_path);
}

std::uint32_t peek_u32(const std::uint8_t* data, std::size_t size, std::uint64_t file_offset) {
    const std::uint64_t at = file_offset - file_header_size;
    if (file_offset < file_header_size || at + 4 > size) return 0;
    return load_le<std::uint32_t>(data + at);
}

bool peek_x_stored(const std::uint8_t* data, std::size_t size, std::uint64_t file_offset) {
    const std::uint64_t at = file_offset - file_header_size + 5;
    return file_offset < file_header_size || at >= size || data[at] == 0;
}

// Spectra one after another, as an analysis reads a function's spectra in order.
void read_spectra(FileReader& reader, const std::uint8_t* data, std::size_t size) {
    std::vector<double> wavelengths;
    std::vector<PointPair> points;
    reader.set_position(file_header_size);
    for (int i = 0; i < 8 && reader.position() < file_header_size + size; ++i) {
        const std::uint64_t at = reader.position();
        std::optional<std::size_t> wavelength_count;
        if (!peek_x_stored(data, size, at)) {
            // As many wavelengths as the header claims, within reason; a different count is refused.
            wavelengths.resize(std::min<std::uint32_t>(peek_u32(data, size, at + 8), 1u << 16));
            for (std::size_t w = 0; w < wavelengths.size(); ++w) wavelengths[w] = 190.0 + static_cast<double>(w);
            wavelength_count = wavelengths.size();
        }
        const FileReader::LoadedSpectrum loaded = reader.load_spectrum(wavelength_count);
        if (loaded.header.decoded_size() > max_compression_ratio * (std::uint64_t{loaded.header.stored_size} + 1)) {
            crash("a spectrum decoded beyond the ratio bound");
        }
        points.resize(loaded.header.count);
        decode_points(loaded.header, loaded.decoded, wavelength_count ? wavelengths.data() : nullptr, points.data());
        for (std::size_t p = 0; p < points.size(); ++p) {
            if (std::isnan(points[p].x) || (p > 0 && points[p].x < points[p - 1].x)) {
                crash("decoded x values that are NaN or decrease");
            }
        }
        if (reader.position() != loaded.header.payload_offset() + loaded.header.stored_size + marker_size) {
            crash("the position is not behind the spectrum just read");
        }
    }
}

// A frame read as a sequence of primitives up to its end.
void read_frame(FileReader& reader) {
    reader.set_position(file_header_size);
    reader.enter_frame();
    ByteCursor& cursor = reader.frame_cursor();
    if (cursor.remaining() > max_compression_ratio * reader.file()->size()) {
        crash("a frame decompressed beyond the ratio bound");
    }
    std::vector<std::int64_t> elements;
    for (int i = 0; !cursor.at_end() && i < 64; ++i) {
        switch (read_count(cursor, "a selector") % 3) {
            case 0: read_bool(cursor, "a bool"); break;
            case 1: read_i64_array(cursor, elements); break;
            default: cursor.take(cursor.u8("a length"), "some bytes"); break;
        }
    }
    reader.leave_frame();
}

// A spectrum index block in the order the analyses read it.
void read_spectrum_index_block(FileReader& reader) {
    reader.set_position(file_header_size);
    reader.expect_marker(Marker::begin_spectrum_index_block);
    const std::uint32_t count = reader.read_u32();
    const bool has_profile = reader.read_bool();
    if (reader.read_i64_array().size() != count) crash("a position array that does not match the block's count");
    if (has_profile && reader.read_i64_array().size() != count) {
        crash("a profile position array that does not match the block's count");
    }
    reader.enter_frame();
    reader.leave_frame();
    reader.expect_marker(Marker::end_spectrum_index_block);
}

// Values that are nothing but the checks a builder relies on: a list's items
// set once each, in order, within its length; record fields within the record;
// enumeration values that are members.
struct CheckedValues {
    struct Value {
        std::uint32_t size = 0;  // of a list; of a record, its field count
        std::uint32_t next = 0;  // the next item of a list
    };

    Value none() { return {}; }
    Value integer(std::int64_t) { return {}; }
    Value real(double) { return {}; }
    Value boolean(bool) { return {}; }
    std::optional<Value> string(const char*, std::size_t) { return Value{}; }
    Value range(Value, Value) { return {}; }
    Value enumeration(std::uint8_t number, std::int32_t value) {
        if (number < 1 || number > ozra::schema::enumeration_count) crash("an enumeration number beyond the tables");
        for (const auto& member : ozra::schema::enumerations[number - 1].members) {
            if (member.value == value) return {};
        }
        crash("an enumeration value that names no member");
    }
    Value mapping() { return {}; }
    void add_pair(Value&, Value, Value) {}
    Value list(std::uint32_t size) { return {size, 0}; }
    void set_item(Value& list, std::uint32_t index, Value) {
        if (index != list.next++ || index >= list.size) crash("a list item out of order or beyond the list");
    }
    Value float_array(const std::uint8_t*, std::uint32_t) { return {}; }
    Value record(ozra::schema::RecordKind kind) {
        return {static_cast<std::uint32_t>(ozra::schema::records[static_cast<std::size_t>(kind)].fields.size()), 0};
    }
    void set_field(Value& record, int position, Value) {
        if (position < 0 || static_cast<std::uint32_t>(position) >= record.size) crash("a field beyond its record");
    }
};

// The body read as a frame's content: records of any kind, one after another.
void read_records(const std::uint8_t* data, std::size_t size) {
    ByteCursor cursor = ByteCursor::decompressed(data, size, file_header_size);
    CheckedValues values;
    for (int i = 0; !cursor.at_end() && i < 64; ++i) TaggedDecoder<CheckedValues>(cursor, values).any_record();
}

template <class Read>
void refused_or_read(FileReader& reader, Read read) {
    try {
        read(reader);
    } catch (const FormatError&) {
    } catch (const std::exception& error) {
        crash(std::string("an exception other than FormatError: ") + error.what());
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::atexit([] { ::unlink(scratch_path.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    write_file(data, size);
    FileReader reader(scratch_path);
    refused_or_read(reader, [&](FileReader& r) { read_spectra(r, data, size); });
    refused_or_read(reader, read_frame);
    refused_or_read(reader, read_spectrum_index_block);
    refused_or_read(reader, [&](FileReader&) { read_records(data, size); });
    return 0;
}
