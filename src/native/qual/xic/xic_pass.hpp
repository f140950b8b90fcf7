// The pass over an analysis's spectra that get_multiple_xic and get_xic_matrix share:
// the requests, the spectra some request may use, and the tests of one spectrum
// against the requests, which hand out the windows to sum.
#pragma once

#include "python/ref.hpp"
#include "qual/analysis_common.hpp"
#include "qual/xic/xic_requests.hpp"
#include "qual/xic/xic_scan.hpp"
#include "storage/api/storage_api.hpp"

#include <cmath>
#include <cstddef>
#include <optional>
#include <vector>

namespace ozra::qual {

inline constexpr std::size_t no_class = static_cast<std::size_t>(-1);

// A spectrum that some request may use, with what the pass needs of its description.
struct Candidate {
    py::Ref spectrum_index;  // empty for a spectrum whose record is not made: its position given
    // Empty for a record whose description is not built yet: its values come from the
    // record's C values, and its condition is the plain one pending (or one equal to it).
    py::Ref description;
    py::Ref retention_time;
    py::Ref condition;
    // Read here of the storage layer's own records, whose reads cannot fail or have
    // side effects, while the records are in the cache; else read when needed.
    py::Ref position;
    py::Ref index;
    bool plain;  // its condition is plain (is_plain_condition)
    // With every requested condition plain too: the one class of groups whose
    // condition equals it, or no_class when the set decided membership.
    std::size_t equal_class;
};

// A request's window over doubles, summed over native points.
struct SweptWindow {
    std::size_t request;
    double low, high;
};

// `request.acquisition_condition != spectrum's condition`, decided once per group of
// one spectrum, and once per class of groups when the spectrum's condition is plain.
class ConditionTest {
public:
    explicit ConditionTest(const XicRequests& requests)
        : requests_(requests), known_(requests.group_conditions.size()) {}

    void start(const Candidate& candidate);
    bool matches(std::size_t group) {
        const Candidate& candidate = *candidate_;
        if (candidate.equal_class != no_class) return requests_.group_class[group] == candidate.equal_class;
        return matches_by_comparison(candidate, group);
    }

private:
    bool matches_by_comparison(const Candidate& candidate, std::size_t group);

    const XicRequests& requests_;
    const Candidate* candidate_ = nullptr;
    std::vector<signed char> known_;  // per group: -1 not asked yet, else the answer
};

// The requests a spectrum is tested against one by one, in request order: all of them,
// or, when the spectrum's condition is plain and its retention time a float, those
// outside the range index and those whose range the index finds holding the retention
// time; less the fixed requests (see XicPass) when the pass takes those without a test.
class RequestsToVisit {
public:
    RequestsToVisit(const XicRequests& requests, const std::vector<std::size_t>& not_fixed,
                    const std::vector<std::size_t>& unindexed_not_fixed)
        : requests_(requests), not_fixed_(not_fixed), unindexed_not_fixed_(unindexed_not_fixed) {}

    void start(const Candidate& candidate, bool skip_fixed);
    std::size_t size() const {
        if (indexed_) return visit_.size();
        return skip_fixed_ ? not_fixed_.size() : requests_.requests.size();
    }
    std::size_t operator[](std::size_t k) const {
        if (indexed_) return visit_[k];
        return skip_fixed_ ? not_fixed_[k] : k;
    }

private:
    const XicRequests& requests_;
    const std::vector<std::size_t>& not_fixed_;
    const std::vector<std::size_t>& unindexed_not_fixed_;
    bool indexed_ = false;
    bool skip_fixed_ = false;
    std::vector<std::size_t> visit_;
};

// One call's requests and candidate spectra, and the tests of each spectrum.
//
// A fixed request has a plain condition, no retention-time range and a window on
// doubles. Whether a spectrum whose plain condition has a known class of groups
// (Candidate::equal_class) uses it depends on that class alone, and deciding it runs
// no Python code; so when such a spectrum's windows are swept, it takes the fixed
// requests of its class, already in sweep order, without testing them one by one.
class XicPass {
public:
    // Reads and checks the requests (gather_requests), then finds the candidates.
    XicPass(PyObject* analysis, PyObject* chromatogram_filter_options);
    XicPass(const XicPass&) = delete;
    XicPass& operator=(const XicPass&) = delete;

    const std::vector<Candidate>& candidates() const noexcept { return candidates_; }
    std::size_t request_count() const noexcept { return requests_.requests.size(); }
    // -sys.float_info.max: the base peak's start, below every finite intensity.
    double lowest() const noexcept { return lowest_; }
    // The candidate's points, read with the analysis's reader.
    py::Ref read_points(const Candidate& candidate) const;

