// A native copy of plain dicts and lists (plain_copy.cpp).
#pragma once

#include "capi/python.hpp"

namespace store {

// Adds plain_copy to the module; false with an exception set.
bool ready_plain_copy(PyObject* module);

}  // namespace store
