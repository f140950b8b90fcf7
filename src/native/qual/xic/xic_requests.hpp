// The requests of one extracted-ion chromatogram call, read once and checked.
#pragma once

#include "python/ref.hpp"
#include "qual/exact_numbers.hpp"

#include <cstddef>
#include <optional>
#include <vector>

namespace ozra::qual {

// `range.contains_value(value)`, or always true without a range. For the native
// ValueRange with bounds that are exact doubles and a float value, the test runs on
// doubles (the native method compares the same way); every other case calls the
// range's own method.
class RangeTest {
public:
    RangeTest() = default;
    explicit RangeTest(py::Ref range);

    bool contains(PyObject* value) const;
    // No range: every value is inside, without a test.
    bool unlimited() const { return !range_; }

    // The range is the native one with exact double bounds: a float is tested
    // against low() and high() without a call.
    bool on_doubles() const { return on_doubles_; }
    double low() const { return low_; }
    double high() const { return high_; }

private:
    py::Ref range_;
    bool on_doubles_ = false;
    double low_ = 0.0;
    double high_ = 0.0;
};

// Requests by retention-time range, to find those whose range holds a retention
// time without testing the others: ranges sorted by lower bound, with the largest
// upper bound of each block of them.
class RangeIndex {
public:
    void add(double low, double high, std::size_t request);
    void finish();
    bool empty() const { return entries_.empty(); }
    // Appends the requests whose range holds `value` (not NaN), in no set order.
    void find(double value, std::vector<std::size_t>& found) const;

private:
    static constexpr std::size_t block = 64;
    struct Entry {
        double low;
        double high;
        std::size_t request;
    };
    std::vector<Entry> entries_;
    std::vector<double> block_high_;
};

struct XicRequest {
    py::Ref option;            // the request itself
    std::size_t group = 0;     // its condition's group (see XicRequests)
    RangeTest retention_time;  // unlimited when the request's range is None
    // extract_mz_range and its bounds, each empty when reading it failed: the scan
    // reads it again when it first compares a peak, so the error surfaces there.
    py::Ref window;
    py::Ref low_object;
    py::Ref high_object;
    // Both bounds exact doubles and not NaN: the window is scanned natively over a
    // points buffer. Others are scanned with the interpreter's comparisons.
    bool on_doubles = false;
    double low = 0.0;
    double high = 0.0;
};

struct XicRequests {
    std::vector<XicRequest> requests;  // in request order
    // The distinct condition objects of the requests, in order of first use: a
    // spectrum's condition is compared once per group, not once per request.
    std::vector<py::Ref> group_conditions;
    // Per group, the first group whose condition equals its own when both are plain
    // (is_plain_condition), else the group itself. Equal plain conditions give the
    // same answer against a plain spectrum condition, so such a class of groups needs
    // one comparison.
    std::vector<std::size_t> group_class;
    std::vector<char> group_plain;  // per group: its condition is plain
    bool all_plain = true;          // every requested condition is plain
    py::Ref conditions;             // set of every requested condition
    RangeTest pre_filter;           // unlimited when some request has no retention-time range
    // For a spectrum with a plain condition and a float retention time, a request with
    // a plain condition and a range on doubles raises nothing and has no side effect
    // when it is tested, so only those whose range holds the retention time are
    // visited, found in `by_range`; the others (in `unindexed`, in order) always are.
    RangeIndex by_range;
    std::vector<std::size_t> unindexed;
};

// Validates and reads `chromatogram_filter_options`, raising the call's messages in
// the order of its checks, request by request.
XicRequests gather_requests(PyObject* chromatogram_filter_options);

}  // namespace ozra::qual
