// What the native half of the public class knows about the world it is bound into: the class
// `TarvelVar`, the objects of `var_main` it calls or compares against, and interned names.
// Set once by bind(), which the package calls when it defines the class; the module admits
// one interpreter per process, as var_main does.
#pragma once

#include "capi/python.hpp"

#include "capi/names.hpp"
#include "capi/refs.hpp"

namespace store {

using capi::StaticRef;

struct Names : capi::CommonNames {  // the internal variables and protocol names, and:
    StaticRef skip;
    StaticRef set_class;
    StaticRef mv_add;
    StaticRef mv_set;
    StaticRef set_dict;
    StaticRef set_list;
    StaticRef set_attr;
    StaticRef dunder_setattr;
    StaticRef mv_pop;
    StaticRef mv_clear;
    StaticRef mv_get;
    StaticRef mv_keys;
    StaticRef mv_to_dict;
    StaticRef to_dict;
    StaticRef list_to_dict;
    StaticRef mv_items;
    StaticRef dunder_class;
    StaticRef frozen_marker;  // "__tarvel_frozen__", True on the frozen variants
    // what the origin walk reads of the records and layers of origins.py
    StaticRef setter;
    StaticRef touched;
    StaticRef below;
    StaticRef at;
    StaticRef lines;
    StaticRef origin;
};

struct State {
    Names names;
    StaticRef main_cls;        // var_main.TarvelVarMain
    StaticRef public_cls;      // tarvel_var.TarvelVar
    StaticRef mapping_abc;     // collections.abc.Mapping
    StaticRef main_getattr;    // TarvelVarMain.__getattr__
    StaticRef main_setattr;    // TarvelVarMain.__setattr__
    StaticRef setattr_method;  // the class's `__setattr__` as bind() put it
    StaticRef main_dict_descriptor;
    StaticRef object_getattribute;
    StaticRef object_delattr;
    StaticRef strict_factory;  // tarvel_var._store.strict_store
    StaticRef loose_factory;   // tarvel_var._store.loose_store
    StaticRef get_method;      // the class's `get` and `keys` as bind() put them
    StaticRef keys_method;
    StaticRef add_method;      // the class's `add` as bind() put it
    getattrofunc main_getattro = nullptr;
    initproc init_slot = nullptr;          // the class's tp_init as bind() set it
    // the class's tp_setattro as bind() left it: ours, or the interpreter's where it refuses
    // object.__setattr__ on classes with a slot written by C code
    setattrofunc setattr_slot = nullptr;
    bool bound = false;
};

extern State state;
inline const Names& names() { return state.names; }

// Interns the names; false with an exception set.
bool init_names();

}  // namespace store
