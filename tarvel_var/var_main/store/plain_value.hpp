// Storing a value that needs no conversion (neither a dict nor a sequence value) under a name.
//
// The chain the methods prescribe for it, `self._mv_set(name, value)` -> setattr() -> our
// __setattr__ -> `self._set_attr(name, value)`, ends in `self.__dict__[name] = value` whatever
// the inherit flag says. When every link of the chain is our own and the flag is a bool, no
// step of it can run Python code or fail, and the store is written directly.
#pragma once

#include "capi/python.hpp"

#include "frame/toolkit.hpp"

namespace var_main {

// Where the chain starts: at `self._mv_set(...)`, at setattr(self, ...), or inside our
// __setattr__ (whose name argument setattr() has already interned).
enum class ChainFrom { MvSet, Setattr, Hook };

class PlainValueWriter {
public:
    // `one_store`: the writer stores one value only, and need not watch for code run by a
    // replaced value's release.
    PlainValueWriter(PyObject* self, ChainFrom from, bool one_store = false)
        : self_(self), from_(from), one_store_(one_store) {}

    // True when the value was stored; false when the value needs converting or some link is
    // not ours, and the caller must take the general path.
    bool store(PyObject* name, PyObject* value);

    // Python code may have run since the last store: check the chain again before the next.
    void code_may_have_run() { checked_ = false; }

private:
    bool chain_is_ours();

    PyObject* self_;
    ChainFrom from_;
    bool one_store_;
    Ref dict_;             // the instance dictionary, while the chain is known to be ours
    bool checked_ = false;
};

// One store through a fresh writer.
inline bool store_plain_value(PyObject* self, PyObject* name, PyObject* value, ChainFrom from) {
    return PlainValueWriter(self, from, true).store(name, value);
}

}  // namespace var_main
