// Which entries of a store's instance dictionary are variables: those whose names are not in
// the list that `self._skip()` returns, asked anew for each entry. While `_skip` is our own
// and the name is an exact str, nothing observable depends on the call (it returns a fresh
// list of four str, and comparing str runs no Python code), so the answer is computed here.
#pragma once

#include "capi/python.hpp"

#include "frame/calls.hpp"
#include "frame/containers.hpp"
#include "frame/runtime.hpp"

namespace var_main {

// One of the four internal variable names; `name` must be a str.
inline bool is_internal_name(PyObject* name) noexcept { return names().is_internal(name); }

// A new list of the internal variable names, in their order.
Ref internal_names();

class Selection {
public:
    explicit Selection(PyObject* self) : self_(self) {}

    // Python code may have run since the last answer (a repr, a conversion, a hash): look
    // `_skip` up again before the next one.
    void code_may_have_run() { checked_ = false; }

    bool is_variable(PyObject* name) {
        if (!checked_) {
            own_skip_ = own_method(self_, Method::Skip);
            checked_ = true;
        }
        if (own_skip_ && PyUnicode_CheckExact(name)) return !is_internal_name(name);
        checked_ = false;  // the call and the comparisons below may run Python code
        Ref skipped = call_method(self_, method_name(Method::Skip), {});
        return require_status(PySequence_Contains(skipped.get(), name)) == 0;
    }

private:
    PyObject* self_;
    bool own_skip_ = false;
    bool checked_ = false;
};

}  // namespace var_main
