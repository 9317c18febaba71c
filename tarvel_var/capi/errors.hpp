// Error handling between the C API and C++.
//
// Inside the module a failed C-API call becomes a thrown PyErrorSet, which means "a Python
// exception is set; unwind". Every entry point called by the interpreter wraps its body in
// at_boundary(), which turns the C++ exception back into the C API's NULL / -1 convention.
// No C++ exception ever reaches the interpreter.
#pragma once

#include "capi/python.hpp"

#include <cassert>
#include <new>

#include "capi/refs.hpp"

namespace capi {

struct PyErrorSet {};

// Unwinds with the Python exception that is set; throwing without one would make the entry
// point return NULL with no exception, which the interpreter reports as a SystemError far from
// the cause.
[[noreturn]] inline void throw_error() {
    assert(PyErr_Occurred() != nullptr);
    throw PyErrorSet{};
}

// A new reference from the C API, or throw if it failed.
inline Ref require(PyObject* result) {
    if (result == nullptr) throw_error();
    return Ref::steal(result);
}

// A C-API status code (-1 on error), or throw.
inline int require_status(int status) {
    if (status < 0) throw_error();
    return status;
}

inline bool truth(PyObject* obj) { return require_status(PyObject_IsTrue(obj)) != 0; }

// Raises `type` with a printf-style message (PyUnicode_FromFormat codes) and unwinds.
[[noreturn]] void raise(PyObject* type, const char* format, ...);

// Runs body() and translates the C++ outcome into the C-API convention: `failed` is what the
// entry point returns when a Python exception is set.
template <class Result, class Body>
Result at_boundary(Result failed, Body&& body) noexcept {
    try {
        return body();
    } catch (const PyErrorSet&) {
        // Set when thrown, but the interpreter can lose it on the way out: out of memory, it
        // reports a failure to clear the dict of an object it deallocates as unraisable,
        // which takes the pending MemoryError with it. The failure was the lack of memory.
        if (!PyErr_Occurred()) PyErr_NoMemory();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "tarvel_var: unexpected C++ exception");
    }
    return failed;
}

}  // namespace capi
