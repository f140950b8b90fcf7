#include "storage/description_check.hpp"

#include "core/tagged_values.hpp"
#include "core/utf8.hpp"
#include "schema/format_schema.hpp"
#include "storage/imports.hpp"
#include "storage/records.hpp"
#include "storage/storage_module.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <optional>

namespace ozra::storage {
namespace {

namespace spectrum = schema::internal_spectrum_description;

std::uint64_t bits_of(double value) noexcept {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

bool is_nan_bits(std::uint8_t tag, std::uint64_t bits) noexcept {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return tag == schema::float_tag && std::isnan(value);
}

// A Builder of core::TaggedDecoder that keeps the fields of the outermost record.
struct CheckedValues {
    using Value = CheckedValue;

    std::array<CheckedField, std::size(schema::internal_spectrum_description_fields)> fields{};
    bool record_made = false;
    std::uint64_t last_upper_bits = 0;  // of the range made last

    static Value scalar(std::uint8_t tag, std::uint64_t bits) {
        Value value;
        value.tag = tag;
        value.bits = bits;
        return value;
    }

    Value none() { return {}; }
    Value integer(std::int64_t value) { return scalar(schema::integer_tag, static_cast<std::uint64_t>(value)); }
    Value real(double value) { return scalar(schema::float_tag, bits_of(value)); }
    Value boolean(bool value) { return scalar(schema::boolean_tag, value); }
    std::optional<Value> string(const char* utf8, std::size_t size) {
        if (!core::is_valid_utf8(utf8, size)) return std::nullopt;
        return scalar(schema::string_tag, 0);
    }
    Value range(Value min, Value max) {
        Value value;
        value.tag = schema::range_tag;
        value.bound_tags[0] = min.tag;
        value.bound_tags[1] = max.tag;
        value.bits = min.bits;
        last_upper_bits = max.bits;
        return value;
    }
    Value enumeration(std::uint8_t number, std::int32_t value) {
        return scalar(schema::enumeration_tag, (std::uint64_t{number} << 32) | static_cast<std::uint32_t>(value));
    }
    Value mapping() { return scalar(schema::mapping_tag, 0); }
    void add_pair(Value&, Value, Value) {}
    Value list(std::uint32_t) { return scalar(schema::list_tag, 0); }
    void set_item(Value&, std::uint32_t, Value) {}
    Value float_array(const std::uint8_t*, std::uint32_t) { return scalar(schema::float_array_tag, 0); }
    Value record(schema::RecordKind) {
        Value value = scalar(schema::record_tag, 0);
        value.top = !record_made;
        record_made = true;
        return value;
    }
    void set_field(Value& record, int position, Value value) {
        if (record.top) {
            fields[static_cast<std::size_t>(position)] = {value, value.tag == schema::range_tag ? last_upper_bits : 0};
        }
    }
};

CheckedValues check(core::ByteCursor& cursor) {
    CheckedValues values;
    core::TaggedDecoder<CheckedValues>(cursor, values).record(schema::RecordKind::internal_spectrum_description);
    return values;
}

void keep_number(SpectrumSummary& summary, SpectrumSummary::Field field, const CheckedValue& value) {
    StoredKind& kind = summary.kinds[field];
    switch (value.tag) {
        case schema::none_tag: kind = StoredKind::none; break;
        case schema::integer_tag:
            kind = StoredKind::integer;
            summary.values[field].integer = static_cast<long long>(value.bits);
            break;
        case schema::float_tag:
            kind = StoredKind::real;
            std::memcpy(&summary.values[field].real, &value.bits, sizeof(double));
            break;
        default: kind = StoredKind::other; break;
    }
}

// Values whose equal bits make equal objects: never NaN, and nothing made anew
// with contents of its own (strings compare equal, but they are not needed here).
bool keyable(const CheckedField& field) {
    const CheckedValue& value = field.value;
    switch (value.tag) {
        case schema::none_tag:
        case schema::integer_tag:
        case schema::boolean_tag:
        case schema::enumeration_tag: return true;
        case schema::float_tag: return !is_nan_bits(value.tag, value.bits);
        case schema::range_tag:
            return !is_nan_bits(value.bound_tags[0], value.bits) && !is_nan_bits(value.bound_tags[1], field.upper_bits);
        default: return false;
    }
}

constexpr int condition_fields[] = {spectrum::ms_level,        spectrum::polarity,       spectrum::collision_energy,
                                    spectrum::mass_range,      spectrum::precursor_range, spectrum::precursor_value,
                                    spectrum::is_profile_spectrum_measured};
static_assert(std::size(condition_fields) == std::size(ConditionValues{}.fields));

// Whether the values tell the condition; its key appended to `key` when given.
bool condition_key_of(const CheckedValues& values, std::string* key) {
    // A cone voltage adds a condition decided by the supplemental properties' keys.
    if (values.fields[spectrum::cone_voltage].value.tag != schema::none_tag) return false;
    constexpr std::size_t value_key_size =
        1 + sizeof CheckedValue::bound_tags + sizeof CheckedValue::bits + sizeof CheckedField::upper_bits;
    char bytes[std::size(condition_fields) * value_key_size];
    char* next = bytes;
    for (int position : condition_fields) {
        const CheckedField& field = values.fields[position];
        if (!keyable(field)) return false;
        *next++ = static_cast<char>(field.value.tag);
        next = std::copy_n(reinterpret_cast<const char*>(field.value.bound_tags), sizeof field.value.bound_tags, next);
        next = std::copy_n(reinterpret_cast<const char*>(&field.value.bits), sizeof field.value.bits, next);
        next = std::copy_n(reinterpret_cast<const char*>(&field.upper_bits), sizeof field.upper_bits, next);
    }
    if (key != nullptr) key->append(bytes, static_cast<std::size_t>(next - bytes));
    return true;
}

}  // namespace

SpectrumSummary check_spectrum_description(core::ByteCursor& cursor) {
    const CheckedValues values = check(cursor);
    SpectrumSummary summary{};
    const std::pair<SpectrumSummary::Field, int> kept[] = {
        {SpectrumSummary::index, spectrum::index},
        {SpectrumSummary::retention_time, spectrum::retention_time},
        {SpectrumSummary::acquisition_condition_index, spectrum::acquisition_condition_index},
        {SpectrumSummary::current_total_ion, spectrum::current_total_ion},
        {SpectrumSummary::base_peak_intensity, spectrum::base_peak_intensity},
        {SpectrumSummary::base_peak_mz, spectrum::base_peak_mz},
    };
    for (const auto& [field, position] : kept) keep_number(summary, field, values.fields[position].value);
    summary.condition_keyed = condition_key_of(values, nullptr);
    return summary;
}

bool spectrum_condition_key(core::ByteCursor& cursor, std::string& key, ConditionValues& values) {
    key.clear();
    const CheckedValues checked = check(cursor);
    if (!condition_key_of(checked, &key)) return false;
    for (std::size_t i = 0; i < std::size(condition_fields); ++i) values.fields[i] = checked.fields[condition_fields[i]];
    return true;
}

namespace {

// The object decoding makes for a keyable value.
py::Ref object_of(std::uint8_t tag, std::uint64_t bits) {
    double real;
    std::memcpy(&real, &bits, sizeof real);
    switch (tag) {
        case schema::integer_tag: return py::from_long(static_cast<long long>(bits));
        case schema::float_tag: return py::from_double(real);
        case schema::boolean_tag: return py::Ref::boolean(bits != 0);
        case schema::enumeration_tag:
            return py::Ref::borrow(enumeration_member(static_cast<std::uint8_t>(bits >> 32),
                                                      static_cast<std::int32_t>(static_cast<std::uint32_t>(bits))));
        default: return py::Ref::none();
    }
}

py::Ref object_of(const CheckedField& field) {
    const CheckedValue& value = field.value;
    if (value.tag != schema::range_tag) return object_of(value.tag, value.bits);
    return new_value_range(object_of(value.bound_tags[0], value.bits),
                           object_of(value.bound_tags[1], field.upper_bits));
}

}  // namespace

py::Ref condition_fields_record(const ConditionValues& values) {
    py::Ref record =
        new_record(state().descriptions[static_cast<std::size_t>(schema::RecordKind::internal_spectrum_description)]);
    for (std::size_t i = 0; i < std::size(condition_fields); ++i) {
        set_record_field(record.get(), condition_fields[i], object_of(values.fields[i]));
    }
    return record;
}

bool is_condition_field(int position) noexcept {
    return std::find(std::begin(condition_fields), std::end(condition_fields), position) != std::end(condition_fields);
}

}  // namespace ozra::storage
