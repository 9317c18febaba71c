// Walks over plain data, natively.
//
// plain_copy(value): a new tree of the exact dicts and lists in `value`, sharing everything
// else. It is what to_dict() cannot do less than (the benchmarks' floor for it): the same walk
// with nothing to ask of a store.
//
// keys_kept(given, made): whether every key of every dict in `given` is still in `made` at the
// same place, `made` being what a schema made of `given` and dumped. Then no record type
// dropped a key it does not declare, and validate() need not look for one.
#include "plain_walks.hpp"

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

// A dump may hold any objects, whose comparisons (a key's __eq__) may run code: the walk holds
// what it stands on. A list is matched item by item with a list or tuple of its length; any
// other difference of shape is an answer of no (the caller then looks key by key).
bool kept(PyObject* given, PyObject* made) {
    if (PyDict_CheckExact(given)) {
        if (!PyDict_CheckExact(made)) return false;
        capi::RecursionGuard guard;
        Ref held_given = Ref::borrow(given);
        Ref held_made = Ref::borrow(made);
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        // a change of `given` while a key is compared leaves the walk on entries it holds, and
        // the walk reads on as PyDict_Next allows
        while (PyDict_Next(given, &pos, &key, &value)) {
            Ref held_key = Ref::borrow(key);
            Ref held_value = Ref::borrow(value);
            PyObject* found = nullptr;
            if (require_status(PyDict_GetItemRef(made, key, &found)) == 0) return false;
            Ref below = Ref::steal(found);
            if (!kept(held_value.get(), below.get())) return false;
        }
        return true;
    }
    if (PyList_CheckExact(given)) {
        if (!PyList_CheckExact(made) && !PyTuple_CheckExact(made)) return false;
        capi::RecursionGuard guard;
        Ref items = require(PySequence_List(given));
        Ref others = require(PySequence_List(made));
        if (PyList_GET_SIZE(items.get()) != PyList_GET_SIZE(others.get())) return false;
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
            if (!kept(PyList_GET_ITEM(items.get(), i), PyList_GET_ITEM(others.get(), i))) return false;
        }
    }
    return true;
}

PyObject* keys_kept(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return entry([&] {
        if (nargs != 2) capi::raise(PyExc_TypeError, "keys_kept(given, made, /) takes 2 arguments");
        return Py_NewRef(kept(args[0], args[1]) ? Py_True : Py_False);
    });
}

PyMethodDef copy_functions[] = {
    {"plain_copy", as_cfunction(plain_copy), METH_O,
     "plain_copy(value, /)\n--\n\nA new tree of the exact dicts and lists in value, sharing the rest."},
    {"keys_kept", as_cfunction(keys_kept), METH_FASTCALL,
     "keys_kept(given, made, /)\n--\n\nWhether every key of every dict in given is in made at the same place."},
};

}  // namespace

bool ready_plain_walks(PyObject* module) {
    return capi::at_boundary<bool>(false, [&] {
        add_functions(module, copy_functions);
        return true;
    });
}

}  // namespace store
