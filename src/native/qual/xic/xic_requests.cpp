#include "qual/xic/xic_requests.hpp"

#include "python/entry.hpp"
#include "qual/conditions/acquisition_condition.hpp"
#include "qual/exact_numbers.hpp"
#include "qual/qual_module.hpp"
#include "storage/api/storage_api.hpp"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace ozra::qual {
namespace {

bool is_native_range(PyObject* range) {
    return Py_TYPE(range) == storage::value_types_api().value_range;
}

// The retention-time pre-filter: the smallest `min` and the largest `max` of the
// requests' ranges, compared with the interpreter's `>` and `<`.
class PreFilterBounds {
public:
    void fold(PyObject* range) {
        py::Ref low = py::get_attr(range, state().names.min);
        py::Ref high = py::get_attr(range, state().names.max);
        if (!low_ || py::compare(low_.get(), low.get(), Py_GT)) low_ = std::move(low);
        if (!high_ || py::compare(high_.get(), high.get(), Py_LT)) high_ = std::move(high);
    }
    void drop() { unlimited_ = true; }

    RangeTest build() const {
        if (unlimited_) return RangeTest();
        py::Ref value_range = global(state().names.ValueRange);
        PyObject* args[] = {low_.get(), high_.get()};
        return RangeTest(py::Ref::checked(PyObject_Vectorcall(value_range.get(), args, 2, nullptr)));
    }

private:
    py::Ref low_;
    py::Ref high_;
    bool unlimited_ = false;
};

// Sorts the requests' conditions into groups (by identity) and classes (equal plain conditions).
class ConditionGroups {
public:
    ConditionGroups() : plain_classes_(py::Ref::checked(PyDict_New())) {}

    std::size_t group_of(PyObject* condition, XicRequests& gathered) {
        if (auto found = by_identity_.find(condition); found != by_identity_.end()) return found->second;
        const std::size_t group = gathered.group_conditions.size();
        const bool plain = is_plain_condition(condition);
        std::size_t first_equal = group;
        if (plain) {
            PyObject* known = PyDict_GetItemWithError(plain_classes_.get(), condition);
            if (known != nullptr) {
                first_equal = PyLong_AsSize_t(known);
            } else {
                if (PyErr_Occurred()) py::throw_error();
                py::Ref number = py::Ref::checked(PyLong_FromSize_t(group));
                py::check(PyDict_SetItem(plain_classes_.get(), condition, number.get()));
            }
        }
        gathered.group_conditions.push_back(py::Ref::borrow(condition));
        gathered.group_class.push_back(first_equal);
        gathered.group_plain.push_back(plain ? 1 : 0);
        gathered.all_plain = gathered.all_plain && plain;
        by_identity_.emplace(condition, group);
        return group;
    }

private:
    // Keyed by borrowed pointers: XicRequests::group_conditions keeps each condition alive.
    std::unordered_map<PyObject*, std::size_t> by_identity_;
    py::Ref plain_classes_;  // plain condition -> its class's first group
};

void read_window(XicRequest& request) {
    request.window = py::Ref::steal(PyObject_GetAttr(request.option.get(), state().names.extract_mz_range));
    if (request.window) request.low_object = py::Ref::steal(PyObject_GetAttr(request.window.get(), state().names.min));
    if (request.low_object) request.high_object = py::Ref::steal(PyObject_GetAttr(request.window.get(), state().names.max));
    if (!request.high_object) {
        // A missing attribute is reported by the scan when a peak is compared, as
        // reading it there would; any other error is the caller's at once.
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) py::throw_error();
        PyErr_Clear();
        return;
    }
    const auto low = exact_double(request.low_object.get());
    const auto high = exact_double(request.high_object.get());
    if (low && high && !std::isnan(*low) && !std::isnan(*high)) {
        request.on_doubles = true;
        request.low = *low;
        request.high = *high;
    }
}

}  // namespace

