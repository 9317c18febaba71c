// Direct type slots of the public class (slots.cpp).
#pragma once

#include "capi/python.hpp"

namespace store {

// Points the class's protocol slots at the C functions of its methods; after bind() has put
// the methods on the class.
void install_direct_slots(PyObject* cls);

// The attribute-assignment slot it installs.
setattrofunc direct_setattr_slot();

// read_slots(cls): the reading slots of the public class, written on a subclass of it.
PyObject* install_read_slots(PyObject* module, PyObject* cls);

}  // namespace store
