// Stores made straight from a JSON parser's objects (json_objects.cpp).
#pragma once

#include "capi/python.hpp"

namespace store {

// Adds json_store, json_strict_store, DuplicateKeyError and NeedsChecking to the module;
// false with an exception set.
bool ready_json_objects(PyObject* module);

}  // namespace store
