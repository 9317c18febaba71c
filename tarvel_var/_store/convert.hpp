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

#include <Python.h>

#include "frame/refs.hpp"

namespace tvs {

// The plain dict of `self`, sorted at the top level when `sort` is true; empty when the
// store's own conversion must make it (and `sort` has not been looked at).
tv::Ref convert_directly(PyObject* self, PyObject* sort);

}  // namespace tvs
