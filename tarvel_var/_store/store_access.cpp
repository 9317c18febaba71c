#include "store_access.hpp"

#include "capi/class_cache.hpp"
#include "capi/cpython_private.hpp"
#include "capi/dict_states.hpp"
#include "slots.hpp"

#include <array>
#include <optional>
#include <cstdint>

namespace store {

namespace {

// What a store's class does with lookup, per state of the class.
struct Facts {
    bool ordinary = false;   // object's __getattribute__ behind the hook, the usual __dict__
    bool own_listing = false;  // `_skip` and `_mv_keys` are var_main's own
    bool own_conversion = false;  // `_skip`, `_mv_to_dict`, `_to_dict`, `_list_to_dict` too
    bool own_get = false;  // `get` and `keys` (a view of the listing) ours, `_mv_get` var_main's
    // The public class itself as bind() left it: var_main's own set-up and merge chain, our
    // `add`, constructor and attribute hook, and no class attribute named like an internal
    // variable. Then building a store gives what the merge would give.
    bool pristine = false;
    // Pristine, with var_main's own `_mv_pop` and `_mv_clear` and object's own deletion: then
    // removing a variable that no class attribute names is popping it from the dictionary.
    bool own_removal = false;
    // Attribute assignment is the public class's own `__setattr__`, through its slot.
    bool own_assignment = false;
};

bool is_main_method(PyTypeObject* type, PyObject* name) noexcept {
    PyObject* own = class_attribute(reinterpret_cast<PyTypeObject*>(state.main_cls.get()), name);
    return own != nullptr && class_attribute(type, name) == own;
}


Facts compute(PyTypeObject* type) noexcept {
    Facts facts;
    if (!state.bound) return facts;
    const Names& n = names();
    const capi::OrdinaryLookup ordinary{state.main_getattro, state.object_getattribute,
                                        state.main_dict_descriptor};
    facts.ordinary = capi::has_ordinary_lookup(type, ordinary, n.dunder_getattribute, n.dunder_dict);
    if (!facts.ordinary) return facts;
    facts.own_listing = is_main_method(type, n.skip) && is_main_method(type, n.mv_keys);
    facts.own_conversion = is_main_method(type, n.skip) &&
                           is_main_method(type, n.mv_to_dict) && is_main_method(type, n.to_dict) &&
                           is_main_method(type, n.list_to_dict);
    facts.own_get = state.get_method &&
                    class_attribute(type, n.get) == state.get_method &&
                    class_attribute(type, n.keys) == state.keys_method && is_main_method(type, n.mv_get);
    facts.own_assignment = type->tp_setattro == state.setattr_slot &&
                           class_attribute(type, n.dunder_setattr) == state.setattr_method;
    facts.pristine = reinterpret_cast<PyObject*>(type) == state.public_cls &&
                     type->tp_init == state.init_slot && facts.own_assignment &&
                     class_attribute(type, n.add) == state.add_method;
    for (PyObject* name : std::initializer_list<PyObject*>{n.mv_add, n.set_dict, n.set_list, n.mv_set, n.set_attr, n.set_class, n.skip}) {
        facts.pristine = facts.pristine && is_main_method(type, name);
    }
    for (PyObject* name : std::initializer_list<PyObject*>{n.i_c_u, n.g_n_r, n.g_n_i, n.g_n_s}) {
        facts.pristine = facts.pristine && class_attribute(type, name) == nullptr;
    }
    facts.own_removal = facts.pristine && is_main_method(type, n.mv_pop) && is_main_method(type, n.mv_clear) &&
                        class_attribute(type, n.dunder_delattr) == state.object_delattr;
    return facts;
}

capi::ClassCache<Facts, 8> facts_cache;

Facts facts_of(PyTypeObject* type) noexcept { return facts_cache.get(type, compute); }

bool dict_hides(PyObject* dict, PyObject* name) {
    return require_status(PyDict_Contains(dict, name)) == 1;
}

}  // namespace

Ref instance_dict(PyObject* self) {
    if (facts_of(Py_TYPE(self)).ordinary) return require(PyObject_GenericGetDict(self, nullptr));
    return require(PyObject_GetAttr(self, names().dunder_dict));
}

Ref call_store_method(PyObject* self, PyObject* name, std::initializer_list<PyObject*> args) {
    std::array<PyObject*, 6> stack{};  // a slot before self, for the vectorcall offset
    stack[1] = self;
    size_t count = 1;
    for (PyObject* arg : args) stack[1 + count++] = arg;
    PyTypeObject* type = Py_TYPE(self);
    if (facts_of(type).ordinary) {
        PyObject* found = class_attribute(type, name);
        if (found != nullptr && PyType_HasFeature(Py_TYPE(found), Py_TPFLAGS_METHOD_DESCRIPTOR)) {
            Ref method = Ref::borrow(found);  // the dict test below may run code
            Ref dict = require(PyObject_GenericGetDict(self, nullptr));
            if (PyDict_CheckExact(dict.get()) && !dict_hides(dict.get(), name)) {
                return require(PyObject_Vectorcall(method.get(), stack.data() + 1,
                                                   count | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
            }
        }
    }
    return require(PyObject_VectorcallMethod(name, stack.data() + 1,
                                             count | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

namespace {

// What was found out about one state of an instance dictionary: repeated reads of an
// unchanged store skip the lookups that found out.
struct DictFacts {
    Py_ssize_t internal = -1;  // how many internal variables it holds; -1 until counted
    bool hides_mv_get = true;  // whether it holds a variable `_mv_get`
};
capi::DictStateCache<DictFacts, 64> dict_cache;

}  // namespace

namespace {

// variables_dict() for a class whose listing is var_main's own, and whether the dictionary
// hides `_mv_get` (answered from the record of the dictionary's state where there is one).
Ref listing_dict(PyObject* self, bool& hides_mv_get) {
    Ref dict = require(PyObject_GenericGetDict(self, nullptr));
    if (!PyDict_CheckExact(dict.get())) return Ref();
    if (DictFacts* known = dict_cache.find(dict.get())) {
        hides_mv_get = known->hides_mv_get;
        return dict;
    }
    const std::uint64_t state = capi::dict_state_to_record(dict.get());
    if (dict_hides(dict.get(), names().skip) || dict_hides(dict.get(), names().mv_keys)) return Ref();
    hides_mv_get = dict_hides(dict.get(), names().mv_get);
    dict_cache.remember(dict.get(), state, DictFacts{-1, hides_mv_get});
    return dict;
}

}  // namespace

Ref variables_dict(PyObject* self) {
    if (!facts_of(Py_TYPE(self)).own_listing) return Ref();
    bool hides_mv_get = false;
    return listing_dict(self, hides_mv_get);
}

Ref own_items_dict(PyObject* self) {
    return is_main_method(Py_TYPE(self), names().mv_items) ? variables_dict(self) : Ref();
}

bool class_is_pristine(PyTypeObject* type) noexcept { return facts_of(type).pristine; }

bool has_own_assignment(PyTypeObject* type) noexcept {
    return type->tp_setattro == direct_setattr_slot() || facts_of(type).own_assignment;
}

std::optional<Ref> get_directly(PyObject* obj, PyObject* name) {
    const Facts facts = facts_of(Py_TYPE(obj));
    if (!facts.own_listing || !facts.own_get || !PyUnicode_CheckExact(name)) return std::nullopt;
    bool hides_mv_get = true;
    Ref dict = listing_dict(obj, hides_mv_get);
    if (!dict || hides_mv_get) return std::nullopt;
    if (is_internal_name(name)) return Ref();
    PyObject* found = nullptr;
    if (require_status(PyDict_GetItemRef(dict.get(), name, &found)) == 0) return Ref();
    return Ref::steal(found);
}

Ref removal_dict(PyObject* self) {
    if (!facts_of(Py_TYPE(self)).own_removal) return Ref();
    Ref dict = variables_dict(self);
    if (!dict) return Ref();
    const Names& n = names();
    if (dict_hides(dict.get(), n.mv_pop) || dict_hides(dict.get(), n.mv_clear)) return Ref();
    return dict;
}

Ref conversion_dict(PyObject* self) {
    if (!facts_of(Py_TYPE(self)).own_conversion) return Ref();
    Ref dict = require(PyObject_GenericGetDict(self, nullptr));
    if (!PyDict_CheckExact(dict.get())) return Ref();
    const Names& n = names();
    for (PyObject* name : std::initializer_list<PyObject*>{n.skip, n.mv_to_dict, n.to_dict, n.list_to_dict}) {
        if (dict_hides(dict.get(), name)) return Ref();
    }
    return dict;
}

bool has_own_get(PyObject* obj, PyObject* dict) {
    if (!facts_of(Py_TYPE(obj)).own_get) return false;
    Ref own_dict;
    if (dict == nullptr) {
        own_dict = require(PyObject_GenericGetDict(obj, nullptr));
        dict = own_dict.get();
    }
    if (!PyDict_CheckExact(dict)) return false;
    if (DictFacts* known = dict_cache.find(dict)) return !known->hides_mv_get;
    return !dict_hides(dict, names().mv_get);
}

Ref plain_instance_dict(PyObject* obj) {
    if (!facts_of(Py_TYPE(obj)).ordinary) return Ref();
    Ref dict = require(PyObject_GenericGetDict(obj, nullptr));
    return PyDict_CheckExact(dict.get()) ? dict : Ref();
}

Ref listed_keys(PyObject* self) { return call_store_method(self, names().mv_keys, {}); }

namespace {

// Set-up writes the internal variables first, and a dict's keys are distinct: when the four
// lead, no other entry is one.
bool leads_with_internal_names(PyObject* dict) noexcept {
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    for (int i = 0; i < 4; ++i) {
        if (!PyDict_Next(dict, &pos, &key, &value) || !PyUnicode_Check(key) || !is_internal_name(key)) {
            return false;
        }
    }
    return true;
}

}  // namespace

Ref variable_names(PyObject* self) {
    Ref dict = variables_dict(self);
    if (!dict) return listed_keys(self);
    // the listing's own answer: the dictionary's keys without the internal variables
    if (leads_with_internal_names(dict.get())) {
        // the common layout, the four first: the list is made at its size and filled past
        // them (no Python code runs while the dictionary is walked)
        const Py_ssize_t size = PyDict_GET_SIZE(dict.get()) - 4;
        Ref names_out = require(PyList_New(size));
        Py_ssize_t pos = 0;
        Py_ssize_t index = -4;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(dict.get(), &pos, &key, &value)) {
            if (index >= 0) PyList_SET_ITEM(names_out.get(), index, Py_NewRef(key));
            ++index;
        }
        return names_out;
    }
    Ref keys = require(PyDict_Keys(dict.get()));
    Ref names_out = require(PyList_New(0));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(keys.get()); ++i) {
        PyObject* key = PyList_GET_ITEM(keys.get(), i);
        if (PyUnicode_Check(key) && is_internal_name(key)) continue;
        require_status(PyList_Append(names_out.get(), key));
    }
    return names_out;
}

bool find_variable(PyObject* self, PyObject* name, Ref* value) {
    if (PyUnicode_CheckExact(name)) {
        if (Ref dict = variables_dict(self)) {
            if (is_internal_name(name)) return false;
            PyObject* found = nullptr;
            if (require_status(PyDict_GetItemRef(dict.get(), name, &found)) == 0) return false;
            Ref found_ref = Ref::steal(found);
            if (value != nullptr) *value = std::move(found_ref);
            return true;
        }
    }
    Ref keys = listed_keys(self);
    if (require_status(PySequence_Contains(keys.get(), name)) == 0) return false;
    if (value == nullptr) return true;
    Ref dict = instance_dict(self);
    PyObject* found = nullptr;
    // Listed but gone since (code run by the listing): the store no longer holds it.
    if (require_status(PyMapping_GetOptionalItem(dict.get(), name, &found)) == 0) return false;
    *value = Ref::steal(found);
    return true;
}

Py_ssize_t count_variables(PyObject* self) {
    if (Ref dict = variables_dict(self)) {
        DictFacts* known = dict_cache.find(dict.get());  // the listing has just looked at the dict
        if (known != nullptr && known->internal >= 0) return PyDict_GET_SIZE(dict.get()) - known->internal;
        // without lookups: the walks of many stores, as ==, meet each dict once
        if (leads_with_internal_names(dict.get())) {
            if (known != nullptr) known->internal = 4;
            return PyDict_GET_SIZE(dict.get()) - 4;
        }
        // An entry equal to an internal name is one entry: a dict holds one per equal key.
        const std::uint64_t state = capi::dict_state_to_record(dict.get());
        Py_ssize_t internal = 0;
        const Names& n = names();
        for (PyObject* name : std::initializer_list<PyObject*>{n.i_c_u, n.g_n_r, n.g_n_i, n.g_n_s}) {
            internal += require_status(PyDict_Contains(dict.get(), name));
        }
        const bool hides_mv_get = dict_hides(dict.get(), names().mv_get);
        dict_cache.remember(dict.get(), state, DictFacts{internal, hides_mv_get});
        return PyDict_GET_SIZE(dict.get()) - internal;
    }
    Ref keys = listed_keys(self);
    const Py_ssize_t count = PyObject_Length(keys.get());
    if (count < 0) throw_error();
    return count;
}

bool is_store_by_name(PyObject* obj) noexcept {
    PyTypeObject* type = Py_TYPE(obj);
    return reinterpret_cast<PyObject*>(type) == state.public_cls || capi::is_named_tarvel_var(type);
}

bool is_store(PyObject* obj) noexcept {
    return state.main_cls != nullptr &&
           PyObject_TypeCheck(obj, reinterpret_cast<PyTypeObject*>(state.main_cls.get()));
}

void raise_key_error(PyObject* key) {
    Ref args = require(PyTuple_Pack(1, key));  // a tuple key must not become the arguments
    PyErr_SetObject(PyExc_KeyError, args.get());
    throw_error();
}


}  // namespace store

namespace store {

bool is_reserved_name(PyTypeObject* type, PyObject* name) {
    if (PyUnicode_GET_LENGTH(name) == 0 || PyUnicode_READ_CHAR(name, 0) != '_') return false;
    return is_internal_name(name) || is_dunder_name(name) || class_attribute(type, name) != nullptr;
}

bool takes_key_as_is(PyObject* key) {
    return PyUnicode_CheckExact(key) &&
           !is_reserved_name(reinterpret_cast<PyTypeObject*>(state.public_cls.get()), key);
}

bool is_dunder_name(PyObject* name) noexcept {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(name);
    return length > 4 && PyUnicode_READ_CHAR(name, 0) == '_' && PyUnicode_READ_CHAR(name, 1) == '_' &&
           PyUnicode_READ_CHAR(name, length - 1) == '_' && PyUnicode_READ_CHAR(name, length - 2) == '_';
}

}  // namespace store
