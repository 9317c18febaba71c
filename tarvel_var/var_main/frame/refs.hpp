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
#pragma once

#include <Python.h>

#include <utility>

namespace tv {

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

}  // namespace tv
