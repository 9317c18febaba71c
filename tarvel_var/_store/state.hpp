// What the native half of the public class knows about the world it is bound into: the class
// `TarvelVar`, the objects of `var_main` it calls or compares against, and interned names.
// Set once by bind(), which the package calls when it defines the class; the module admits
// one interpreter per process, as var_main does.
#pragma once

#include <Python.h>

namespace tvs {

struct Names {
    PyObject* i_c_u;
    PyObject* g_n_r;
    PyObject* g_n_i;
    PyObject* g_n_s;
    PyObject* skip;
    PyObject* set_class;
    PyObject* mv_add;
    PyObject* mv_set;
    PyObject* set_dict;
    PyObject* set_list;
    PyObject* set_attr;
    PyObject* dunder_setattr;
    PyObject* dunder_delattr;
    PyObject* add;
    PyObject* mv_pop;
    PyObject* mv_clear;
    PyObject* mv_get;
    PyObject* mv_keys;
    PyObject* mv_to_dict;
    PyObject* to_dict;
    PyObject* list_to_dict;
    PyObject* dunder_dict;
    PyObject* dunder_getattribute;
    PyObject* keys;
    PyObject* get;
    PyObject* dot;
};

struct State {
    Names names{};
    PyObject* main_cls = nullptr;        // var_main.TarvelVarMain
    PyObject* public_cls = nullptr;      // tarvel_var.TarvelVar
    PyObject* mapping_abc = nullptr;     // collections.abc.Mapping
    PyObject* main_getattr = nullptr;    // TarvelVarMain.__getattr__
    PyObject* main_setattr = nullptr;    // TarvelVarMain.__setattr__
    PyObject* setattr_method = nullptr;  // the class's `__setattr__` as bind() put it
    PyObject* main_dict_descriptor = nullptr;
    PyObject* object_getattribute = nullptr;
    PyObject* object_delattr = nullptr;
    PyObject* strict_factory = nullptr;  // tarvel_var._store.strict_store
    PyObject* get_method = nullptr;      // the class's `get` and `keys` as bind() put them
    PyObject* keys_method = nullptr;
    PyObject* add_method = nullptr;      // the class's `add` as bind() put it
    getattrofunc main_getattro = nullptr;
    initproc init_slot = nullptr;          // the class's tp_init as bind() set it
    bool bound = false;
};

extern State state;
inline const Names& names() { return state.names; }

// Interns the names; false with an exception set.
bool init_names();

}  // namespace tvs
