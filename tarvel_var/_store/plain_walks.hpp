// Walks over plain dicts and lists (plain_walks.cpp): a native copy, and whether one tree keeps
// every key of another.
#pragma once

#include "capi/python.hpp"

namespace store {

// Adds plain_copy and keys_kept to the module; false with an exception set.
bool ready_plain_walks(PyObject* module);

}  // namespace store
