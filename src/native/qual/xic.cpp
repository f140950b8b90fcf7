// QualAnalysis.get_multiple_xic: every request served by one pass over the spectra.
#include "xic.hpp"

#include "acquisition_condition.hpp"
#include "allow_threads.hpp"
#include "analysis_common.hpp"
#include "entry.hpp"
#include "qual_module.hpp"
#include "spectrum_walk.hpp"
#include "storage_api.hpp"
#include "xic_requests.hpp"
#include "xic_scan.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <optional>
#include <vector>

namespace ozra::qual {
namespace {

constexpr std::size_t no_class = static_cast<std::size_t>(-1);

// A spectrum that some request may use, with what the pass needs of its description.
struct Candidate {
    py::Ref spectrum_index;
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

// The spectra with a retention time, a requested condition and a retention time
// inside the pre-filter, in spectrum order; tested in that order.
// Conditions' own __eq__ and __hash__ run here, so the list and its records are held.
std::vector<Candidate> pre_filter(py::Ref spectra, const XicRequests& requests) {
    const storage::ValueTypesApi& storage = storage::value_types_api();
    std::vector<Candidate> candidates;
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
    });
    return candidates;
}

// `request.acquisition_condition != spectrum's condition`, decided once per group of
// one spectrum, and once per class of groups when the spectrum's condition is plain.
class ConditionTest {
public:
    explicit ConditionTest(const XicRequests& requests)
        : requests_(requests), known_(requests.group_conditions.size()) {}

    void start(const Candidate& candidate) {
        candidate_ = &candidate;
        std::fill(known_.begin(), known_.end(), -1);
    }

    bool matches(std::size_t group) {
        const Candidate& candidate = *candidate_;
        if (candidate.equal_class != no_class) return requests_.group_class[group] == candidate.equal_class;
        const std::size_t asked = candidate.plain ? requests_.group_class[group] : group;
        signed char& known = known_[asked];
        if (known < 0) {
            known = py::not_equals(requests_.group_conditions[asked].get(), candidate.condition.get()) ? 0 : 1;
        }
        return known != 0;
    }

private:
    const XicRequests& requests_;
    const Candidate* candidate_ = nullptr;
    std::vector<signed char> known_;  // per group: -1 not asked yet, else the answer
};

py::Ref read_points(PyObject* reader, const Candidate& candidate) {
    py::Ref position = candidate.position ? candidate.position.copy()
                                          : py::get_attr(candidate.spectrum_index.get(), state().names.spectrum_index_position);
    const storage::ReaderHold hold(reader);
    py::Ref moved = py::Ref::checked(PyObject_CallMethodOneArg(reader, state().names.set_buffer, position.get()));
    return py::Ref::checked(PyObject_CallMethodNoArgs(reader, state().names.read_spectrum));
}

// The requests a spectrum is tested against, in request order: all of them, or, when
// the spectrum's condition is plain and its retention time a float, those outside
// the range index and those whose range the index finds holding the retention time.
class RequestsToVisit {
public:
    explicit RequestsToVisit(const XicRequests& requests) : requests_(requests) {}

    void start(const Candidate& candidate) {
        PyObject* rt = candidate.retention_time.get();
        indexed_ = !requests_.by_range.empty() && candidate.plain && PyFloat_CheckExact(rt);
        if (!indexed_) return;
        visit_ = requests_.unindexed;
        const auto first_found = static_cast<std::ptrdiff_t>(visit_.size());
        requests_.by_range.find(PyFloat_AS_DOUBLE(rt), visit_);
        std::sort(visit_.begin() + first_found, visit_.end());
        std::inplace_merge(visit_.begin(), visit_.begin() + first_found, visit_.end());
    }
    std::size_t size() const { return indexed_ ? visit_.size() : requests_.requests.size(); }
    std::size_t operator[](std::size_t k) const { return indexed_ ? visit_[k] : k; }

private:
    const XicRequests& requests_;
    bool indexed_ = false;
    std::vector<std::size_t> visit_;
};

py::Ref make_point(const ChromatogramPoints& points, PyObject* index, const Candidate& candidate,
                   const WindowSum& window) {
    return points.make(index, candidate.retention_time.get(), window.sum, window.base_mz);
}

// A window of one spectrum whose sum is taken after the spectrum's tests.
struct DeferredWindow {
    std::size_t request;
    double low, high;
    WindowSum sum;
};

// From this many windows of one spectrum on, their sums take longer than handing
// the interpreter lock to a waiting thread and back (see the storage layer's reads).
constexpr std::size_t released_window_count = 32;

void sum_windows(const PointBuffer& buffer, std::vector<DeferredWindow>& windows, double lowest) {
    for (DeferredWindow& window : windows) {
        window.sum = window_sum(buffer.points(), buffer.size(), window.low, window.high, lowest);
    }
}

}  // namespace

