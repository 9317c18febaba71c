// to_dict() straight off the instance dictionaries.
//
// The store's conversion (`_mv_to_dict`) runs through `_to_dict`, `_list_to_dict` and `_skip`
// looked up on the store for every nested store, sequence and pair. When those are var_main's
// own, the conversion reads only: it calls nothing that can run Python code as long as every
// name is an exact str, every nested store keeps its variables in its ordinary `__dict__` and
// every sequence is an exact list, tuple or set. Its result is then known from the
// dictionaries alone, and is built here. Met with anything else, this gives up (having
// changed nothing, since converting changes nothing) and the store's own conversion runs.
#pragma once

#include "capi/python.hpp"

#include "capi/refs.hpp"

namespace store {

// The plain dict of `self`, sorted at every level when `sort` (True or False) is true; empty
// when the store's own conversion must make it.
capi::Ref convert_directly(PyObject* self, PyObject* sort);

// `value` (plain data) with every dict in it made anew in the order of its keys.
capi::Ref sorted_at_every_level(PyObject* value);

}  // namespace store
