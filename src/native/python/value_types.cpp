#include "value_types.hpp"

namespace ozra::py {

const ValueTypesApi& value_types_api() {
    static const ValueTypesApi* api = nullptr;
    if (api == nullptr) {
        api = static_cast<const ValueTypesApi*>(PyCapsule_Import(value_types_capsule_name, 0));
        if (api == nullptr) throw_error();
    }
    return *api;
}

}  // namespace ozra::py
