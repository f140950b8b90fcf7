// QualAnalysis: one qualitative MS analysis, its spectra, conditions, TIC and BPC.
#include "python/args.hpp"
#include "python/entry.hpp"
#include "python/gc_pause.hpp"
#include "python/object_fields.hpp"
#include "python/types.hpp"
#include "qual/analysis_type.hpp"
#include "qual/binned_map.hpp"
#include "qual/conditions/acquisition_condition.hpp"
#include "qual/conditions/analysis_conditions.hpp"
#include "qual/conditions/conditions_settler.hpp"
#include "qual/qual_module.hpp"
#include "qual/spectrum_walk.hpp"
#include "qual/xic/xic.hpp"
#include "storage/api/storage_api.hpp"

#include <unordered_map>

namespace ozra::qual {
namespace {

// ---- conditions settled on their first use -----------------------------------
//
// When every spectrum's description is not built yet and tells its condition by
// its values (so that making the conditions cannot fail), the conditions are made
// on their first use: the unique list read, a chromatogram, a description built.
// The same walk makes them then, over the same records, so they are the same.

// Whether the conditions wait for their first use (then the settler is set).
bool wait_for_first_use(PyObject* self) {
    const storage::ValueTypesApi& storage = storage::value_types_api();
    AnalysisObject* analysis = as_analysis(self);
    const py::Ref spectra = py::Ref::borrow(analysis->spectrum_index_list);
    const Py_ssize_t count = py::length(spectra.get());
    for (Py_ssize_t i = 0; i < count; ++i) {
        const storage::SpectrumSummary* summary = storage.pending_at(spectra.get(), i).summary;
        if (summary == nullptr || !summary->condition_keyed) return false;
    }
    py::Ref settler = new_conditions_settler(spectra.get());
    for (Py_ssize_t i = 0; i < count; ++i) {
        storage.set_pending_condition_at(spectra.get(), i, settler.get(), storage::PendingCondition::settle);
    }
    py::set_object_field(analysis->conditions_settler, std::move(settler));
    py::set_object_field(analysis->unique_acquisition_conditions, py::new_list());  // never handed out
    return true;
}

// Makes the conditions now if they wait for their first use, or takes those a
// description's first read made.
void settle_waiting_conditions(PyObject* self) {
    AnalysisObject* analysis = as_analysis(self);
    if (analysis->conditions_settler == nullptr) return;
    const py::Ref settler = py::Ref::borrow(analysis->conditions_settler);
    py::Ref::checked(PyObject_CallNoArgs(settler.get()));
    // A list read again since has its own settler; this thread's own walk has made none yet.
    if (analysis->conditions_settler != settler.get()) return;
    py::Ref conditions = settled_conditions(settler.get());
    if (!conditions) return;
    py::clear_field(analysis->conditions_settler);
    py::set_object_field(analysis->unique_acquisition_conditions, std::move(conditions));
}

void qual_dealloc(PyObject* self) {
    AnalysisObject* analysis = as_analysis(self);
    if (analysis->conditions_settler != nullptr) {
        release_if_unreachable(analysis->conditions_settler, analysis->spectrum_index_list);
    }
    py::dealloc_object_fields<AnalysisObject>(self);
}

void settle_acquisition_conditions(PyObject* self) {
    AnalysisObject* analysis = as_analysis(self);
    py::Ref description = qual_description_of(analysis->function_index);
    py::Ref stored = py::get_attr(description.get(), state().names.unique_acquisition_condition_list);
    py::clear_field(analysis->conditions_settler);
    if (!py::equals_none(stored.get())) {
        py::set_object_field(analysis->unique_acquisition_conditions,
                             conditions_from_stored_list(analysis->spectrum_index_list, stored.get()));
    } else if (!wait_for_first_use(self)) {
        py::set_object_field(analysis->unique_acquisition_conditions,
                             conditions_from_descriptions(analysis->spectrum_index_list));
    }
}

void read_analysis(PyObject* self) {
    read_spectrum_index_block(self, true);
    settle_acquisition_conditions(self);
}

PyObject* qual_create_instance(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&] {
        return create_analysis(cls, args, nargs, kwnames, {"QualAnalysis", state().names.qual_analysis_read, true});
    });
}

