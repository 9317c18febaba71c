// The one recursion guard of the module. Every method call made through the module's
// function objects passes through it, so any recursion that runs through this module
// (a list that contains itself, a store that holds itself, overrides calling back) is
// bounded.
//
// The interpreter's counter (Py_EnterRecursiveCall) bounds the number of nested calls, but it
// does not know how much native stack each of our levels costs, and a thread may have been
// started with a small stack. So the guard also measures the native stack that is actually
// left in the current thread and raises RecursionError before it runs short.
//
// The counter is entered through the public call. Adjusting the thread state's counter
// directly (with the interpreter's private check once it runs out) saved about 27
// instructions a level: 1.6% of a deep conversion of small containers and 0.5% of building
// and converting a list of records, measured by instruction counts; not worth depending on
// the thread state's layout.
#pragma once

#include "capi/python.hpp"

#include <cstddef>
#include <optional>

#include "capi/errors.hpp"

namespace capi {

// True when the current thread's native stack is too close to its end to enter another level.
bool native_stack_exhausted() noexcept;

// The bytes left above that point, or nothing where the stack cannot be measured.
std::optional<std::size_t> native_stack_room() noexcept;

// Counts one level on the interpreter's C recursion counter for its lifetime, after checking
// the native stack.
class RecursionGuard {
public:
    RecursionGuard() {
        if (native_stack_exhausted()) {
            PyErr_SetString(PyExc_RecursionError,
                            "maximum recursion depth exceeded (native stack nearly exhausted)");
            throw_error();
        }
        if (Py_EnterRecursiveCall(" in tarvel_var")) throw_error();
    }
    ~RecursionGuard() { Py_LeaveRecursiveCall(); }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;
};

}  // namespace capi
