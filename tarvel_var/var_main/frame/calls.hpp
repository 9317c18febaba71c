// Calls from one method to another, and the attribute access they rest on (the containers
// every subsystem walks are in frame/containers.hpp).
//
// A method calls another through attribute lookup on the instance at the moment of the call
// (`self._set_attr(...)`), so a subclass's override or an instance variable of that name is
// the one used. Where the lookup would find our own method anyway, nothing observable
// depends on it and the fast paths call the body directly (own_method()).
#pragma once

#include "capi/python.hpp"

#include <initializer_list>
#include <optional>

#include "frame/toolkit.hpp"
#include "frame/method_spec.hpp"
#include "frame/runtime.hpp"

namespace var_main {

// self.<name>(*args), with keyword names for the trailing arguments if `kwnames` is given.
Ref call_method(PyObject* self, PyObject* name, std::initializer_list<PyObject*> args,
                PyObject* kwnames = nullptr);

// self.<which>(*args), like call_method(); when the lookup would find our own method, its body
// is run directly, after the same argument type tests. Keyword names, if any, must name the
// parameters that follow the positional ones, in order.
Ref call(PyObject* self, Method which, std::initializer_list<PyObject*> args,
         PyObject* kwnames = nullptr, PyObject* dict = nullptr);

// True when looking `which` up on `self` would find our own method object: the class uses
// the ordinary attribute lookup, does not override the method, and the instance dictionary
// does not hide it. `dict` is the instance dictionary if the caller holds it, else nullptr.
bool own_method(PyObject* self, Method which, PyObject* dict = nullptr);

// self.<name> by the class's __getattribute__ alone (object's generic lookup unless
// overridden), without the fallback to the class's __getattr__, which answers every name:
// the value, or nullopt when the lookup raised AttributeError (cleared). Other exceptions
// propagate.
std::optional<Ref> attribute_without_fallback(PyObject* self, PyObject* name);

// self.__dict__, by ordinary attribute lookup.
Ref instance_dict(PyObject* self);

// self.<flag> for one of the flags `_g_n_r` and `_g_n_i` or the store factory `_i_c_u`, by
// ordinary attribute lookup.
// `dict` is the instance dictionary if the caller holds it, else nullptr.
Ref read_flag(PyObject* self, PyObject* name, PyObject* dict = nullptr);

// setattr(self, name, value). When the class's __setattr__ is our own hook, its body runs
// directly, after the same name handling and argument tests as the interpreter's call.
void set_attribute(PyObject* self, PyObject* name, PyObject* value);

}  // namespace var_main
