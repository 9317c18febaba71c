// Making, filling and reading stores through the public class: the constructor, add(),
// merge(), to_dict(), strict stores and the missing-attribute hook.
#include <cstring>

#include "build.hpp"
#include "capi/cpython_private.hpp"
#include "convert.hpp"
#include "data.hpp"
#include "methods.hpp"
#include "missing.hpp"

namespace store {
namespace {

// Whether the store's flag `name` (`_g_n_s`, `_g_n_i`), read from its dictionary, is set; a
// store that holds no such flag has it unset.
bool flag_is_set(PyObject* self, PyObject* name) {
    Ref dict = instance_dict(self);
    if (!PyDict_Check(dict.get())) return false;
    PyObject* flag = nullptr;
    if (require_status(PyDict_GetItemRef(dict.get(), name, &flag)) == 0) return false;
    Ref flag_ref = Ref::steal(flag);
    return capi::truth(flag_ref.get());
}

// What the constructor does before it takes in data.
void set_up(PyObject* self, PyObject* reprint, PyObject* inherit, bool strict) {
    if (set_up_fresh_store(self, reprint, inherit, strict)) return;
    PyObject* factory = strict ? state.strict_factory : state.loose_factory;
    call_store_method(self, names().set_class, {factory, reprint, inherit});
    if (strict) {
        Ref dict = instance_dict(self);
        require_status(PyObject_SetItem(dict.get(), names().g_n_s, Py_True));
    }
}

// A store that holds nothing yet, not even its internal variables: the constructor's own.
bool is_fresh(PyObject* self) {
    Ref dict = instance_dict(self);
    return PyDict_Check(dict.get()) && PyDict_GET_SIZE(dict.get()) == 0;
}

void fill(PyObject* self, PyObject* prepared) {
    call_store_method(self, names().mv_add, {prepared});
}

}  // namespace

namespace {

void build(PyObject* self, PyObject* data, PyObject* reprint, PyObject* inherit, bool strict) {
    if (PyDict_CheckExact(data) && is_fresh(self)) {
        // Plain data is checked while it is built; anything the direct build does not take (a
        // key to refuse, a mapping to convert) goes the general way, on a store that holds
        // nothing yet.
        set_up(self, reprint, inherit, strict);
        if (build_directly(self, data, strict)) return;
        Ref prepared = prepare_data(Py_TYPE(self), data, "TarvelVar()");
        fill(self, prepared.get());
        return;
    }
    Ref prepared;
    if (data != Py_None) prepared = prepare_data(Py_TYPE(self), data, "TarvelVar()");
    set_up(self, reprint, inherit, strict);
    if (prepared) fill(self, prepared.get());
}

// Freezing is written in Python (tarvel_var.frozen): it is no hot path, and only a store built
// frozen imports it.
void freeze(PyObject* self) {
    Ref module = require(PyImport_ImportModule("tarvel_var.frozen"));
    Ref function = require(PyObject_GetAttrString(module.get(), "freeze"));
    require(PyObject_CallOneArg(function.get(), self));
}

}  // namespace

Ref init_impl(PyObject* self, PyObject* data, PyObject* reprint, PyObject* inherit, PyObject* strict_flag,
              PyObject* frozen_flag) {
    // strict unless asked otherwise; asking for the name as the answer to a missing attribute
    // (reprint) asks for the core's reads
    const bool strict = strict_flag == Py_None ? !capi::truth(reprint) : capi::truth(strict_flag);
    build(self, data, reprint, inherit, strict);
    if (frozen_flag != Py_False && capi::truth(frozen_flag)) freeze(self);
    return capi::none();
}

PyObject* add(PyObject* self, PyObject* args, PyObject* kwargs) {
    return entry([&] {
        if (PyTuple_GET_SIZE(args) != 0) {
            raise(PyExc_TypeError, "add() takes 0 positional arguments but %zd were given",
                  PyTuple_GET_SIZE(args));
        }
        // The keyword dict is the caller's own when the store's merge calls add(**entries): it
        // is only read.
        Ref entries = kwargs != nullptr ? Ref::borrow(kwargs) : require(PyDict_New());
        // What the interpreter checks before it calls a function with **entries: a C function
        // handed the dict itself must check it.
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(entries.get(), &pos, &key, &value)) {
            if (!PyUnicode_Check(key)) raise(PyExc_TypeError, "keywords must be strings");
        }
        // the store factory's new store being filled, as the merge fills every nested store;
        // else checked as merge() checks its data, since add() is public too
        if (fill_fresh_store(self, entries.get())) return Py_NewRef(Py_None);
        Ref prepared = prepare_data(Py_TYPE(self), entries.get(), "add()");
        fill(self, prepared.get());
        return Py_NewRef(Py_None);
    });
}

PyObject* merge(PyObject* self, PyObject* data) {
    return entry([&] {
        Ref prepared = prepare_data(Py_TYPE(self), data, "merge()");
        fill(self, prepared.get());
        return Py_NewRef(Py_None);
    });
}

