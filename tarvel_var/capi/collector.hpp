// The cyclic collector paused while a native walk makes a tree of new containers: it would be
// set off again and again by them, and could find no cycle among them.
#pragma once

#include "capi/python.hpp"

namespace capi {

class CollectorPaused {
public:
    CollectorPaused() : was_enabled_(PyGC_Disable() == 1) {}
    ~CollectorPaused() {
        if (was_enabled_) PyGC_Enable();
    }
    CollectorPaused(const CollectorPaused&) = delete;
    CollectorPaused& operator=(const CollectorPaused&) = delete;

private:
    bool was_enabled_;
};

}  // namespace capi
