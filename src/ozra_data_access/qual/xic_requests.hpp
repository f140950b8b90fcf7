// The requests of one extracted-ion chromatogram call, read once and checked.
#pragma once

#include "ref.hpp"

#include <cstddef>
#include <optional>
#include <vector>

namespace ozra::qual {

// The number as a C double, when comparisons against that double give exactly the
// interpreter's comparisons against the number: floats, and ints that convert
// without rounding. Anything else (other types, ints beyond 2**53) gives nothing.
std::optional<double> exact_double(PyObject* number);

// `range.contains_value(value)`, or always true without a range. For the native
// ValueRange with bounds that are exact doubles and a float value that is not NaN,
// the test runs on doubles (the native method compares the same way); every other
// case calls the range's own method.
class RangeTest {
public:
    RangeTest() = default;
    explicit RangeTest(py::Ref range);

    bool limited() const { return static_cast<bool>(range_); }
    bool contains(PyObject* value) const;

private:
    py::Ref range_;
    bool on_doubles_ = false;
    double low_ = 0.0;
    double high_ = 0.0;
};

struct XicRequest {
    py::Ref condition;         // acquisition_condition
    std::size_t group = 0;     // the request's condition group (see XicRequests)
    RangeTest retention_time;  // unlimited when the request's range is None
    py::Ref window;            // extract_mz_range
    // Bounds read from the window; empty when reading them failed, in which case the
    // scan reads them when it first compares a peak, so the error surfaces there.
    py::Ref low_object;
    py::Ref high_object;
    // Both bounds exact doubles and not NaN: the request takes part in the sorted
    // sweep over a points buffer. Others are scanned with the interpreter's comparisons.
    bool on_doubles = false;
    double low = 0.0;
    double high = 0.0;
};

struct XicRequests {
    std::vector<XicRequest> requests;  // in request order
    // One condition per group. Requests share a group when their conditions are the
    // same object, or are both exactly the module's AcquisitionCondition and compare
    // equal: that class's `!=` is the negation of a field-by-field `==`, so equal
    // conditions give the same answer against any spectrum's condition.
    std::vector<py::Ref> group_conditions;
    py::Ref conditions;     // set of every requested condition
    RangeTest pre_filter;   // unlimited when some request has no retention-time range
    std::vector<std::size_t> sweep_order;  // requests on doubles, by increasing (low, high)
};

// Validates and reads `chromatogram_filter_options`, raising the call's messages in
// the order of its checks, request by request.
XicRequests gather_requests(PyObject* chromatogram_filter_options);

}  // namespace ozra::qual
