// Data entering a store through the public class: checked whole before the store changes,
// and made into what the store's own methods take (exact dicts with str keys).
//
// - Every key at every depth must be a str (a str subclass is taken as its exact str) and
//   must not be reserved (is_reserved_name): a document cannot reconfigure the store that
//   loads it, nor hide the methods it runs on.
// - A dict subclass or any other Mapping, at any depth, becomes a plain dict of its items; a
//   list, set or tuple holding one becomes a list. Stores inside the data are kept as they are
//   (the store holds them as objects, as assignment does).
// - Nothing is copied where nothing needs to change.
#pragma once

#include "capi/python.hpp"

#include "store_access.hpp"

namespace store {

// `data` for the constructor or merge(): a Mapping (a store by its content). `function` names
// the callable in the error for anything else ("TarvelVar()", "merge()").
Ref prepare_data(PyTypeObject* store_type, PyObject* data, const char* function);

// The values of `entries`, an exact dict under checked names that only the caller holds, for
// update(): a dict of the same names with every value checked as prepare_value checks one.
Ref prepare_entries(PyTypeObject* store_type, PyObject* entries);

// One value for item assignment or update() under `key`.
Ref prepare_value(PyTypeObject* store_type, PyObject* key, PyObject* value);

// A key for item assignment or update(): an exact str that is not reserved.
Ref prepare_key(PyTypeObject* store_type, PyObject* key);

}  // namespace store
