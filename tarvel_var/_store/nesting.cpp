#include "nesting.hpp"

#include "capi/recursion.hpp"
#include "store_access.hpp"

namespace store {
namespace {

// Levels still allowed below `value`; the walk stops at the first branch that uses them up.
bool deeper(PyObject* value, Py_ssize_t left) {
    const bool is_dict = PyDict_Check(value);
    if (!is_dict && !PyList_Check(value)) return false;
    if (left == 0) return true;
    capi::RecursionGuard guard;
    if (is_dict) {
        bool found = false;
        walk_dict(value, [&](PyObject*, PyObject* item) {
            found = deeper(item, left - 1);
            return !found;  // stop at the first branch too deep
        });
        return found;
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(value); ++i) {
        Ref item = Ref::borrow(PyList_GET_ITEM(value, i));  // held: a list may change under us
        if (deeper(item.get(), left - 1)) return true;
    }
    return false;
}

}  // namespace

bool nests_deeper_than(PyObject* value, Py_ssize_t limit) { return deeper(value, limit); }

}  // namespace store
