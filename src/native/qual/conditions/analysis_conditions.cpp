#include "qual/conditions/analysis_conditions.hpp"

#include "python/entry.hpp"
#include "python/types.hpp"
#include "qual/analysis_common.hpp"
#include "qual/conditions/acquisition_condition.hpp"
#include "qual/conditions/condition_order.hpp"
#include "qual/qual_module.hpp"
#include "storage/api/storage_api.hpp"

#include <string>
#include <unordered_map>

namespace ozra::qual {
namespace {

py::Ref new_condition(PyObject* record) {
    return new_acquisition_condition(global(state().names.AcquisitionCondition).get(), record);
}

// The description of spectrum `i`, its record made (from a block) for it.
py::Ref description_at(PyObject* spectra, Py_ssize_t i) { return description_of(spectrum_index_at(spectra, i).get()); }

}  // namespace

// Each spectrum gets its own condition; the list keeps the first of equal ones, sorted.
// A description not built yet whose condition is told by its values (a condition key)
// equal to an earlier one's gets its condition when it is built, made like that one:
// an equal condition, which the set would not have kept, so the set is the same. Such
// a spectrum's record is not made.
py::Ref conditions_from_descriptions(PyObject* spectra) {
    const storage::ValueTypesApi& storage = storage::value_types_api();
    const py::Ref held = py::Ref::borrow(spectra);  // a condition made below may run code
    py::Ref unique = py::Ref::checked(PySet_New(nullptr));
    std::unordered_map<std::string, py::Ref> made;  // the plain condition made first for each key
    made.reserve(static_cast<std::size_t>(py::length(spectra)));  // as many keys as spectra, at most
    std::string key;
    py::SignalCheck signals;
    for (Py_ssize_t i = 0; i < py::length(spectra); ++i) {
        signals.tick();
        if (!storage.condition_key_at(spectra, i, key)) {
            py::Ref description = description_at(spectra, i);
            py::Ref condition = new_condition(description.get());
            py::set_attr(description.get(), state().names.desc_acquisition_condition, condition.get());
            py::check(PySet_Add(unique.get(), condition.get()));
            continue;
        }
        if (const auto found = made.find(key); found != made.end()) {
            if (!storage.set_pending_condition_at(spectra, i, found->second.get(),
                                                  storage::PendingCondition::made_like)) {
                py::Ref description = description_at(spectra, i);  // built by another thread
                py::set_attr(description.get(), state().names.desc_acquisition_condition,
                             new_condition(description.get()).get());
            }
            continue;
        }
        // The first of its key: made from the fields it is made of, the description built later.
        py::Ref fields = py::Ref::steal(storage.condition_description_at(spectra, i));
        if (!fields) py::throw_error();
        py::Ref condition = new_condition(fields.get());
        if (!storage.set_pending_condition_at(spectra, i, condition.get(), storage::PendingCondition::object)) {
            // Built by another thread meanwhile, from `fields`.
            py::set_attr(description_at(spectra, i).get(), state().names.desc_acquisition_condition, condition.get());
        }
        py::check(PySet_Add(unique.get(), condition.get()));
        if (is_plain_condition(condition.get())) made.emplace(key, std::move(condition));
    }
    return sorted_conditions(unique.get());
}

// The stored list, in stored order; spectra share its condition objects.
py::Ref conditions_from_stored_list(PyObject* spectra, PyObject* stored) {
    const Py_ssize_t count = py::length(stored);
    py::Ref conditions = py::new_list(count);
    for (Py_ssize_t j = 0; j < count; ++j) {
        py::Ref record = py::Ref::checked(PySequence_GetItem(stored, j));
        PyList_SET_ITEM(conditions.get(), j, new_condition(record.get()).release());
    }
    const storage::ValueTypesApi& storage = storage::value_types_api();
    const py::Ref held = py::Ref::borrow(spectra);  // a description built below may run code
    py::SignalCheck signals;
    for (Py_ssize_t i = 0; i < py::length(spectra); ++i) {
        signals.tick();
        // A description not built yet gets the condition when it is built.
        const storage::SpectrumSummary* summary = storage.pending_at(spectra, i).summary;
        py::Ref description;
        py::Ref stored_index;
        if (summary) {
            stored_index = summary->object(storage::SpectrumSummary::acquisition_condition_index);
        }
        if (!stored_index) {
            summary = nullptr;
            description = description_at(spectra, i);
            stored_index = py::get_attr(description.get(), state().names.desc_acquisition_condition_index);
        }
        const Py_ssize_t position = PyNumber_AsSsize_t(stored_index.get(), PyExc_IndexError);
        if (position == -1 && PyErr_Occurred()) py::throw_error();
        // Never counted from the end: a negative index is as wrong as one past the end.
        if (position < 0 || position >= count) {
            PyErr_Format(PyExc_IndexError, "spectrum %zd names acquisition condition %zd of a stored list of %zd",
                         i, position, count);
            py::throw_error();
        }
        PyObject* condition = PyList_GET_ITEM(conditions.get(), position);
        if (summary && storage.set_pending_condition_at(spectra, i, condition, storage::PendingCondition::object)) {
            continue;
        }
        if (!description) description = description_at(spectra, i);  // built by another thread meanwhile
        py::set_attr(description.get(), state().names.desc_acquisition_condition, condition);
    }
    return conditions;
}

}  // namespace ozra::qual
