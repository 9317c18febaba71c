// The one argument parser of the module, driven by the method table: positional counts,
// keywords (`self` included), defaults and exact-type tests, with the module's own messages.
#pragma once

#include "capi/python.hpp"

#include <array>

#include "frame/method_spec.hpp"

namespace var_main {

// Binds a vectorcall's arguments to the parameters of `which` (`self` is bound[0]).
// Returns false with TypeError set when the call does not fit. Borrowed pointers only.
bool bind_arguments(Method which, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    std::array<PyObject*, kMaxParams>& bound);

// The exact-type tests of `which` on bound arguments; false with TypeError set on failure.
bool check_argument_types(Method which, const std::array<PyObject*, kMaxParams>& bound);

// `_skip` takes no arguments at all.
bool check_no_arguments(Method which, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace var_main
