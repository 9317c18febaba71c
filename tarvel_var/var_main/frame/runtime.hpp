// Process-wide objects of the module, made once by the execution step of the first import
// (the module admits one interpreter per process): interned names and the class with its
// method objects, which the fast paths compare against.
#pragma once

#include "capi/python.hpp"

#include <array>

#include "frame/method_spec.hpp"
#include "capi/names.hpp"
#include "frame/toolkit.hpp"

namespace var_main {

struct Names : capi::CommonNames {  // the internal variables and protocol names, and:
    StaticRef items;
    StaticRef append;
    StaticRef startswith;
    StaticRef dollar_dot;    // "$."
    StaticRef new_kwnames;   // ("new",)
    // per method, its interned name and the interned names of its parameters
    std::array<StaticRef, kMethodCount> methods;
    std::array<std::array<StaticRef, kMaxParams>, kMethodCount> params;
};

struct Runtime {
    Names names;
    StaticRef cls;                                           // TarvelVarMain
    std::array<StaticRef, kMethodCount> functions;           // our method objects
    getattrofunc cls_getattro = nullptr;                     // tp_getattro of the class
    setattrofunc cls_setattro = nullptr;                     // tp_setattro of the class
    reprfunc cls_repr = nullptr;                             // tp_repr of the class
    StaticRef cls_dict_descriptor;                           // TarvelVarMain.__dict__ getset
    StaticRef object_getattribute;                           // object.__getattribute__
    StaticRef object_delattr;                                // object.__delattr__
    bool ready = false;
};

extern Runtime runtime;
inline const Names& names() { return runtime.names; }
inline PyObject* method_name(Method which) { return runtime.names.methods[index_of(which)]; }

// Interns every name once; false with an exception set on failure.
bool init_names();

}  // namespace var_main
