// The descriptor that puts a public method on the class so that it stays reachable when the
// store holds a variable of the same name (`keys`, `items`, `pop`, ...): as a data descriptor
// it wins over the instance dictionary, while the variable stays in the store. Assigning or
// deleting through it writes the variable (the store's own assignment never reaches it).
//
// Read through an instance it gives the bound method; read through the class it is itself,
// and calling it then takes the store as the first argument (`TarvelVar.keys(store)`).
#pragma once

#include "capi/python.hpp"

#include "capi/refs.hpp"

namespace store {

// Readies the type; false with an exception set.
bool ready_contract_type();

// A descriptor for the C function `def` of the class `cls`.
capi::Ref new_contract_method(PyObject* cls, PyMethodDef* def);

// A descriptor for a method written in Python (a function, which binds as methods do): the
// class body declares such methods with the decorator `public_method`.
capi::Ref new_contract_function(PyObject* function);

}  // namespace store
