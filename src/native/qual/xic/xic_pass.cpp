#include "qual/xic/xic_pass.hpp"

#include "python/entry.hpp"
#include "qual/conditions/acquisition_condition.hpp"
#include "qual/qual_module.hpp"
#include "qual/spectrum_walk.hpp"

#include <algorithm>
#include <optional>
#include <unordered_map>

namespace ozra::qual {
namespace {

// The class of groups whose plain condition equals the plain `condition`, or
// no_class. Plain equality is transitive and agrees with the hash, so this is the
// set's own answer, and no other class can equal it too.
std::size_t equal_class(PyObject* condition, const XicRequests& requests) {
    for (std::size_t group = 0; group < requests.group_class.size(); ++group) {
        if (requests.group_class[group] != group) continue;
        if (!py::not_equals(requests.group_conditions[group].get(), condition)) return group;
    }
    return no_class;
}

// The class of groups a plain condition pending in records not built yet equals
// (no_class for none), or nothing when the condition is not plain: asked once per
// pending object, each held here so that no other object takes its address while the
// walk runs code (a range's own test may build descriptions, which drop what is pending).
class PendingClasses {
public:
    explicit PendingClasses(const XicRequests& requests) : requests_(requests) {}

    std::optional<std::size_t> operator()(PyObject* pending) {
        const auto known = answers_.find(pending);
        if (known != answers_.end()) return known->second.answer;
        std::optional<std::size_t> answer;
        if (is_plain_condition(pending)) answer = equal_class(pending, requests_);
        answers_.emplace(pending, Answer{py::Ref::borrow(pending), answer});
        return answer;
    }

private:
    struct Answer {
        py::Ref held;
        std::optional<std::size_t> answer;
    };
    const XicRequests& requests_;
    std::unordered_map<PyObject*, Answer> answers_;
};

// The spectra with a retention time, a requested condition and a retention time
// inside the pre-filter, in spectrum order; tested in that order.
// Conditions' own __eq__ and __hash__ run here, so the list and its records are held.
std::vector<Candidate> pre_filter(py::Ref spectra, const XicRequests& requests) {
    const storage::ValueTypesApi& storage = storage::value_types_api();
    std::vector<Candidate> candidates;
    PendingClasses pending_classes(requests);
    // A record whose description is not built yet, its condition a plain object or
    // one made like it (an equal condition), is answered from its C values when every
    // requested condition is plain too: nothing asked can run code.
    const auto from_summary = [&](Py_ssize_t i) {
        if (!requests.all_plain) return false;
        const storage::PendingSpectrum pending_spectrum = storage.pending_at(spectra.get(), i);
        const storage::SpectrumSummary* summary = pending_spectrum.summary;
        if (summary == nullptr) return false;
        const storage::PendingCondition kind = pending_spectrum.condition_kind;
        if (kind != storage::PendingCondition::object && kind != storage::PendingCondition::made_like) return false;
        const py::Ref pending = py::Ref::borrow(pending_spectrum.condition);
        py::Ref rt = summary->object(storage::SpectrumSummary::retention_time);
        py::Ref index = summary->object(storage::SpectrumSummary::index);
        if (!rt || !index) return false;
        const std::optional<std::size_t> found = pending_classes(pending.get());
        if (!found) return false;
        if (!differs_from_none(rt.get()) || *found == no_class || !requests.pre_filter.contains(rt.get())) return true;
        py::Ref spectrum_index;  // not made for its position alone
        py::Ref position;
        if (pending_spectrum.unmade_position) {
            position = py::from_long(*pending_spectrum.unmade_position);
        } else {
            spectrum_index = spectrum_index_at(spectra.get(), i);
            position = py::get_attr(spectrum_index.get(), state().names.spectrum_index_position);
        }
        candidates.push_back({std::move(spectrum_index), py::Ref(), std::move(rt), pending.copy(),
                              std::move(position), std::move(index), true, *found});
        return true;
    };
    for_each_timed_spectrum(spectra.get(), differs_from_none, [&](const TimedSpectrum& spectrum) {
        py::Ref spectrum_index = py::Ref::borrow(spectrum.spectrum_index);
        py::Ref description = py::Ref::borrow(spectrum.description);
        py::Ref rt = py::Ref::borrow(spectrum.retention_time);
        py::Ref condition = py::get_attr(description.get(), state().names.desc_acquisition_condition);
        const bool plain = is_plain_condition(condition.get());
        std::size_t found = no_class;
        if (plain && requests.all_plain) {
            found = equal_class(condition.get(), requests);
            if (found == no_class) return;
        } else {
            const int requested = PySet_Contains(requests.conditions.get(), condition.get());
            py::check(requested);
            if (!requested) return;
        }
        if (!requests.pre_filter.contains(rt.get())) return;
        py::Ref position;
        py::Ref index;
        if (Py_TYPE(spectrum_index.get()) == storage.spectrum_index &&
            Py_TYPE(description.get()) == storage.internal_spectrum_description) {
            position = py::get_attr(spectrum_index.get(), state().names.spectrum_index_position);
            index = py::get_attr(description.get(), state().names.desc_index);
        }
        candidates.push_back({std::move(spectrum_index), std::move(description), std::move(rt), std::move(condition),
                              std::move(position), std::move(index), plain, found});
    }, from_summary);
    return candidates;
}

}  // namespace

void ConditionTest::start(const Candidate& candidate) {
    candidate_ = &candidate;
    std::fill(known_.begin(), known_.end(), -1);
}

bool ConditionTest::matches_by_comparison(const Candidate& candidate, std::size_t group) {
    const std::size_t asked = candidate.plain ? requests_.group_class[group] : group;
    signed char& known = known_[asked];
    if (known < 0) known = py::not_equals(requests_.group_conditions[asked].get(), candidate.condition.get()) ? 0 : 1;
    return known != 0;
}

void RequestsToVisit::start(const Candidate& candidate, bool skip_fixed) {
    skip_fixed_ = skip_fixed;
    PyObject* rt = candidate.retention_time.get();
    indexed_ = !requests_.by_range.empty() && candidate.plain && PyFloat_CheckExact(rt);
    if (!indexed_) return;
    visit_ = skip_fixed ? unindexed_not_fixed_ : requests_.unindexed;
    const auto first_found = static_cast<std::ptrdiff_t>(visit_.size());
    requests_.by_range.find(PyFloat_AS_DOUBLE(rt), visit_);
    std::sort(visit_.begin() + first_found, visit_.end());
    std::inplace_merge(visit_.begin(), visit_.begin() + first_found, visit_.end());
}

XicPass::XicPass(PyObject* analysis, PyObject* chromatogram_filter_options)
    : fields_(as_analysis(analysis)),
      requests_(gather_requests(chromatogram_filter_options)),
      candidates_(pre_filter(py::Ref::borrow(fields_->spectrum_index_list), requests_)),
      lowest_(-largest_finite_double()),
      condition_test_(requests_),
      visit_(requests_, not_fixed_, unindexed_not_fixed_) {
    const std::vector<XicRequest>& requests = requests_.requests;
    for (std::size_t j = 0; j < requests.size(); ++j) {
        if (requests[j].on_doubles) swept_.push_back({j, requests[j].low, requests[j].high});
    }
    std::stable_sort(swept_.begin(), swept_.end(), [](const SweptWindow& a, const SweptWindow& b) { return a.low < b.low; });
    rank_.resize(requests.size());
    for (std::size_t k = 0; k < swept_.size(); ++k) rank_[swept_[k].request] = k;

    std::vector<char> fixed(requests.size(), 0);
    bool any_fixed = false;
    if (requests_.all_plain) {
        fixed_ranks_.resize(requests_.group_conditions.size());
        fixed_.resize(requests_.group_conditions.size());
        for (std::size_t k = 0; k < swept_.size(); ++k) {
            const std::size_t j = swept_[k].request;
            if (!requests[j].retention_time.unlimited()) continue;
            const std::size_t group_class = requests_.group_class[requests[j].group];
            fixed_ranks_[group_class].push_back(k);
            fixed_[group_class].push_back(swept_[k]);
            fixed[j] = 1;
            any_fixed = true;
        }
    }
    if (!any_fixed) {
        fixed_ranks_.clear();
        fixed_.clear();
    }
    for (std::size_t j = 0; j < requests.size(); ++j) {
        if (!fixed[j]) not_fixed_.push_back(j);
    }
    for (std::size_t j : requests_.unindexed) {
        if (!fixed[j]) unindexed_not_fixed_.push_back(j);
    }
}

py::Ref XicPass::read_points(const Candidate& candidate) const {
    py::Ref position = candidate.position ? candidate.position.copy()
                                          : py::get_attr(candidate.spectrum_index.get(), state().names.spectrum_index_position);
    return read_spectrum_points(fields_->reader, position.get(), nullptr);
}

bool XicPass::takes_every_request(const Candidate& candidate) const {
    return takes_fixed(candidate, true) && fixed_[candidate.equal_class].size() == requests_.requests.size();
}

std::size_t XicPass::fixed_window_count() const {
    std::size_t count = 0;
    if (fixed_.empty()) return count;
    for (const Candidate& candidate : candidates_) {
        if (candidate.equal_class != no_class) count += fixed_[candidate.equal_class].size();
    }
    return count;
}

const std::vector<SweptWindow>& XicPass::windows_to_sweep(const Candidate& candidate, bool fixed) {
    if (fixed) {
        if (used_ranks_.empty()) return fixed_[candidate.equal_class];
        const std::vector<std::size_t>& ranks = fixed_ranks_[candidate.equal_class];
        used_ranks_.insert(used_ranks_.end(), ranks.begin(), ranks.end());
    }
    if (used_ranks_.size() == swept_.size()) return swept_;  // every window, already in order
    std::sort(used_ranks_.begin(), used_ranks_.end());
    used_.clear();
    for (std::size_t rank : used_ranks_) used_.push_back(swept_[rank]);
    return used_;
}

}  // namespace ozra::qual
