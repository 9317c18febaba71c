// The function-object type of the module's methods. Like a function defined in Python it is
// a non-data descriptor (bound to an instance it gives a bound method, read through the class
// it is itself), and it carries __name__, __qualname__, __module__, __doc__, __defaults__ and
// __annotations__. Calls go through vectorcall, and the method-descriptor flag lets the
// interpreter call `store.m(...)` without making a bound method.
#pragma once

#include "capi/python.hpp"

#include "frame/method_spec.hpp"

namespace var_main {

// Readies the type; false with an exception set on failure. Safe to call again.
bool ready_function_type();

// A new function object for `which`.
PyObject* new_function(Method which);

// Runs the body of `which` on already-bound arguments, inside the recursion guard. Fast paths
// use it to call one of our methods directly when the instance lookup would find it anyway.
Ref invoke(Method which, Args args);

}  // namespace var_main
