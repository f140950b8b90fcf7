#include "xic_requests.hpp"

#include "entry.hpp"
#include "names.hpp"
#include "qual_module.hpp"
#include "value_types.hpp"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace ozra::qual {
namespace {

bool is_native_range(PyObject* range) {
    return Py_TYPE(range) == py::value_types_api().value_range;
}

// The retention-time pre-filter: the smallest `min` and the largest `max` of the
// requests' ranges, compared with the interpreter's `>` and `<`.
class PreFilterBounds {
public:
    void fold(PyObject* range) {
        py::Ref low = py::get_attr(range, names::min);
        py::Ref high = py::get_attr(range, names::max);
        if (!low_ || py::compare(low_.get(), low.get(), Py_GT)) low_ = std::move(low);
        if (!high_ || py::compare(high_.get(), high.get(), Py_LT)) high_ = std::move(high);
    }
    void drop() { unlimited_ = true; }

    RangeTest build() const {
        if (unlimited_) return RangeTest();
        PyObject* value_range = module_name(names::ValueRange);
        PyObject* args[] = {low_.get(), high_.get()};
        return RangeTest(py::Ref::checked(PyObject_Vectorcall(value_range, args, 2, nullptr)));
    }

private:
    py::Ref low_;
    py::Ref high_;
    bool unlimited_ = false;
};

class ConditionGroups {
public:
    ConditionGroups() : equal_classes_(py::Ref::checked(PyDict_New())) {}

    std::size_t group_of(PyObject* condition, std::vector<py::Ref>& representatives) {
        if (auto found = by_identity_.find(condition); found != by_identity_.end()) return found->second;
        std::size_t group = representatives.size();
        if (Py_TYPE(condition) == reinterpret_cast<PyTypeObject*>(module_name(names::AcquisitionCondition))) {
            PyObject* known = PyDict_GetItemWithError(equal_classes_.get(), condition);
            if (known != nullptr) {
                group = PyLong_AsSize_t(known);
            } else {
                if (PyErr_Occurred()) py::throw_error();
                py::Ref number = py::Ref::checked(PyLong_FromSize_t(group));
                py::check(PyDict_SetItem(equal_classes_.get(), condition, number.get()));
            }
        }
        if (group == representatives.size()) representatives.push_back(py::Ref::borrow(condition));
        by_identity_.emplace(condition, group);
        return group;
    }

private:
    // Keyed by borrowed pointers: each request keeps its condition alive (XicRequest::condition).
    std::unordered_map<PyObject*, std::size_t> by_identity_;
    py::Ref equal_classes_;
};

XicRequest read_window(XicRequest request) {
    request.low_object = py::Ref::steal(PyObject_GetAttr(request.window.get(), names::min));
    if (request.low_object) request.high_object = py::Ref::steal(PyObject_GetAttr(request.window.get(), names::max));
    if (!request.low_object || !request.high_object) {
        // Reported by the scan when a peak is compared, as reading the bound there would.
        PyErr_Clear();
        request.low_object = py::Ref();
        request.high_object = py::Ref();
        return request;
    }
    const auto low = exact_double(request.low_object.get());
    const auto high = exact_double(request.high_object.get());
    if (low && high && !std::isnan(*low) && !std::isnan(*high)) {
        request.on_doubles = true;
        request.low = *low;
        request.high = *high;
    }
    return request;
}

}  // namespace

std::optional<double> exact_double(PyObject* number) {
    if (PyFloat_CheckExact(number)) return PyFloat_AS_DOUBLE(number);
    if (!PyLong_CheckExact(number)) return std::nullopt;
    const double value = PyLong_AsDouble(number);
    if (value == -1.0 && PyErr_Occurred()) {
        PyErr_Clear();  // too large for a double: compared by the interpreter instead
        return std::nullopt;
    }
    py::Ref back = py::from_double(value);
    if (!py::compare(number, back.get(), Py_EQ)) return std::nullopt;
    return value;
}

RangeTest::RangeTest(py::Ref range) : range_(std::move(range)) {
    if (!is_native_range(range_.get())) return;
    auto* fields = reinterpret_cast<py::ValueRangeObject*>(range_.get());
    const auto low = exact_double(fields->min);
    const auto high = exact_double(fields->max);
    if (!low || !high) return;
    on_doubles_ = true;
    low_ = *low;
    high_ = *high;
}

bool RangeTest::contains(PyObject* value) const {
    if (!range_) return true;
    // A NaN value could be the very bound object, which the native method's
    // comparisons accept by identity: left to the method.
    if (on_doubles_ && PyFloat_CheckExact(value) && !std::isnan(PyFloat_AS_DOUBLE(value))) {
        const double v = PyFloat_AS_DOUBLE(value);
        return low_ <= v && v <= high_;
    }
    py::Ref inside = py::Ref::checked(PyObject_CallMethodOneArg(range_.get(), names::contains_value, value));
    return py::is_true(inside.get());
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
        py::Ref condition = py::get_attr(option.get(), names::acquisition_condition);
        if (py::equals_none(condition.get())) py::raise_exception("acquisition_condition should not be null");
        py::check(PySet_Add(gathered.conditions.get(), condition.get()));
        py::Ref range = py::get_attr(option.get(), names::retention_time_range);
        const bool no_range = py::equals_none(range.get());
        if (no_range) {
            pre_filter.drop();
        } else {
            pre_filter.fold(range.get());
        }

        XicRequest request;
        request.group = groups.group_of(condition.get(), gathered.group_conditions);
        request.condition = std::move(condition);
        if (py::not_equals_none(range.get())) request.retention_time = RangeTest(std::move(range));
        request.window = py::get_attr(option.get(), names::extract_mz_range);
        gathered.requests.push_back(read_window(std::move(request)));
    }
    gathered.pre_filter = pre_filter.build();

    for (std::size_t j = 0; j < gathered.requests.size(); ++j) {
        if (gathered.requests[j].on_doubles) gathered.sweep_order.push_back(j);
    }
    const auto& requests = gathered.requests;
    std::stable_sort(gathered.sweep_order.begin(), gathered.sweep_order.end(), [&](std::size_t a, std::size_t b) {
        return requests[a].low < requests[b].low || (requests[a].low == requests[b].low && requests[a].high < requests[b].high);
    });
    return gathered;
}

}  // namespace ozra::qual
