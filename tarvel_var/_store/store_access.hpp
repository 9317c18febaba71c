// How the public class reaches a store: its instance dictionary, the methods of var_main it
// calls, and the shortcut that reads the store's variables straight off the dictionary.
//
// Calls go through attribute lookup on the instance, as every call between the store's
// methods does, so a subclass's override or an instance variable of that name is honoured.
// The shortcuts are taken only where that lookup would find var_main's own method anyway.
#pragma once

#include "capi/python.hpp"

#include <initializer_list>
#include <optional>

#include "capi/cpython_private.hpp"
#include "capi/errors.hpp"
#include "capi/plain_containers.hpp"
#include "state.hpp"

namespace store {

using capi::Ref;
using capi::require;
using capi::require_status;
using capi::raise;
using capi::throw_error;
using capi::classify;
using capi::is_plain_scalar;
using capi::Kind;
using capi::is_sequence_value;
using capi::raise_dict_changed_size;
using capi::walk_dict;

// The attribute `name` along the MRO of `type`, as instance lookup finds it, without invoking
// descriptors; borrowed, nullptr when absent. Runs no Python code.
using capi::class_attribute;

// self.__dict__ as the ordinary lookup gives it.
Ref instance_dict(PyObject* self);

// self.<name>(*args): the method the class holds is called directly (no bound method) when
// the class uses ordinary lookup and the instance dictionary does not hide the name.
Ref call_store_method(PyObject* self, PyObject* name, std::initializer_list<PyObject*> args);

// The instance dictionary of `self` when its variables are exactly its entries outside the
// four internal names: ordinary lookup, our own `_skip` and `_mv_keys`, neither hidden by an
// instance variable, and an exact dict. Empty when the listing must be asked for.
Ref variables_dict(PyObject* self);

// variables_dict() of a store whose `_mv_items` is var_main's own too: its entries are then the
// dictionary's but the internal variables. Empty otherwise.
Ref own_items_dict(PyObject* self);

// True when `type` is the public class itself as bind() left it (var_main's own set-up and
// merge chain, our `add`, constructor and attribute hook, no class attribute named like an
// internal variable): then building one of its stores directly gives what the merge gives.
bool class_is_pristine(PyTypeObject* type) noexcept;
// Whether `s.x = v` on an instance is the public class's own assignment (assign_attribute).
bool has_own_assignment(PyTypeObject* type) noexcept;

// The instance dictionary of `self` when removing its variables through `_mv_pop` and
// `_mv_clear` would pop them from it: the listing is the dictionary's (variables_dict), the
// class is pristine with var_main's own removals and object's own deletion, and no instance
// variable hides those. Empty otherwise. A name that a class attribute names is not popped.
Ref removal_dict(PyObject* self);

// The instance dictionary of `self` when converting it runs var_main's own conversion
// throughout: ordinary lookup, our own `_skip`, `_mv_to_dict`, `_to_dict` and `_list_to_dict`,
// none hidden by an instance variable, and an exact dict. Empty otherwise.
Ref conversion_dict(PyObject* self);

// True when obj.get(name) for a plain name is obj._mv_get(name) of var_main and obj.keys() is
// its listing: `get` and `keys` are the public class's own, and `_mv_get` is var_main's, not
// hidden by an instance variable. `dict` is obj's instance dictionary if the caller holds it.
bool has_own_get(PyObject* obj, PyObject* dict = nullptr);

// obj.get(name) for a plain name `name` answered from the variables, when it is the public
// class's get over var_main's own `_mv_get` and listing (has_own_get and variables_dict in
// one): the value, or an empty Ref when there is none. nullopt when get() must be asked.
std::optional<Ref> get_directly(PyObject* obj, PyObject* name);

// obj.__dict__ when the ordinary lookup gives the instance dictionary itself, an exact dict;
// empty otherwise.
Ref plain_instance_dict(PyObject* obj);

// One of the four internal variable names; `name` must be a str.
inline bool is_internal_name(PyObject* name) noexcept { return names().is_internal(name); }

// The listing `self._mv_keys()` (general path).
Ref listed_keys(PyObject* self);

// The names of the store's variables as a new list: the listing, made straight from the
// dictionary where the listing is the dictionary's (variables_dict).
Ref variable_names(PyObject* self);

// True when `name` is one of the store's variables; `value` receives its value then.
bool find_variable(PyObject* self, PyObject* name, Ref* value);

// The number of the store's variables.
Py_ssize_t count_variables(PyObject* self);

// Calls visit(name, value) for each variable of the store, in the store's order, on strong
// references, until it returns false. A store whose variables are its dictionary's entries is
// walked in place (a change of size is an error, as for a dict); any other through the names
// its _mv_keys() lists, skipping one that is gone by the time it is reached.
template <class Visit>
void for_each_variable(PyObject* self, Visit&& visit);

// A nested store as the conversion recognises one: the type's name is exactly "TarvelVar".
bool is_store_by_name(PyObject* obj) noexcept;

// An instance of TarvelVarMain or a subclass.
bool is_store(PyObject* obj) noexcept;

// "'X' object ..." messages name the type as the interpreter does.
[[noreturn]] void raise_key_error(PyObject* key);

}  // namespace store

#include "store_access_walk.hpp"

namespace store {

// A name the store keeps for itself: one of the internal variables, a "__dunder__" name, or a
// name beginning with "_" that the class `type` has an attribute of (its methods such as
// `_skip`, `_mv_keys`). Data entering through the public class may not write one. Every
// dunder name is refused, not only the class's own: tools look such names up on instances
// (copy's `__deepcopy__`, `__fspath__`, `__html__`, ...), and a variable would answer them.
bool is_reserved_name(PyTypeObject* type, PyObject* name);

// A key the public class writes as it is: an exact str it does not reserve. (Anything else is
// converted, or refused, by the checking path.)
bool takes_key_as_is(PyObject* key);

// A name no store can reserve, so that assigning it needs no check: an exact str that does
// not begin with "_".
inline bool is_plain_name(PyObject* key) noexcept {
    return PyUnicode_CheckExact(key) && (PyUnicode_GET_LENGTH(key) == 0 || PyUnicode_READ_CHAR(key, 0) != '_');
}

// A value a store holds as the object it is, with nothing inside to check or convert: a plain
// scalar or a store.
inline bool holds_as_is(PyObject* value) noexcept { return is_plain_scalar(value) || is_store(value); }

// "__name__": two underscores at each end, and something between them.
bool is_dunder_name(PyObject* name) noexcept;

}  // namespace store
