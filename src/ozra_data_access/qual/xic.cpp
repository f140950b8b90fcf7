// QualAnalysis.get_multiple_xic: every request served by one pass over the spectra.
#include "xic.hpp"

#include "analysis_common.hpp"
#include "names.hpp"
#include "xic_requests.hpp"
#include "xic_scan.hpp"

#include <vector>

namespace ozra::qual {
namespace {

// A spectrum that some request may use, with what the pass needs of its description.
struct Candidate {
    PyObject* spectrum_index;  // borrowed from the analysis's list
    py::Ref description;
    py::Ref retention_time;
    py::Ref condition;
};

// The spectra with a retention time, a requested condition and a retention time
// inside the pre-filter, in spectrum order; tested in that order.
std::vector<Candidate> pre_filter(PyObject* spectra, const XicRequests& requests) {
    std::vector<Candidate> candidates;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(spectra); ++i) {
        PyObject* spectrum_index = PyList_GET_ITEM(spectra, i);
        py::Ref description = description_of(spectrum_index);
        py::Ref rt = py::get_attr(description.get(), names::desc_retention_time);
        if (!py::not_equals_none(rt.get())) continue;
        py::Ref condition = py::get_attr(description.get(), names::desc_acquisition_condition);
        const int requested = PySet_Contains(requests.conditions.get(), condition.get());
        py::check(requested);
        if (!requested || !requests.pre_filter.contains(rt.get())) continue;
        candidates.push_back({spectrum_index, std::move(description), std::move(rt), std::move(condition)});
    }
    return candidates;
}

// Which requests use this spectrum: its condition compared once per condition group,
// when the first request of the group asks, then each request's own range.
void select_requests(const Candidate& candidate, const XicRequests& requests, std::vector<signed char>& group_match,
                     std::vector<char>& wanted) {
    std::fill(group_match.begin(), group_match.end(), -1);
    for (std::size_t j = 0; j < requests.requests.size(); ++j) {
        const XicRequest& request = requests.requests[j];
        signed char& match = group_match[request.group];
        if (match < 0) {
            match = py::not_equals(requests.group_conditions[request.group].get(), candidate.condition.get()) ? 0 : 1;
        }
        wanted[j] = match && request.retention_time.contains(candidate.retention_time.get());
    }
}

py::Ref read_points(PyObject* reader, PyObject* spectrum_index) {
    py::Ref position = py::get_attr(spectrum_index, names::spectrum_index_position);
    py::Ref moved = py::Ref::checked(PyObject_CallMethodOneArg(reader, names::set_buffer, position.get()));
    return py::Ref::checked(PyObject_CallMethodNoArgs(reader, names::read_spectrum));
}

// The window sums of every wanted request: natively over a points buffer for the
// requests whose bounds are doubles, through the records for everything else.
void scan_spectrum(PyObject* spectrum, const XicRequests& requests, const std::vector<char>& wanted, double lowest,
                   std::vector<WindowSum>& sums) {
    PointBuffer buffer;
    const bool native = buffer.acquire(spectrum);
    if (native) sweep_windows(buffer.points(), buffer.size(), requests, wanted, lowest, sums);
    GenericPoints records(spectrum, native ? &buffer : nullptr);
    for (std::size_t j = 0; j < requests.requests.size(); ++j) {
        if (!wanted[j] || (native && requests.requests[j].on_doubles)) continue;
        sums[j] = records.scan(requests.requests[j], lowest);
    }
}

}  // namespace

py::Ref get_multiple_xic(PyObject* analysis, PyObject* chromatogram_filter_options) {
    const XicRequests requests = gather_requests(chromatogram_filter_options);
    AnalysisObject* fields = as_analysis(analysis);
    const std::vector<Candidate> candidates = pre_filter(fields->spectrum_index_list, requests);
    const std::size_t count = requests.requests.size();
    py::Ref results = py::new_list(static_cast<Py_ssize_t>(count));
    for (std::size_t j = 0; j < count; ++j) PyList_SET_ITEM(results.get(), j, py::new_list().release());

    const double lowest = -largest_finite_double();
    std::vector<signed char> group_match(requests.group_conditions.size());
    std::vector<char> wanted(count);
    std::vector<WindowSum> sums(count);
    for (const Candidate& candidate : candidates) {
        py::Ref spectrum = read_points(fields->reader, candidate.spectrum_index);
        select_requests(candidate, requests, group_match, wanted);
        scan_spectrum(spectrum.get(), requests, wanted, lowest, sums);
        py::Ref index = py::get_attr(candidate.description.get(), names::desc_index);
        for (std::size_t j = 0; j < count; ++j) {
            if (!wanted[j]) continue;
            py::Ref sum = py::from_double(sums[j].sum);
            py::Ref base_mz = py::from_double(sums[j].base_mz);
            py::Ref point = make_chromatogram_point(index.get(), candidate.retention_time.get(), sum.get(), base_mz.get());
            py::append(PyList_GET_ITEM(results.get(), j), point.get());
        }
    }
    return results;
}

}  // namespace ozra::qual
