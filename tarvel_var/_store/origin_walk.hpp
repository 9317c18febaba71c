// The leaves of a composed store with their origins, in one native walk (origin_walk.cpp).
#pragma once

#include "capi/python.hpp"

namespace store {

// Adds origin_walk to the module; false with an exception set.
bool ready_origin_walk(PyObject* module);

}  // namespace store
