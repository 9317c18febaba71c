// The methods of the public class, declared once (method_table.cpp).
#pragma once

#include "capi/python.hpp"

namespace store {

// The interpreter's method definitions, made from the declarations, null-terminated: the
// protocol methods, and the public ones that stay reachable beside variables of their names.
PyMethodDef* protocol_method_table();
PyMethodDef* public_method_table();

// TarvelVar's constructor called with a tuple and a dict (its type's tp_init), parsed by the
// same declaration as the method.
int init_from_tuple(PyObject* self, PyObject* args, PyObject* kwargs);

}  // namespace store
