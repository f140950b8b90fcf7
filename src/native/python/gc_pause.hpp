// Pauses the cycle collector while a call builds many objects at once.
//
// Opening an analysis of 100,000 spectra makes some 300,000 container objects,
// none of which can be garbage while the call runs; with the collector active,
// the repeated collections they trigger cost three times the building itself.
// The previous state is restored however the call ends.
#pragma once

#include "python/ref.hpp"

namespace ozra::py {

class GcPause {
public:
    GcPause() noexcept : was_enabled_(PyGC_Disable() != 0) {}
    ~GcPause() {
        if (was_enabled_) PyGC_Enable();
    }
    GcPause(const GcPause&) = delete;
    GcPause& operator=(const GcPause&) = delete;

private:
    bool was_enabled_;
};

}  // namespace ozra::py
