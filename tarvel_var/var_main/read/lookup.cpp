// Path lookup: _mv_get.
#include "frame/calls.hpp"
#include "frame/containers.hpp"
#include "frame/toolkit.hpp"
#include "frame/function.hpp"
#include "frame/impls.hpp"
#include "store/selection.hpp"

namespace var_main {
namespace {

// Whether `name` is in the listing our own _mv_keys() would give for `store`, answered without
// building it: valid while `_skip` is our own and no key of the exact instance dictionary can
// run Python code when compared. nullopt when it cannot be answered so; otherwise the
// variable's value, or an empty Ref when the name is not listed.
// With `own_mv_keys`, also require that `store._mv_keys` is our own.
std::optional<Ref> lookup_listed_directly(PyObject* store, PyObject* name, bool own_mv_keys = false) {
    if (!PyUnicode_CheckExact(name)) return std::nullopt;
    Ref dict = instance_dict(store);
    if (!PyDict_CheckExact(dict.get()) || !has_only_exact_str_keys(dict.get()) ||
        !own_method(store, Method::Skip, dict.get()) ||
        (own_mv_keys && !own_method(store, Method::MvKeys, dict.get()))) {
        return std::nullopt;
    }
    if (is_internal_name(name)) return Ref();  // never listed
    PyObject* value = nullptr;
    require_status(PyDict_GetItemRef(dict.get(), name, &value));
    return Ref::steal(value);
}

// The plain-name answer without building the listing, when `self._mv_keys` is our own.
std::optional<Ref> lookup_name_directly(PyObject* self, PyObject* name) {
    return lookup_listed_directly(self, name, true);
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

// One step of a walk through an object that is not a plain dict: `current.get(part)` if
// `part in current.keys()`, nullopt when the part is missing.
std::optional<Ref> step(PyObject* current, PyObject* part) {
    Ref keys_method = require(PyObject_GetAttr(current, names().keys));
    // keys() of a store whose keys() is its own _mv_keys (as in TarvelVar): the listing need
    // not be built to answer whether it holds one name.
    std::optional<Ref> listed;
    if (is_own_bound_method(keys_method.get(), current, Method::MvKeys)) {
        listed = lookup_listed_directly(current, part);
    }
    if (listed) {
        if (!*listed) return std::nullopt;
    } else {
        Ref keys = require(PyObject_CallNoArgs(keys_method.get()));
        if (require_status(PySequence_Contains(keys.get(), part)) == 0) return std::nullopt;
    }
    Ref get_method = require(PyObject_GetAttr(current, names().get));
    // get() that is the store's own _mv_get, given a plain name: it answers through
    // `current._mv_keys()`, which is not the keys() just asked when _mv_keys is overridden or
    // hidden; so only when that is our own too (looked at again, as the lookup of get() may
    // have run code).
    if (listed && is_own_bound_method(get_method.get(), current, Method::MvGet) &&
        !has_path_prefix(part)) {
        if (std::optional<Ref> value = lookup_name_directly(current, part); value && *value) {
            return value;
        }
    }
    return require(PyObject_CallOneArg(get_method.get(), part));
}

// The value of a listed variable, or nullopt when the name is not listed.
std::optional<Ref> lookup_name(PyObject* self, PyObject* name) {
    if (std::optional<Ref> found = lookup_name_directly(self, name)) {
        if (!*found) return std::nullopt;
        return found;
    }
    Ref keys = call(self, Method::MvKeys, {});
    if (require_status(PySequence_Contains(keys.get(), name)) == 0) return std::nullopt;
    return mapping_get(instance_dict(self).get(), name);
}

// Walks from the store through keys() and get() of each object; nullopt when a part is
// missing.
std::optional<Ref> walk_path(PyObject* self, PyObject* parts) {
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
        std::optional<Ref> next = step(current.get(), part);
        if (!next) {
            missing = true;
            return;
        }
        current = std::move(*next);
    });
    if (missing) return std::nullopt;
    return current;
}

// The parts of a path key: str's own split at every ".", also for a str subclass that
// overrides split() (only the prefix test asks the key itself), without the leading "$".
Ref path_parts(PyObject* key) {
    Ref pieces = require(PyUnicode_Split(key, names().dot, -1));
    return require(PyList_GetSlice(pieces.get(), 1, PY_SSIZE_T_MAX));
}

// The value `key` names, or nullopt when it names nothing.
std::optional<Ref> lookup(PyObject* self, PyObject* key) {
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
    const auto [self, key, default_value] = arguments<3>(args);
    try {
        if (std::optional<Ref> found = lookup(self, key)) return std::move(*found);
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
}  // namespace var_main
