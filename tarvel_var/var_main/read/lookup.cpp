// Path lookup: _mv_get.
#include "frame/calls.hpp"
#include "frame/containers.hpp"
#include "frame/cpython_private.hpp"
#include "frame/function.hpp"
#include "frame/impls.hpp"
#include "store/selection.hpp"

namespace tv {
namespace {

// Whether `name` is in the listing our own _mv_keys() would give for `store`, answered without
// building it: valid while `_skip` is our own and no key of the exact instance dictionary can
// run Python code when compared. False when it cannot be answered so; otherwise `found` holds
// the variable's value, or stays empty when the name is not listed.
// With `own_mv_keys`, also require that `store._mv_keys` is our own.
bool lookup_listed_directly(PyObject* store, PyObject* name, Ref& found, bool own_mv_keys = false) {
    if (!PyUnicode_CheckExact(name)) return false;
    Ref dict = instance_dict(store);
    if (!PyDict_CheckExact(dict.get()) || !has_only_exact_str_keys(dict.get()) ||
        !own_method(store, Method::Skip, dict.get()) ||
        (own_mv_keys && !own_method(store, Method::MvKeys, dict.get()))) {
        return false;
    }
    if (is_internal_name(name)) return true;  // never listed: found stays empty
    PyObject* value = nullptr;
    if (require_status(PyDict_GetItemRef(dict.get(), name, &value)) == 1) {
        found = Ref::steal(value);
    }
    return true;
}

// The plain-name answer without building the listing, when `self._mv_keys` is our own.
bool lookup_name_directly(PyObject* self, PyObject* name, Ref& found) {
    return lookup_listed_directly(self, name, found, true);
}

// True when `method` is our own method `which` bound to `self`: calling it runs our body.
bool is_own_bound_method(PyObject* method, PyObject* self, Method which) {
    return PyMethod_Check(method) && PyMethod_GET_FUNCTION(method) == runtime.functions[index_of(which)] &&
           PyMethod_GET_SELF(method) == self;
}

bool has_path_prefix(PyObject* key) {
    if (PyUnicode_CheckExact(key)) {
        return require_status(static_cast<int>(
                   PyUnicode_Tailmatch(key, names().dollar_dot, 0, PY_SSIZE_T_MAX, -1))) != 0;
    }
    Ref result = call_method(key, names().startswith, {names().dollar_dot});
    return truth(result.get());
}

// One step of a walk through an object that is not a plain dict: if `part in current.keys()`,
// sets `next` to `current.get(part)` and returns true; returns false when the part is missing.
bool step(PyObject* current, PyObject* part, Ref& next) {
    Ref keys_method = require(PyObject_GetAttr(current, names().keys));
    Ref found;
    // keys() of a store whose keys() is its own _mv_keys (as in TarvelVar): the listing need
    // not be built to answer whether it holds one name.
    const bool listed_directly = is_own_bound_method(keys_method.get(), current, Method::MvKeys) &&
                                 lookup_listed_directly(current, part, found);
    if (listed_directly) {
        if (!found) return false;
    } else {
        Ref keys = require(PyObject_CallNoArgs(keys_method.get()));
        if (require_status(PySequence_Contains(keys.get(), part)) == 0) return false;
    }
    Ref get_method = require(PyObject_GetAttr(current, names().get));
    // get() that is the store's own _mv_get, given a plain name: it answers through
    // `current._mv_keys()`, which is not the keys() just asked when _mv_keys is overridden or
    // hidden; so only when that is our own too (looked at again, as the lookup of get() may
    // have run code).
    if (listed_directly && is_own_bound_method(get_method.get(), current, Method::MvGet) &&
        !has_path_prefix(part) && lookup_name_directly(current, part, next) && next) {
        return true;
    }
    next = require(PyObject_CallOneArg(get_method.get(), part));
    return true;
}

// Returns the value of a listed variable, or an empty Ref when the name is not listed.
Ref lookup_name(PyObject* self, PyObject* name) {
    Ref found;
    if (lookup_name_directly(self, name, found)) return found;
    Ref keys = call(self, Method::MvKeys, {});
    if (require_status(PySequence_Contains(keys.get(), name)) == 0) return Ref();
    Ref dict = instance_dict(self);
    return mapping_get(dict.get(), name);
}

// Walks from the store through keys() and get() of each object; empty Ref when a part is
// missing.
Ref walk_path(PyObject* self, PyObject* parts) {
    Ref current = Ref::borrow(self);
    bool missing = false;
    for_each_item(parts, [&](PyObject* part) {
        if (missing) return;
        if (PyDict_CheckExact(current.get())) {
            // A plain dict's keys() and get(), which no class can change, done directly.
            PyObject* next = nullptr;
            if (require_status(PyDict_Contains(current.get(), part)) == 0) {
                missing = true;
            } else if (require_status(PyDict_GetItemRef(current.get(), part, &next)) == 1) {
                current = Ref::steal(next);
            } else {
                current = none();  // gone since the test: get() answers None
            }
            return;
        }
        Ref next;
        if (!step(current.get(), part, next)) {
            missing = true;
            return;
        }
        current = std::move(next);
    });
    if (missing) return Ref();
    return current;
}

// The parts of a path key: str's own split at every ".", also for a str subclass that
// overrides split() (only the prefix test asks the key itself), without the leading "$".
Ref path_parts(PyObject* key) {
    Ref pieces = require(PyUnicode_Split(key, names().dot, -1));
    return require(PyList_GetSlice(pieces.get(), 1, PY_SSIZE_T_MAX));
}

Ref lookup(PyObject* self, PyObject* key) {
    if (PyUnicode_Check(key)) {
        if (!has_path_prefix(key)) return lookup_name(self, key);
        Ref parts = path_parts(key);
        return walk_path(self, parts.get());
    }
    return walk_path(self, key);
}

}  // namespace

namespace impl {

// Any Exception met on the way yields `default`; exceptions that are not errors propagate.
Ref mv_get(Args args) {
    PyObject* default_value = args[2];
    try {
        Ref found = lookup(args[0], args[1]);
        if (found) return found;
        return Ref::borrow(default_value);
    } catch (const PyErrorSet&) {
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
    if (!PyErr_ExceptionMatches(PyExc_Exception)) throw_error();
    PyErr_Clear();
    return Ref::borrow(default_value);
}

}  // namespace impl
}  // namespace tv
