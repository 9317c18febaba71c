// Process-wide objects of the module, made once by the execution step of the first import
// (the module admits one interpreter per process): interned names and the class with its
// method objects, which the fast paths compare against.
#pragma once

#include <Python.h>

#include <array>

#include "frame/method_spec.hpp"

namespace tv {

struct Names {
    // internal variables, in the order `_skip` lists them
    PyObject* i_c_u;
    PyObject* g_n_r;
    PyObject* g_n_i;
    PyObject* g_n_s;
    // protocol names
    PyObject* dunder_dict;
    PyObject* dunder_getattribute;
    PyObject* dunder_delattr;
    PyObject* add;
    PyObject* keys;
    PyObject* get;
    PyObject* items;
    PyObject* append;
    PyObject* startswith;
    // literals
    PyObject* dollar_dot;    // "$."
    PyObject* dot;           // "."
    PyObject* new_kwnames;   // ("new",)
    // per method, its interned name and the interned names of its parameters
    std::array<PyObject*, kMethodCount> methods;
    std::array<std::array<PyObject*, kMaxParams>, kMethodCount> params;
};

struct Runtime {
    Names names;
    PyObject* cls = nullptr;                                 // TarvelVarMain
    std::array<PyObject*, kMethodCount> functions{};         // our method objects
    getattrofunc cls_getattro = nullptr;                     // tp_getattro of the class
    setattrofunc cls_setattro = nullptr;                     // tp_setattro of the class
    reprfunc cls_repr = nullptr;                             // tp_repr of the class
    PyObject* cls_dict_descriptor = nullptr;                 // TarvelVarMain.__dict__ getset
    PyObject* object_getattribute = nullptr;                 // object.__getattribute__
    PyObject* object_delattr = nullptr;                      // object.__delattr__
    bool ready = false;
};

extern Runtime runtime;
inline const Names& names() { return runtime.names; }
inline PyObject* method_name(Method which) { return runtime.names.methods[index_of(which)]; }

// Interns every name once; false with an exception set on failure.
bool init_names();

}  // namespace tv
