// The error of a missing attribute (missing.cpp).
#pragma once

#include "capi/python.hpp"

namespace store {

// Readies tarvel_var.MissingVariableError; false with an exception set.
bool ready_missing_variable_error(PyObject* module);

// AttributeError for `name` on `self`, with `name` and `obj` set, so that the interpreter can
// suggest a close name. A strict store's (`strict`) is a MissingVariableError, whose message,
// made only when it is asked for, also names the variables closest to `name`: hasattr() and
// getattr() with a default, which never ask, pay nothing for it.
[[noreturn]] void raise_missing_attribute(PyObject* self, PyObject* name, bool strict);

}  // namespace store
