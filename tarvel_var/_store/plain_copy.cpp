// plain_copy(value): a new tree of the exact dicts and lists in `value`, sharing everything
// else, made natively. It is what to_dict() cannot do less than (the benchmarks' floor for
// it): the same walk with nothing to ask of a store.
#include "plain_copy.hpp"

#include "capi/recursion.hpp"
#include "methods.hpp"

namespace store {
namespace {

using capi::require;
using capi::require_status;

// No Python code runs in the walk (exact dicts and lists only; their keys' hashes are cached),
// so nothing it walks can change under it.
Ref copied(PyObject* value) {
    if (PyDict_CheckExact(value)) {
        capi::RecursionGuard guard;
        Ref dict = require(PyDict_New());
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* item = nullptr;
        while (PyDict_Next(value, &pos, &key, &item)) {
            require_status(PyDict_SetItem(dict.get(), key, copied(item).get()));
        }
        return dict;
    }
    if (PyList_CheckExact(value)) {
        capi::RecursionGuard guard;
        const Py_ssize_t size = PyList_GET_SIZE(value);
        Ref list = require(PyList_New(size));
        for (Py_ssize_t i = 0; i < size; ++i) PyList_SET_ITEM(list.get(), i, copied(PyList_GET_ITEM(value, i)).release());
        return list;
    }
    return Ref::borrow(value);
}

PyObject* plain_copy(PyObject*, PyObject* value) {
    return entry([&] { return copied(value).release(); });
}

PyMethodDef copy_functions[] = {
    {"plain_copy", as_cfunction(plain_copy), METH_O,
     "plain_copy(value, /)\n--\n\nA new tree of the exact dicts and lists in value, sharing the rest."},
};

}  // namespace

bool ready_plain_copy(PyObject* module) {
    return capi::at_boundary<bool>(false, [&] {
        add_functions(module, copy_functions);
        return true;
    });
}

}  // namespace store
