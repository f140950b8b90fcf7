#include "storage/description_frame.hpp"

#include "python/entry.hpp"
#include "python/object_fields.hpp"
#include "python/types.hpp"
#include "storage/storage_module.hpp"

namespace ozra::storage {
namespace {

struct DescriptionFrameObject {
    PyObject_HEAD
    DescriptionFrame* frame;  // owned
};

DescriptionFrameObject* as_frame(PyObject* self) { return reinterpret_cast<DescriptionFrameObject*>(self); }

int frame_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    if (as_frame(self)->frame == nullptr) return 0;
    for (const PendingDescription& description : as_frame(self)->frame->descriptions) {
        Py_VISIT(description.condition);
        Py_VISIT(description.condition_fields);
    }
    return 0;
}

int frame_clear(PyObject* self) {
    if (as_frame(self)->frame == nullptr) return 0;
    for (PendingDescription& description : as_frame(self)->frame->descriptions) {
        clear_pending_condition(description);
        Py_CLEAR(description.condition_fields);
    }
    return 0;
}

void frame_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    frame_clear(self);
    delete as_frame(self)->frame;
    py::free_instance(self);
}

PyType_Slot frame_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(frame_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(frame_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(frame_clear)},
    {0, nullptr},
};

PyType_Spec frame_spec = {"ozra_data_access._internal._storage.DescriptionFrame", sizeof(DescriptionFrameObject), 0,
                          Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_DISALLOW_INSTANTIATION, frame_slots};

}  // namespace

py::Ref new_description_frame(std::shared_ptr<const core::ByteBuffer> bytes, std::uint64_t frame_at) {
    py::Ref object = py::allocate(state().description_frame);
    as_frame(object.get())->frame = new DescriptionFrame{std::move(bytes), frame_at, {}, {}};
    return object;
}

PyTypeObject* make_description_frame_type() {
    // Not bound in the module: only the records reach its instances.
    return reinterpret_cast<PyTypeObject*>(py::Kept(py::Ref::checked(PyType_FromSpec(&frame_spec))).get());
}

DescriptionFrame& description_frame(PyObject* frame) noexcept { return *as_frame(frame)->frame; }

void set_pending_condition(PendingDescription& description, PyObject* object, PendingCondition kind) noexcept {
    Py_XSETREF(description.condition, Py_XNewRef(object));
    description.condition_kind = kind;
}

void clear_pending_condition(PendingDescription& description) noexcept {
    Py_CLEAR(description.condition);
    description.condition_kind = PendingCondition::none;
}

core::ByteCursor description_cursor(const DescriptionFrame& frame, const PendingDescription& description) {
    core::ByteCursor cursor = core::ByteCursor::decompressed(frame.bytes->data(), frame.bytes->size(), frame.frame_at);
    cursor.take(description.offset, "the descriptions before this one");
    return cursor;
}

bool condition_key(PendingEntry pending, std::string& key) {
    DescriptionFrame& frame = description_frame(pending.frame);
    core::ByteCursor cursor = description_cursor(frame, pending.description());
    KeyedDescription keyed{pending.entry, {}};
    if (!spectrum_condition_key(cursor, key, keyed.values)) return false;
    frame.last_keyed = keyed;
    return true;
}

py::Ref condition_fields(PendingEntry pending) {
    if (pending.description().condition_fields == nullptr) {
        const DescriptionFrame& frame = description_frame(pending.frame);
        ConditionValues values;
        if (frame.last_keyed && frame.last_keyed->entry == pending.entry) {
            values = frame.last_keyed->values;
        } else {
            core::ByteCursor cursor = description_cursor(frame, pending.description());
            std::string key;
            if (!spectrum_condition_key(cursor, key, values)) return py::Ref();
        }
        pending.description().condition_fields = condition_fields_record(values).release();
    }
    return py::Ref::borrow(pending.description().condition_fields);
}

}  // namespace ozra::storage
