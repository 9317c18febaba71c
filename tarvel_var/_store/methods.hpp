// The methods of the public class written here. The ones whose arguments the table in
// method_table.cpp parses are bodies of checked, named arguments (`_impl`, returning a new
// reference or throwing); the others are entry points from the interpreter themselves and keep
// C++ exceptions inside.
#pragma once

#include "capi/python.hpp"

#include <cstddef>

#include "capi/errors.hpp"
#include "capi/refs.hpp"

namespace store {

using capi::Ref;

// A C function of any of the method signatures, as the PyCFunction a method table holds.
template <class F>
PyCFunction as_cfunction(F function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// Adds the functions of one part of the module (its own table) to the module; throws on failure.
template <std::size_t N>
void add_functions(PyObject* module, PyMethodDef (&functions)[N]) {
    for (PyMethodDef& def : functions) {
        Ref function = capi::require(PyCFunction_NewEx(&def, nullptr, nullptr));
        capi::require_status(PyModule_AddObjectRef(module, def.ml_name, function.get()));
    }
}

// Runs the body of a method that returns an object, in the C-API convention.
template <class Body>
PyObject* entry(Body&& body) {
    return capi::at_boundary<PyObject*>(nullptr, body);
}

// mapping.cpp: the mapping protocol over the store's variables
PyObject* getitem(PyObject* self, PyObject* key);
Ref setitem_impl(PyObject* self, PyObject* key, PyObject* value);
PyObject* delitem(PyObject* self, PyObject* key);
PyObject* length(PyObject* self, PyObject*);
PyObject* contains(PyObject* self, PyObject* key);
PyObject* iterate(PyObject* self, PyObject*);
Ref value_list(PyObject* self);
Ref item_list(PyObject* self);
Ref pop_impl(PyObject* self, PyObject* key, PyObject* default_value);  // default: nullptr if none
PyObject* popitem(PyObject* self, PyObject*);
Ref setdefault_impl(PyObject* self, PyObject* key, PyObject* default_value);
PyObject* update(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* clear(PyObject* self, PyObject*);
PyObject* reversed_keys(PyObject* self, PyObject*);
PyObject* copy_store(PyObject* self, PyObject*);
PyObject* or_op(PyObject* left, PyObject* right);
PyObject* ior_op(PyObject* self, PyObject* other);

// lookup.cpp: get() by name or by "$." path, with steps into lists
Ref get_impl(PyObject* self, PyObject* key, PyObject* default_value);
PyObject* equals(PyObject* self, PyObject* other);
PyObject* not_equals(PyObject* self, PyObject* other);

// construct.cpp: making, filling and reading stores
Ref init_impl(PyObject* self, PyObject* data, PyObject* reprint, PyObject* inherit, PyObject* strict,
              PyObject* frozen);
PyObject* add(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* merge(PyObject* self, PyObject* data);
Ref to_dict_impl(PyObject* self, PyObject* sort);
PyObject* getattr_hook(PyObject* self, PyObject* name);
PyObject* setattr_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
void assign_attribute(PyObject* self, PyObject* name, PyObject* value);
PyObject* strict_store(PyObject* module, PyObject*);
PyObject* loose_store(PyObject* module, PyObject*);

}  // namespace store
