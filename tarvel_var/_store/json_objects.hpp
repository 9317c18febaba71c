// Stores made straight from a JSON parser's objects (json_objects.cpp).
#pragma once

#include "capi/python.hpp"

namespace store {

enum class Member { Taken, Duplicate, Reserved };

// Puts one member of a JSON object into the dict of a store that holds nothing else yet, as the
// constructor would (the key as it is named for an array's list, or its frozen tuple; else
// interned): Duplicate (nothing changed) for a key the dict holds already, Reserved for one the
// store keeps for itself. Runs no Python code; throws on a failed allocation.
Member put_member(PyObject* dict, PyObject* key, PyObject* value, bool holds_array);

// Adds json_store, json_strict_store, DuplicateKeyError and NeedsChecking to the module;
// false with an exception set.
bool ready_json_objects(PyObject* module);

}  // namespace store