py::Ref get_multiple_xic(PyObject* analysis, PyObject* chromatogram_filter_options) {
    const XicRequests requests = gather_requests(chromatogram_filter_options);
    AnalysisObject* fields = as_analysis(analysis);
    const std::vector<Candidate> candidates = pre_filter(py::Ref::borrow(fields->spectrum_index_list), requests);
    const std::size_t count = requests.requests.size();
    std::vector<std::vector<py::Ref>> built(count);  // made into lists once complete

    const double lowest = -largest_finite_double();
    ConditionTest condition_test(requests);
    RequestsToVisit visit(requests);
    const ChromatogramPoints points;
    std::vector<DeferredWindow> deferred;
    py::SignalCheck signals;
    for (const Candidate& candidate : candidates) {
        signals.tick();
        py::Ref spectrum = read_points(fields->reader, candidate);
        PointBuffer buffer;
        const bool native = buffer.acquire(spectrum.get());
        // Windows over the storage layer's own points, whose points are made without a
        // Python call, are summed after the tests, together, with the interpreter lock
        // released: nothing another thread does can change them.
        const bool defer = native && points.native() && candidate.index &&
                           Py_IS_TYPE(spectrum.get(), storage::value_types_api().spectrum_points);
        deferred.clear();
        std::optional<GenericPoints> records;
        condition_test.start(candidate);
        visit.start(candidate);
        py::Ref index = candidate.index.copy();
        // Request by request, as the rule runs, so that the first error met is the rule's.
        for (std::size_t k = 0; k < visit.size(); ++k) {
            const std::size_t j = visit[k];
            const XicRequest& request = requests.requests[j];
            if (!condition_test.matches(request.group)) continue;
            if (!request.retention_time.contains(candidate.retention_time.get())) continue;
            if (defer && request.on_doubles) {
                deferred.push_back({j, request.low, request.high, {}});
                continue;
            }
            WindowSum window;
            if (native && request.on_doubles) {
                window = window_sum(buffer.points(), buffer.size(), request.low, request.high, lowest);
            } else {
                if (!records) records.emplace(spectrum.get(), native ? &buffer : nullptr);
                window = records->scan(request, lowest);
            }
            if (!index) index = py::get_attr(candidate.description.get(), state().names.desc_index);
            built[j].push_back(make_point(points, index.get(), candidate, window));
        }
        if (deferred.empty()) continue;
        py::run_released_if(deferred.size() >= released_window_count,
                            [&] { sum_windows(buffer, deferred, lowest); });
        for (const DeferredWindow& window : deferred) {
            built[window.request].push_back(make_point(points, index.get(), candidate, window.sum));
        }
    }
    py::Ref results = py::new_list(static_cast<Py_ssize_t>(count));
    for (std::size_t j = 0; j < count; ++j) {
        py::Ref chromatogram = py::new_list(static_cast<Py_ssize_t>(built[j].size()));
        for (std::size_t k = 0; k < built[j].size(); ++k) PyList_SET_ITEM(chromatogram.get(), k, built[j][k].release());
        PyList_SET_ITEM(results.get(), j, chromatogram.release());
    }
    return results;
}

}  // namespace ozra::qual

namespace ozra::qual {
namespace {

// A request's window over doubles, for the sweep.
struct SweptWindow {
    std::size_t request;
    double low, high;
};

bool increasing_without_nan(const storage::Point* points, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
        if (std::isnan(points[k].x) || (k > 0 && points[k].x < points[k - 1].x)) return false;
    }
    return true;
}

// The sums of the windows (sorted by lower bound) into row[request]. Over points in
// increasing x the first peak of each window follows the previous one's, so one pass
// finds them all: the same peaks as window_sum's binary search, summed in the same
// order. Other points are searched window by window.
void sweep_windows(const storage::Point* points, std::size_t count, const std::vector<SweptWindow>& windows,
                   double lowest, double* row) {
    if (!increasing_without_nan(points, count)) {
        for (const SweptWindow& window : windows) {
            row[window.request] = window_sum(points, count, window.low, window.high, lowest).sum;
        }
        return;
    }
    std::size_t first = 0;
    for (const SweptWindow& window : windows) {
        while (first < count && points[first].x < window.low) ++first;
        double sum = 0.0;
        for (std::size_t k = first; k < count && !(points[k].x > window.high); ++k) sum = sum + points[k].intensity;
        row[window.request] = sum;
    }
}

template <class Value>
Value* column_data(const py::Ref& bytes) {
    return reinterpret_cast<Value*>(PyByteArray_AS_STRING(bytes.get()));
}

py::Ref new_column(std::size_t count, std::size_t item_size) {
    return py::Ref::checked(PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(count * item_size)));
}

}  // namespace

