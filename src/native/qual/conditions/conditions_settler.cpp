#include "qual/conditions/conditions_settler.hpp"

#include "python/entry.hpp"
#include "python/gc_pause.hpp"
#include "qual/conditions/analysis_conditions.hpp"
#include "qual/qual_module.hpp"
#include "storage/api/storage_api.hpp"

#include <pythread.h>

namespace ozra::qual {
namespace {

enum class Stage : unsigned char { waiting, walking, settled };

struct SettlerObject {
    PyObject_HEAD
    PyObject* spectra;     // until the walk ends
    PyObject* conditions;  // once the walk has made them
    Stage stage;
    unsigned long walker;       // the walking thread's id
    PyThread_type_lock walked;  // held by the walking thread for the walk
};

SettlerObject* as_settler(PyObject* self) { return reinterpret_cast<SettlerObject*>(self); }

// Ends the walk however it ends: the list let go, waiting threads woken.
class Walk {
public:
    explicit Walk(SettlerObject* settler) : settler_(settler) {
        PyThread_acquire_lock(settler_->walked, WAIT_LOCK);  // free: no walk has started
        settler_->stage = Stage::walking;
        settler_->walker = PyThread_get_thread_ident();
    }
    ~Walk() {
        settler_->stage = Stage::settled;
        PyThread_release_lock(settler_->walked);
        Py_CLEAR(settler_->spectra);  // the call still holds the list: no code runs
    }
    Walk(const Walk&) = delete;
    Walk& operator=(const Walk&) = delete;

private:
    SettlerObject* settler_;
};

void wait_for_walk(SettlerObject* settler) {
    Py_BEGIN_ALLOW_THREADS
    PyThread_acquire_lock(settler->walked, WAIT_LOCK);
    PyThread_release_lock(settler->walked);
    Py_END_ALLOW_THREADS
}

PyObject* settler_call(PyObject* self, PyObject* args, PyObject* kwargs) {
    return py::guard([&] {
        SettlerObject* settler = as_settler(self);
        if (PyTuple_GET_SIZE(args) != 0 || (kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0)) {
            py::raise(PyExc_TypeError, "the conditions settler takes no arguments");
        }
        if (settler->stage == Stage::walking) {
            // This thread's own walk builds no description: nothing to wait for.
            if (settler->walker != PyThread_get_thread_ident()) wait_for_walk(settler);
        } else if (settler->stage == Stage::waiting) {
            const py::Ref self_held = py::Ref::borrow(self);
            const py::Ref spectra = py::Ref::borrow(settler->spectra);
            const Walk walk(settler);
            const py::GcPause pause;  // as while the analysis opens
            py::Ref conditions = conditions_from_descriptions(spectra.get());
            Py_XSETREF(settler->conditions, conditions.release());
        }
        return py::Ref::none();
    });
}

int settler_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(as_settler(self)->spectra);
    Py_VISIT(as_settler(self)->conditions);
    return 0;
}

int settler_clear(PyObject* self) {
    Py_CLEAR(as_settler(self)->spectra);
    Py_CLEAR(as_settler(self)->conditions);
    return 0;
}

void settler_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    settler_clear(self);
    PyThread_free_lock(as_settler(self)->walked);
    type->tp_free(self);
    Py_DECREF(type);
}

}  // namespace

py::Ref new_conditions_settler(PyObject* spectra) {
    PyThread_type_lock walked = PyThread_allocate_lock();
    if (walked == nullptr) {
        PyErr_NoMemory();
        py::throw_error();
    }
    auto* settler = PyObject_GC_New(SettlerObject, state().conditions_settler);
    if (settler == nullptr) {
        PyThread_free_lock(walked);
        py::throw_error();
    }
    settler->spectra = py::Ref::borrow(spectra).release();
    settler->conditions = nullptr;
    settler->stage = Stage::waiting;
    settler->walker = 0;
    settler->walked = walked;
    PyObject_GC_Track(settler);
    return py::Ref::steal(reinterpret_cast<PyObject*>(settler));
}

py::Ref settled_conditions(PyObject* settler) {
    const SettlerObject* fields = as_settler(settler);
    if (fields->stage != Stage::settled || fields->conditions == nullptr) return py::Ref();
    return py::Ref::borrow(fields->conditions);
}

void release_if_unreachable(PyObject* settler_object, PyObject* spectra) noexcept {
    SettlerObject* settler = as_settler(settler_object);
    if (settler->stage != Stage::waiting || settler->spectra != spectra || Py_REFCNT(spectra) != 2) return;
    if (!storage::value_types_api().records_unshared(spectra)) return;
    settler->stage = Stage::settled;
    Py_CLEAR(settler->spectra);  // the analysis still holds the list: no code runs
}

void add_conditions_settler_type(PyObject* module) {
    PyType_Slot slots[] = {
        {Py_tp_call, reinterpret_cast<void*>(settler_call)},
        {Py_tp_traverse, reinterpret_cast<void*>(settler_traverse)},
        {Py_tp_clear, reinterpret_cast<void*>(settler_clear)},
        {Py_tp_dealloc, reinterpret_cast<void*>(settler_dealloc)},
        {Py_tp_doc, const_cast<char*>("Makes an MS analysis's acquisition conditions on their first use.")},
        {0, nullptr},
    };
    PyType_Spec spec = {"ozra_data_access.qual._ConditionsSettler", sizeof(SettlerObject), 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};
    state().conditions_settler = reinterpret_cast<PyTypeObject*>(
        py::Kept(py::Ref::checked(PyType_FromModuleAndSpec(module, &spec, nullptr))).get());
}

}  // namespace ozra::qual
