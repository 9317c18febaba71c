// Storing a value that needs no conversion (neither a dict nor a sequence value) under a name.
//
// The chain the methods prescribe for it, `self._mv_set(name, value)` -> setattr() -> our
// __setattr__ -> `self._set_attr(name, value)`, ends in `self.__dict__[name] = value` whatever
// the inherit flag says. When every link of the chain is our own and the flag is a bool, no
// step of it can run Python code or fail, and the store is written directly.
#pragma once

#include <Python.h>

namespace tv {

// Where the chain starts: at `self._mv_set(...)`, at setattr(self, ...), or inside our
// __setattr__ (whose name argument setattr() has already interned).
enum class ChainFrom { MvSet, Setattr, Hook };

// True when the value was stored; false when the value needs converting or some link is not
// ours, and the caller must take the general path.
bool store_plain_value(PyObject* self, PyObject* name, PyObject* value, ChainFrom from);

}  // namespace tv