py::Ref get_xic_matrix(PyObject* analysis, PyObject* chromatogram_filter_options) {
    const XicRequests requests = gather_requests(chromatogram_filter_options);
    AnalysisObject* fields = as_analysis(analysis);
    const std::vector<Candidate> candidates = pre_filter(py::Ref::borrow(fields->spectrum_index_list), requests);
    const std::size_t rows = requests.requests.size();
    const std::size_t columns = candidates.size();
    if (columns != 0 && rows > static_cast<std::size_t>(PY_SSIZE_T_MAX) / sizeof(double) / columns) throw std::bad_alloc();

    // Spectrum by spectrum, so each spectrum fills one contiguous run of the matrix:
    // laid out as (spectra, requests), handed out transposed.
    py::Ref intensity = new_column(rows * columns, sizeof(double));
    py::Ref retention_time = new_column(columns, sizeof(double));
    py::Ref spectrum_index = new_column(columns, sizeof(long long));
    double* matrix = column_data<double>(intensity);
    std::fill(matrix, matrix + rows * columns, std::numeric_limits<double>::quiet_NaN());

    std::vector<SweptWindow> swept;
    for (std::size_t j = 0; j < rows; ++j) {
        const XicRequest& request = requests.requests[j];
        if (request.on_doubles) swept.push_back({j, request.low, request.high});
    }
    std::stable_sort(swept.begin(), swept.end(), [](const SweptWindow& a, const SweptWindow& b) { return a.low < b.low; });
    std::vector<std::size_t> rank(rows);  // each swept request's place in that order
    for (std::size_t k = 0; k < swept.size(); ++k) rank[swept[k].request] = k;
    std::vector<SweptWindow> used;  // those a spectrum uses, in the same order

    const double lowest = -largest_finite_double();
    ConditionTest condition_test(requests);
    RequestsToVisit visit(requests);
    py::SignalCheck signals;
    for (std::size_t c = 0; c < columns; ++c) {
        signals.tick();
        const Candidate& candidate = candidates[c];
        double* row = matrix + c * rows;
        column_data<double>(retention_time)[c] = py::as_double(candidate.retention_time.get());
        py::Ref index = candidate.index ? candidate.index.copy()
                                        : py::get_attr(candidate.description.get(), state().names.desc_index);
        const long long index_value = PyLong_AsLongLong(index.get());
        if (index_value == -1 && PyErr_Occurred()) py::throw_error();
        column_data<long long>(spectrum_index)[c] = index_value;

        py::Ref spectrum = read_points(fields->reader, candidate);
        PointBuffer buffer;
        const bool native = buffer.acquire(spectrum.get());
        std::optional<GenericPoints> records;
        condition_test.start(candidate);
        visit.start(candidate);
        used.clear();
        // The tests and the scans that run Python code go request by request, as for
        // the point lists, so that the first error met is the same.
        for (std::size_t k = 0; k < visit.size(); ++k) {
            const std::size_t j = visit[k];
            const XicRequest& request = requests.requests[j];
            if (!condition_test.matches(request.group)) continue;
            if (!request.retention_time.contains(candidate.retention_time.get())) continue;
            if (native && request.on_doubles) {
                used.push_back(swept[rank[j]]);
                continue;
            }
            if (!records) records.emplace(spectrum.get(), native ? &buffer : nullptr);
            row[j] = records->scan(request, lowest).sum;
        }
        if (used.empty()) continue;
        if (used.size() < swept.size()) {
            std::sort(used.begin(), used.end(),
                      [&](const SweptWindow& a, const SweptWindow& b) { return rank[a.request] < rank[b.request]; });
        } else {
            used = swept;  // every window, already in order
        }
        // The storage layer's own points and a matrix not handed out yet: no other thread reaches them.
        const bool release = used.size() >= released_window_count &&
                             Py_IS_TYPE(spectrum.get(), storage::value_types_api().spectrum_points);
        py::run_released_if(release, [&] { sweep_windows(buffer.points(), buffer.size(), used, lowest, row); });
    }
    py::Ref request_count = py::from_size(static_cast<Py_ssize_t>(rows));
    return py::Ref::checked(
        PyTuple_Pack(4, retention_time.get(), spectrum_index.get(), intensity.get(), request_count.get()));
}

}  // namespace ozra::qual