    // Whether, with its windows swept, the candidate uses every request without a test.
    bool takes_every_request(const Candidate& candidate) const;
    // The fixed requests' windows of every candidate: what the sweeps sum at least
    // when every spectrum's points are native.
    std::size_t fixed_window_count() const;

    // Tests the candidate against the requests, in request order (so the first error
    // met and every Python call come as the rule runs them). Over native points
    // (`buffer` not null) a used window on doubles is kept for one sweep when `sweep`,
    // else summed at once; every other used request is scanned at once with the
    // interpreter's comparisons. scanned(request, WindowSum) gets each sum made at
    // once. Returns the windows to sweep, by lower bound (valid until the next test).
    template <class Scanned>
    const std::vector<SweptWindow>& test(const Candidate& candidate, PyObject* spectrum, const PointBuffer* buffer,
                                         bool sweep, Scanned&& scanned);

private:
    bool takes_fixed(const Candidate& candidate, bool sweep) const {
        return sweep && candidate.equal_class != no_class && !fixed_.empty();
    }
    const std::vector<SweptWindow>& windows_to_sweep(const Candidate& candidate, bool fixed);

    AnalysisObject* fields_;
    XicRequests requests_;
    std::vector<Candidate> candidates_;
    double lowest_;
    std::vector<SweptWindow> swept_;  // every request's window on doubles, by lower bound
    std::vector<std::size_t> rank_;   // each such request's place in swept_
    // By class of groups (its first group), when every requested condition is plain:
    // the fixed requests' places in swept_, in order, and their windows.
    std::vector<std::vector<std::size_t>> fixed_ranks_;
    std::vector<std::vector<SweptWindow>> fixed_;
    std::vector<std::size_t> not_fixed_;            // in request order
    std::vector<std::size_t> unindexed_not_fixed_;  // requests.unindexed less the fixed ones
    ConditionTest condition_test_;
    RequestsToVisit visit_;
    std::vector<std::size_t> used_ranks_;
    std::vector<SweptWindow> used_;
};

template <class Scanned>
const std::vector<SweptWindow>& XicPass::test(const Candidate& candidate, PyObject* spectrum,
                                              const PointBuffer* buffer, bool sweep, Scanned&& scanned) {
    const bool fixed = buffer != nullptr && takes_fixed(candidate, sweep);
    condition_test_.start(candidate);
    visit_.start(candidate, fixed);
    used_ranks_.clear();
    std::optional<GenericPoints> records;
    for (std::size_t k = 0; k < visit_.size(); ++k) {
        const std::size_t j = visit_[k];
        const XicRequest& request = requests_.requests[j];
        if (!condition_test_.matches(request.group)) continue;
        if (!request.retention_time.contains(candidate.retention_time.get())) continue;
        if (buffer != nullptr && request.on_doubles) {
            if (sweep) {
                used_ranks_.push_back(rank_[j]);
            } else {
                scanned(j, window_sum(buffer->points(), buffer->size(), request.low, request.high, lowest_));
            }
            continue;
        }
        if (!records) records.emplace(spectrum, buffer);
        scanned(j, records->scan(request, lowest_));
    }
    return windows_to_sweep(candidate, fixed);
}

// Sums the windows (sorted by lower bound) over the points, handing out(k, WindowSum)
// for windows[k]. Over points in increasing x (`increasing`, or found so) the first
// peak of each window follows the previous one's, so one pass finds them all: the
// same peaks as window_sum's binary search, summed in the same order. Other points
// are searched window by window.
template <class Out>
void sweep_windows(const PointBuffer& buffer, bool increasing, const std::vector<SweptWindow>& windows,
                   double lowest, Out&& out) {
    const storage::Point* points = buffer.points();
    const std::size_t count = buffer.size();
    if (!increasing) {
        increasing = true;
        for (std::size_t k = 0; k < count && increasing; ++k) {
            increasing = !std::isnan(points[k].x) && (k == 0 || !(points[k].x < points[k - 1].x));
        }
    }
    if (!increasing) {
        for (std::size_t k = 0; k < windows.size(); ++k) {
            out(k, window_sum(points, count, windows[k].low, windows[k].high, lowest));
        }
        return;
    }
    const storage::Point* end = points + count;
    const storage::Point* first = points;
    for (std::size_t k = 0; k < windows.size(); ++k) {
        while (first != end && first->x < windows[k].low) ++first;
        out(k, sum_from(first, end, windows[k].high, lowest));
    }
}

}  // namespace ozra::qual