Ref to_dict_impl(PyObject* self, PyObject* sort) {
    // the truth of `sort` is taken once; the public to_dict sorts every level, as dumps does
    PyObject* ordered = capi::truth(sort) ? Py_True : Py_False;
    if (Ref plain = convert_directly(self, ordered)) return plain;
    Ref plain = call_store_method(self, names().mv_to_dict, {ordered});
    return ordered == Py_True ? sorted_at_every_level(plain.get()) : plain;
}

PyObject* getattr_hook(PyObject* self, PyObject* name) {
    return entry([&] {
        // protocol probes (__deepcopy__, __array_interface__, ...) must see a missing attribute
        if (PyUnicode_Check(name) && is_dunder_name(name)) raise_missing_attribute(self, name, false);
        if (PyUnicode_Check(name) && flag_is_set(self, names().g_n_s)) raise_missing_attribute(self, name, true);
        PyObject* stack[] = {self, name};
        return require(PyObject_Vectorcall(state.main_getattr, stack, 2, nullptr)).release();
    });
}

// The assignment as the core's chain would make it on a store of the class itself, written
// straight into the instance dictionary: a value held as it is (a plain scalar, a store, or
// anything under the inherit flag), or plain data built into a nested store or a converted
// list. False, having changed nothing, when the chain must run.
bool assign_directly(PyObject* self, PyObject* name, PyObject* value) {
    if (!PyUnicode_CheckExact(name) || !class_is_pristine(Py_TYPE(self))) return false;
    Ref dict = require(PyObject_GenericGetDict(self, nullptr));
    if (!PyDict_CheckExact(dict.get())) return false;
    const Names& n = names();
    PyObject* flag = nullptr;
    if (require_status(PyDict_GetItemRef(dict.get(), n.g_n_i, &flag)) == 0) return false;
    Ref inherit = Ref::steal(flag);
    // a flag whose truth test could run code, or a `_set_attr` the hook would call instead
    if (!PyBool_Check(inherit.get()) || require_status(PyDict_Contains(dict.get(), n.set_attr)) == 1) {
        return false;
    }
    if (inherit.get() == Py_True || holds_as_is(value)) {
        require_status(PyDict_SetItem(dict.get(), name, value));
        return true;
    }
    const Kind kind = classify(value);
    if (kind != Kind::Dict && kind != Kind::List) return false;
    const bool is_dict = kind == Kind::Dict;
    // the links of the chain an instance variable could hide
    PyObject* const links[] = {is_dict ? n.set_dict : n.set_list, is_dict ? n.mv_set : n.set_list};
    for (PyObject* link : links) {
        if (require_status(PyDict_Contains(dict.get(), link)) == 1) return false;
    }
    PyObject* factory = nullptr;
    if (require_status(PyDict_GetItemRef(dict.get(), n.i_c_u, &factory)) == 0) return false;
    Ref factory_ref = Ref::steal(factory);
    if (factory != state.loose_factory && factory != state.strict_factory) return false;
    Ref built = build_value(value, factory == state.strict_factory);
    if (!built) return false;
    // a nested store is registered as the merge registers it, under the interned name
    Ref key = is_dict ? capi::intern_attribute_name(name) : Ref::borrow(name);
    require_status(PyDict_SetItem(dict.get(), key.get(), built.get()));
    return true;
}

// Attribute assignment converts as item assignment does: a dict subclass or any other Mapping
// becomes a nested store, and nested data is checked for keys the store keeps for itself, all
// before the store changes. The name is the caller's to choose, as for the core's own
// assignment; with the inherit flag a value is stored as it is. The core's hook then stores it.
void assign_attribute(PyObject* self, PyObject* name, PyObject* value) {
    if (assign_directly(self, name, value)) return;
    Ref stored = Ref::borrow(value);
    if (!holds_as_is(value) && !flag_is_set(self, names().g_n_i)) {
        stored = prepare_value(Py_TYPE(self), name, value);
    }
    PyObject* stack[] = {self, name, stored.get()};
    require(PyObject_Vectorcall(state.main_setattr, stack, 3, nullptr));
}

PyObject* setattr_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2) {
        PyErr_Format(PyExc_TypeError, "__setattr__ expected 2 arguments, got %zd", nargs);
        return nullptr;
    }
    return entry([&] {
        assign_attribute(self, args[0], args[1]);
        return Py_NewRef(Py_None);
    });
}

namespace {

Ref new_public_store(bool strict) {
    PyTypeObject* type = reinterpret_cast<PyTypeObject*>(state.public_cls.get());
    Ref no_args = require(PyTuple_New(0));
    Ref store = require(type->tp_new(type, no_args.get(), nullptr));
    set_up(store.get(), Py_False, Py_False, strict);
    return store;
}

}  // namespace

// The store factories the core calls with no arguments for a nested store: TarvelVar() and
// TarvelVar(strict=False), without the keyword argument the class would parse every time.
PyObject* strict_store(PyObject*, PyObject*) {
    return entry([&] { return new_public_store(true).release(); });
}

PyObject* loose_store(PyObject*, PyObject*) {
    return entry([&] { return new_public_store(false).release(); });
}

}  // namespace store