PyObject* qual_read(PyObject* self, PyObject*) {
    return py::guard([&] {
        read_analysis(self);
        return py::Ref::none();
    });
}

PyObject* qual_str(PyObject* self) {
    return py::guard([&] {
        py::Ref start = analysis_text_start(self);
        const Py_ssize_t count = py::length(py::get_attr(self, state().names.unique_acquisition_conditions).get());
        return py::Ref::checked(PyUnicode_FromFormat("%U, %zd spectrum conditions", start.get(), count));
    });
}

PyObject* qual_spectrum_index_list(PyObject* self, void*) {
    return py::guard([&] {
        // The list of the records, made once from a lazily read block.
        PyObject* spectra = as_analysis(self)->spectrum_index_list;
        return spectra ? py::Ref::checked(storage::value_types_api().spectrum_index_records(spectra)) : py::Ref::none();
    });
}

PyObject* qual_unique_acquisition_conditions(PyObject* self, void*) {
    return py::guard([&] {
        settle_waiting_conditions(self);
        return py::Ref::borrow(as_analysis(self)->unique_acquisition_conditions);
    });
}

PyObject* qual_get_spectrum(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&] {
        static const py::Parameters parameters("get_spectrum", {"index"}, 1);
        auto parsed = py::parse_arguments<1>(parameters, args, nargs, kwnames);
        const SpectrumKind kind{state().names.Spectrum, state().names.spectrum_create_instance, false};
        return py::Ref::checked(analysis_get_spectrum(self, parsed[0], kind));
    });
}

PyObject* qual_find_nearest_spectrum(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&] {
        static const py::Parameters parameters("find_nearest_spectrum", {"retention_time"}, 1);
        auto parsed = py::parse_arguments<1>(parameters, args, nargs, kwnames);
        return py::Ref::checked(analysis_find_nearest_spectrum(self, parsed[0]));
    });
}

// `retention_time_range == None`, asked at every spectrum that reaches the test. For
// None and the storage layer's ValueRange (never equal to None, and asked without
// effects) the answer is known before the loop.
class WholeRunTest {
public:
    explicit WholeRunTest(PyObject* range)
        : range_(range),
          known_(range == Py_None || Py_TYPE(range) == storage::value_types_api().value_range),
          whole_run_(range == Py_None) {}
    bool operator()() const { return known_ ? whole_run_ : py::equals_none(range_); }

private:
    PyObject* range_;
    bool known_;
    bool whole_run_;
};

// Whether a spectrum's condition, as a record not built yet will have it, equals a
// plain condition. A condition made like a plain one (PendingCondition::made_like) is
// equal to it, and plain equality is transitive: each pending object is asked once.
class PendingConditionTest {
public:
    explicit PendingConditionTest(PyObject* condition) : condition_(condition) {}

    bool operator()(PyObject* pending, storage::PendingCondition kind) {
        if (kind == storage::PendingCondition::none) return py::equals(Py_None, condition_);
        const auto known = answers_.find(pending);
        if (known != answers_.end()) return known->second;
        const bool equal = py::equals(pending, condition_);
        if (kind == storage::PendingCondition::made_like || is_plain_condition(pending)) answers_.emplace(pending, equal);
        return equal;
    }

private:
    PyObject* condition_;
    std::unordered_map<PyObject*, bool> answers_;  // the pending objects are held by the records
};

