// Owned references.
//
// Rules of use:
//  * A Ref owns one strong reference or nothing. Make one with Ref::steal() from a new
//    reference the C API handed us, or with Ref::borrow() to take a new reference to a
//    borrowed pointer.
//  * There is no implicit conversion to PyObject*: get() lends the pointer, release() hands
//    the reference over to the caller (the only way a reference leaves a Ref).
//  * Assignment goes through a temporary, so the old object is released only after the new
//    one is in place: releasing can run arbitrary Python code that may look at this Ref.
//  * Never keep a borrowed PyObject* across a call that can run Python code; take a Ref.
//  * A reference kept for the life of the process is a StaticRef, below.
#pragma once

#include "capi/python.hpp"

#include <cassert>
#include <utility>

namespace capi {

class Ref {
public:
    Ref() noexcept = default;
    Ref(const Ref& other) noexcept : ptr_(Py_XNewRef(other.ptr_)) {}
    Ref(Ref&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(ptr_, other.ptr_);
        return *this;  // the previous object dies with `other`, after the swap
    }
    ~Ref() { Py_XDECREF(ptr_); }

    static Ref steal(PyObject* ptr) noexcept { return Ref(ptr); }
    static Ref borrow(PyObject* ptr) noexcept { return Ref(Py_XNewRef(ptr)); }

    PyObject* get() const noexcept { return ptr_; }
    PyObject* release() noexcept { return std::exchange(ptr_, nullptr); }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }
    bool is(PyObject* other) const noexcept { return ptr_ == other; }

private:
    explicit Ref(PyObject* ptr) noexcept : ptr_(ptr) {}
    PyObject* ptr_ = nullptr;
};

inline Ref none() noexcept { return Ref::borrow(Py_None); }

// A reference kept for the life of the process: the interned names, the class with its method
// objects, the function type and the objects the fast paths compare against. The module admits
// one interpreter per process and has no shutdown work, so such a reference is set once, from
// a Ref whose reference it takes over, and never released. Since the object cannot die while
// the process runs, lending the pointer is safe anywhere, and it converts to PyObject*.
class StaticRef {
public:
    constexpr StaticRef() noexcept = default;
    StaticRef(const StaticRef&) = delete;
    StaticRef& operator=(const StaticRef&) = delete;

    void set(Ref ref) noexcept {
        assert(ptr_ == nullptr);
        ptr_ = ref.release();
    }
    // The one record that is forgotten again, the module object of an execution that failed,
    // hands its reference back.
    Ref take() noexcept { return Ref::steal(std::exchange(ptr_, nullptr)); }

    PyObject* get() const noexcept { return ptr_; }
    operator PyObject*() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }

private:
    PyObject* ptr_ = nullptr;
};

}  // namespace capi