RangeTest::RangeTest(py::Ref range) : range_(std::move(range)) {
    if (!is_native_range(range_.get())) return;
    auto* fields = reinterpret_cast<storage::ValueRangeObject*>(range_.get());
    const auto low = exact_double(fields->min);
    const auto high = exact_double(fields->max);
    if (!low || !high) return;
    on_doubles_ = true;
    low_ = *low;
    high_ = *high;
}

bool RangeTest::contains(PyObject* value) const {
    if (!range_) return true;
    if (on_doubles_ && PyFloat_CheckExact(value)) {
        const double v = PyFloat_AS_DOUBLE(value);
        return low_ <= v && v <= high_;
    }
    py::Ref inside = py::Ref::checked(PyObject_CallMethodOneArg(range_.get(), state().names.contains_value, value));
    return py::is_true(inside.get());
}

void RangeIndex::add(double low, double high, std::size_t request) { entries_.push_back({low, high, request}); }

void RangeIndex::finish() {
    // A NaN bound holds nothing: such a range is never found.
    std::erase_if(entries_, [](const Entry& e) { return std::isnan(e.low) || std::isnan(e.high); });
    std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) { return a.low < b.low; });
    for (std::size_t start = 0; start < entries_.size(); start += block) {
        const std::size_t end = std::min(start + block, entries_.size());
        double high = entries_[start].high;
        for (std::size_t k = start + 1; k < end; ++k) high = std::max(high, entries_[k].high);
        block_high_.push_back(high);
    }
}

void RangeIndex::find(double value, std::vector<std::size_t>& found) const {
    const auto below = std::upper_bound(entries_.begin(), entries_.end(), value,
                                        [](double v, const Entry& e) { return v < e.low; });
    const std::size_t count = static_cast<std::size_t>(below - entries_.begin());  // those with low <= value
    for (std::size_t start = 0; start < count; start += block) {
        if (block_high_[start / block] < value) continue;
        for (std::size_t k = start; k < std::min(start + block, count); ++k) {
            if (value <= entries_[k].high) found.push_back(entries_[k].request);
        }
    }
}

XicRequests gather_requests(PyObject* options) {
    if (py::equals_none(options) || py::length(options) == 0) {
        py::raise_exception("chromatogram_filter_options is null or empty");
    }
    const Py_ssize_t count = py::length(options);
    XicRequests gathered;
    gathered.conditions = py::Ref::checked(PySet_New(nullptr));
    gathered.requests.reserve(static_cast<std::size_t>(count));
    PreFilterBounds pre_filter;
    ConditionGroups groups;
    for (Py_ssize_t i = 0; i < count; ++i) {
        py::Ref position = py::from_size(i);
        py::Ref option = py::Ref::checked(PyObject_GetItem(options, position.get()));
        if (py::equals_none(option.get())) py::raise_exception("element of chromatogram_filter_options should not be null");
        py::Ref condition = py::get_attr(option.get(), state().names.acquisition_condition);
        if (py::equals_none(condition.get())) py::raise_exception("acquisition_condition should not be null");
        py::check(PySet_Add(gathered.conditions.get(), condition.get()));
        py::Ref range = py::get_attr(option.get(), state().names.retention_time_range);
        const bool no_range = py::equals_none(range.get());
        if (no_range) {
            pre_filter.drop();
        } else {
            pre_filter.fold(range.get());
        }

        XicRequest request;
        request.option = std::move(option);
        request.group = groups.group_of(condition.get(), gathered);
        if (py::not_equals_none(range.get())) request.retention_time = RangeTest(std::move(range));
        read_window(request);
        const std::size_t j = gathered.requests.size();
        if (gathered.group_plain[request.group] && request.retention_time.on_doubles()) {
            gathered.by_range.add(request.retention_time.low(), request.retention_time.high(), j);
        } else {
            gathered.unindexed.push_back(j);
        }
        gathered.requests.push_back(std::move(request));
    }
    gathered.by_range.finish();
    gathered.pre_filter = pre_filter.build();
    return gathered;
}

}  // namespace ozra::qual