// The TIC and the BPC: one point per spectrum with a retention time, the given
// condition and (when given) a retention time inside the range, from the
// description's summary values; no points are read. Records whose description is
// not built yet are answered from their C values when nothing asked can run code: a
// plain condition, a range of the native class or none, points of the native class.
py::Ref summary_chromatogram(PyObject* self, PyObject* condition, PyObject* retention_time_range,
                             PyObject* intensity_field, storage::SpectrumSummary::Field intensity_number) {
    using storage::SpectrumSummary;
    settle_waiting_conditions(self);
    const storage::ValueTypesApi& storage = storage::value_types_api();
    const py::Ref spectra = py::Ref::borrow(as_analysis(self)->spectrum_index_list);
    const WholeRunTest whole_run(retention_time_range);
    const ChromatogramPoints points;
    const bool from_summaries = points.native() && is_plain_condition(condition) &&
                                (retention_time_range == Py_None ||
                                 Py_TYPE(retention_time_range) == storage.value_range);
    PendingConditionTest same_condition(condition);
    py::Ref result = py::new_list();
    // Ends the spectrum (true) or leaves it to the walk when a value is not a number.
    const auto from_summary = [&](Py_ssize_t i) {
        if (!from_summaries) return false;
        const storage::PendingSpectrum pending_spectrum = storage.pending_at(spectra.get(), i);
        const SpectrumSummary* summary = pending_spectrum.summary;
        if (summary == nullptr) return false;
        const storage::PendingCondition kind = pending_spectrum.condition_kind;
        PyObject* pending = pending_spectrum.condition;
        const py::Ref rt = summary->object(SpectrumSummary::retention_time);
        const py::Ref index = summary->object(SpectrumSummary::index);
        const py::Ref intensity = summary->object(intensity_number);
        const py::Ref mz = summary->object(SpectrumSummary::base_peak_mz);
        if (!rt || !index || !intensity || !mz || kind == storage::PendingCondition::settle) return false;
        if (!differs_from_none(rt.get()) || !same_condition(pending, kind)) return true;
        if (!whole_run()) {
            py::Ref inside = py::Ref::checked(
                PyObject_CallMethodOneArg(retention_time_range, state().names.contains_value, rt.get()));
            if (!py::is_true(inside.get())) return true;
        }
        py::append(result.get(), points.make(index.get(), rt.get(), intensity.get(), mz.get()).get());
        return true;
    };
    for_each_timed_spectrum(spectra.get(), differs_from_none, [&](const TimedSpectrum& spectrum) {
        PyObject* description = spectrum.description;
        py::Ref spectrum_condition = py::get_attr(description, state().names.desc_acquisition_condition);
        if (!py::equals(spectrum_condition.get(), condition)) return;
        if (!whole_run()) {
            py::Ref inside = py::Ref::checked(
                PyObject_CallMethodOneArg(retention_time_range, state().names.contains_value, spectrum.retention_time));
            if (!py::is_true(inside.get())) return;
        }
        py::Ref index = py::get_attr(description, state().names.desc_index);
        py::Ref intensity = py::get_attr(description, intensity_field);
        py::Ref mz = py::get_attr(description, state().names.desc_base_peak_mz);
        py::append(result.get(), make_chromatogram_point(index.get(), spectrum.retention_time, intensity.get(), mz.get()).get());
    }, from_summary);
    return result;
}

PyObject* qual_get_tic(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&] {
        static const py::Parameters parameters("get_tic", {"acquisition_condition", "retention_time_range"}, 1);
        auto parsed = py::parse_arguments<2>(parameters, args, nargs, kwnames);
        const py::GcPause pause;
        return summary_chromatogram(self, parsed[0], parsed.or_none(1), state().names.desc_current_total_ion,
                                    storage::SpectrumSummary::current_total_ion);
    });
}

PyObject* qual_get_bpc(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&] {
        static const py::Parameters parameters("get_bpc", {"acquisition_condition", "retention_time_range"}, 1);
        auto parsed = py::parse_arguments<2>(parameters, args, nargs, kwnames);
        const py::GcPause pause;
        return summary_chromatogram(self, parsed[0], parsed.or_none(1), state().names.desc_base_peak_intensity,
                                    storage::SpectrumSummary::base_peak_intensity);
    });
}

