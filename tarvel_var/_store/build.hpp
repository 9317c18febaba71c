// Building a new store straight from checked data.
//
// `TarvelVar(data)` fills the new store through its merge: for every nested dict the store
// factory makes a store, `add(**entries)` hands the entries to `_mv_add`, and every value
// passes through `_set_dict`, `_set_list`, `_mv_set` and the attribute hook. When the class is
// TarvelVar itself with all of those its own, the store is fresh and the data plain (exact
// dicts, lists, tuples and sets, and values that are none of these), none of those steps can
// fail, and the result is known in advance: nested stores set up as the factory sets them up,
// converted lists, the other values as they are, in the same order and under the same
// (interned, where assignment interns) names. This writes that result directly.
//
// One step can run Python code: the Mapping test of a value that is not of a plain type (its
// `__class__` may be a property; the ABC's hooks are Python). The walk holds its own
// references and reads sizes again after it, and a list changed by it is left to the general
// path.
#pragma once

#include "capi/python.hpp"

#include "capi/refs.hpp"

namespace store {

// Fills the fresh store `self` with `data` directly and returns true, or returns false,
// having changed nothing, when the general path must do it: the data holds something that
// is not plain, or a key that is not a str or that the store keeps for itself (which the
// general path refuses with its error).
bool build_directly(PyObject* self, PyObject* data, bool strict);

// What the store's merge makes of one value, an exact dict (a nested store) or an exact list,
// tuple or set (a converted list), built directly; empty when the general path must make it.
// For a store of the class itself whose factory is the class's (strict: the strict one).
capi::Ref build_value(PyObject* value, bool strict);

// The same for `add(**data)` on a store that holds only its internal variables, as the store
// factory makes it: the nested stores are made as its factory (the class, or the strict
// stores' factory) would make them.
bool fill_fresh_store(PyObject* self, PyObject* data);

// `_set_class(factory, reprint, inherit)` (and the strict mark) on a new store of the class
// itself, written directly: the core's own `_set_class` does no more than these four item
// assignments into a dict that holds nothing yet. False, having changed nothing, otherwise.
bool set_up_fresh_store(PyObject* self, PyObject* reprint, PyObject* inherit, bool strict);

// A new store of the class itself (or of `type`, a variant of it of the same layout), set up as
// its factory (strict: the strict factory) sets up the stores it makes, holding nothing else.
capi::Ref new_fresh_store(bool strict, PyTypeObject* type = nullptr);

}  // namespace store
