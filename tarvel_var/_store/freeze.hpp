// Freezing a whole tree of stores in one native walk (freeze.cpp).
#pragma once

#include "capi/python.hpp"

namespace store {

// Adds freeze_tree to the module; false with an exception set.
bool ready_freeze(PyObject* module);

}  // namespace store