PyObject* qual_get_xic(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&] {
        static const py::Parameters parameters("get_xic", {"chromatogram_filter_option"}, 1);
        auto parsed = py::parse_arguments<1>(parameters, args, nargs, kwnames);
        if (py::equals_none(parsed[0])) py::raise_exception("chromatogram_filter_option is null");
        py::Ref requests = py::Ref::checked(PyList_New(1));
        PyList_SET_ITEM(requests.get(), 0, py::Ref::borrow(parsed[0]).release());
        const py::GcPause pause;
        py::Ref results = get_multiple_xic(self, requests.get());
        return py::Ref::checked(PySequence_GetItem(results.get(), 0));
    });
}

PyObject* qual_get_multiple_xic(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&] {
        static const py::Parameters parameters("get_multiple_xic", {"chromatogram_filter_options"}, 1);
        auto parsed = py::parse_arguments<1>(parameters, args, nargs, kwnames);
        const py::GcPause pause;
        return get_multiple_xic(self, parsed[0]);
    });
}

// The columns made natively, as the numpy arrays of ozra_data_access.arrays.XicMatrix.
PyObject* qual_get_xic_matrix(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return py::guard([&] {
        static const py::Parameters parameters("get_xic_matrix", {"chromatogram_filter_options"}, 1);
        auto parsed = py::parse_arguments<1>(parameters, args, nargs, kwnames);
        py::Ref columns = get_xic_matrix(self, parsed[0]);
        py::Ref arrays = py::Ref::checked(PyImport_ImportModule("ozra_data_access.arrays"));
        return py::call_method(arrays.get(), state().names.xic_matrix, PyTuple_GET_ITEM(columns.get(), 0),
                               PyTuple_GET_ITEM(columns.get(), 1), PyTuple_GET_ITEM(columns.get(), 2),
                               PyTuple_GET_ITEM(columns.get(), 3));
    });
}

// The long table of every point, built by ozra_data_access.export.tables from the native point columns.
PyObject* qual_to_arrow(PyObject* self, PyObject*) {
    return py::guard([&] {
        py::Ref tables = py::Ref::checked(PyImport_ImportModule("ozra_data_access.export.tables"));
        return py::call_method(tables.get(), state().names.qual_table, self);
    });
}

