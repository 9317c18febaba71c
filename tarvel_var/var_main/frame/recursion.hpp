// The one recursion guard of the module. Every method call made through the module's
// function objects passes through it, so any recursion that runs through this module
// (a list that contains itself, a store that holds itself, overrides calling back) is
// bounded.
//
// The interpreter's counter (Py_EnterRecursiveCall) bounds the number of nested calls, but it
// does not know how much native stack each of our levels costs, and a thread may have been
// started with a small stack. So the guard also measures the native stack that is actually
// left in the current thread and raises RecursionError before it runs short.
#pragma once

#include <Python.h>

#include "frame/errors.hpp"

namespace tv {

// True when the current thread's native stack is too close to its end to enter another level.
bool native_stack_exhausted() noexcept;

// The interpreter's own check behind Py_EnterRecursiveCall, exported for its extension
// modules: called once the thread's counter has run out, it raises RecursionError.
extern "C" int _Py_CheckRecursiveCall(PyThreadState* tstate, const char* where);

namespace detail {
// The thread state of the innermost call from the interpreter into the module on this
// thread, or nullptr outside one. Reaching the interpreter's thread state from here costs a
// call through the shared library's thread-local storage; the levels nested inside one call
// share this copy.
extern __attribute__((tls_model("initial-exec"))) thread_local PyThreadState* entry_tstate;
}  // namespace detail

inline PyThreadState* current_thread_state() noexcept {
    return detail::entry_tstate != nullptr ? detail::entry_tstate : PyThreadState_Get();
}

// Marks a call from the interpreter into one of the module's methods, for its duration.
class MethodEntry {
public:
    MethodEntry() noexcept : outer_(detail::entry_tstate) {
        detail::entry_tstate = PyThreadState_Get();
    }
    ~MethodEntry() { detail::entry_tstate = outer_; }
    MethodEntry(const MethodEntry&) = delete;
    MethodEntry& operator=(const MethodEntry&) = delete;

private:
    PyThreadState* outer_;
};

// Counts one level on the interpreter's C recursion counter, as Py_EnterRecursiveCall and
// Py_LeaveRecursiveCall do, after checking the native stack.
class RecursionGuard {
public:
    RecursionGuard() {
        if (native_stack_exhausted()) {
            PyErr_SetString(PyExc_RecursionError,
                            "maximum recursion depth exceeded (native stack nearly exhausted)");
            throw_error();
        }
        tstate_ = current_thread_state();
        if (tstate_->c_recursion_remaining-- < 0 && _Py_CheckRecursiveCall(tstate_, " in var_main")) {
            throw_error();  // the check has already undone the count
        }
    }
    ~RecursionGuard() { tstate_->c_recursion_remaining++; }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;

private:
    PyThreadState* tstate_;
};

}  // namespace tv