PyMethodDef qual_methods[] = {
    {"_QualAnalysis__create_instance", py::method_cast(qual_create_instance),
     METH_FASTCALL | METH_KEYWORDS | METH_CLASS,
     "Makes the analysis of a function index record and reads its spectrum index block."},
    {"_QualAnalysis__read", qual_read, METH_NOARGS, "Reads the spectrum index block and settles the conditions."},
    {"get_spectra_count", analysis_get_spectra_count, METH_NOARGS, "get_spectra_count()\n--\n\nThe number of spectra."},
    {"get_spectrum", py::method_cast(qual_get_spectrum),
     METH_FASTCALL | METH_KEYWORDS,
     "get_spectrum(index)\n--\n\nA new Spectrum for the spectrum at `index` (0 <= index < count)."},
    {"get_tic",
     py::method_cast(qual_get_tic),
     METH_FASTCALL | METH_KEYWORDS,
     "get_tic(acquisition_condition, retention_time_range=None)\n--\n\n"
     "The total-ion chromatogram of the spectra of one condition, optionally within a retention-time range."},
    {"get_bpc",
     py::method_cast(qual_get_bpc),
     METH_FASTCALL | METH_KEYWORDS,
     "get_bpc(acquisition_condition, retention_time_range=None)\n--\n\n"
     "The base-peak chromatogram of the spectra of one condition, optionally within a retention-time range."},
    {"get_xic", py::method_cast(qual_get_xic), METH_FASTCALL | METH_KEYWORDS,
     "get_xic(chromatogram_filter_option)\n--\n\nThe extracted-ion chromatogram of one request."},
    {"get_multiple_xic", py::method_cast(qual_get_multiple_xic),
     METH_FASTCALL | METH_KEYWORDS,
     "get_multiple_xic(chromatogram_filter_options)\n--\n\n"
     "The extracted-ion chromatograms of several requests, reading each needed spectrum once."},
    {"get_xic_matrix", py::method_cast(qual_get_xic_matrix), METH_FASTCALL | METH_KEYWORDS,
     "get_xic_matrix(chromatogram_filter_options)\n--\n\n"
     "The extracted-ion chromatograms of many requests as numpy arrays (an XicMatrix): the\n"
     "retention times and spectrum indices of the spectra get_multiple_xic would use, and one\n"
     "intensity row per request, NaN where the request does not use the spectrum. Row j holds\n"
     "exactly the intensities of get_multiple_xic(...)[j]; the base-peak m/z is not kept."},
    {"get_binned_map", py::method_cast(qual_get_binned_map), METH_FASTCALL | METH_KEYWORDS,
     "get_binned_map(acquisition_condition, time_bins, x_bins, retention_time_range=None, x_range=None,\n"
     "               aggregate='max')\n--\n\n"
     "The centroid points of the spectra of one condition (None: every spectrum) gathered into\n"
     "time_bins x x_bins equal bins over the retention-time and m/z windows (both ends inside; by\n"
     "default the spectra's own extent), each bin holding the largest ('max') or the summed ('sum')\n"
     "intensity of its points: a BinnedMap. An empty bin holds NaN ('max') or 0 ('sum'); NaN\n"
     "and -inf intensities are passed over."},
    {"to_arrow", qual_to_arrow, METH_NOARGS,
     "to_arrow()\n--\n\n"
     "Every point of every spectrum as a pyarrow Table, one row per point in spectrum order: spectrum_index,\n"
     "retention_time, ms_level, polarity, condition_index (into unique_acquisition_conditions), profile,\n"
     "x, intensity. Needs pyarrow (the [export] extra)."},
    {"find_nearest_spectrum", py::method_cast(qual_find_nearest_spectrum),
     METH_FASTCALL | METH_KEYWORDS,
     "find_nearest_spectrum(retention_time)\n--\n\nThe spectrum whose retention time is nearest (lowest index on ties)."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef qual_getset[] = {
    {"index", analysis_index, nullptr, "The analysis's position among the measurement's MS analyses.", nullptr},
    {"supplemental_properties", analysis_supplemental_properties, nullptr,
     "The function's supplemental properties, as stored.", nullptr},
    {"unique_acquisition_conditions", qual_unique_acquisition_conditions, nullptr,
     "The distinct acquisition conditions of the analysis (the list itself).", nullptr},
    {"_QualAnalysis__unique_acquisition_conditions", qual_unique_acquisition_conditions, py::refuse_setting, nullptr,
     nullptr},
    {"_QualAnalysis__spectrum_index_list", qual_spectrum_index_list, py::refuse_setting, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

void add_ms_analysis_types(PyObject* module) {
    PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(py::protected_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(qual_dealloc)},
        {Py_tp_traverse, reinterpret_cast<void*>(py::traverse_object_fields<AnalysisObject>)},
        {Py_tp_clear, reinterpret_cast<void*>(py::clear_object_fields<AnalysisObject>)},
        {Py_tp_str, reinterpret_cast<void*>(qual_str)},
        {Py_tp_repr, reinterpret_cast<void*>(qual_str)},
        {Py_tp_methods, qual_methods},
        {Py_tp_getset, qual_getset},
        {Py_tp_members, py::private_members("QualAnalysis", {
            {"function_index", offsetof(AnalysisObject, function_index)},
            {"index", offsetof(AnalysisObject, index)},
            {"reader", offsetof(AnalysisObject, reader)},
        })},
        {Py_tp_doc, const_cast<char*>(
            "One qualitative MS analysis of a measurement: its spectra, their distinct acquisition\n"
            "conditions, and its chromatograms. Made by Measurement.get_qual_analysis().\n"
            "Not picklable: it reads through its file's open reader (pickle the OzraFile, which pickles as its path).")},
        {0, nullptr},
    };
    PyType_Spec spec = {"ozra_data_access.qual.QualAnalysis", sizeof(AnalysisObject), 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC, slots};
    py::add_type(module, &spec);
}

}  // namespace ozra::qual
