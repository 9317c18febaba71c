// The methods of the public class written here, as C functions of the method table in
// module.cpp. Each is an entry point from the interpreter and keeps C++ exceptions inside.
#pragma once

#include <Python.h>

#include "capi/errors.hpp"

namespace tvs {

// Runs the body of a method that returns an object, in the C-API convention.
template <class Body>
PyObject* entry(Body&& body) {
    return tv::at_boundary<PyObject*>(nullptr, body);
}

// mapping.cpp: the mapping protocol over the store's variables
PyObject* getitem(PyObject* self, PyObject* key);
PyObject* setitem(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
PyObject* delitem(PyObject* self, PyObject* key);
PyObject* length(PyObject* self, PyObject*);
PyObject* contains(PyObject* self, PyObject* key);
PyObject* iterate(PyObject* self, PyObject*);
PyObject* values(PyObject* self, PyObject*);
PyObject* items(PyObject* self, PyObject*);
PyObject* pop(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
PyObject* popitem(PyObject* self, PyObject*);
PyObject* setdefault(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
PyObject* update(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* clear(PyObject* self, PyObject*);
PyObject* reversed_keys(PyObject* self, PyObject*);
PyObject* copy_store(PyObject* self, PyObject*);
PyObject* or_op(PyObject* left, PyObject* right);
PyObject* ior_op(PyObject* self, PyObject* other);

// lookup.cpp: get() by name or by "$." path, with steps into lists
PyObject* get(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* equals(PyObject* self, PyObject* other);
PyObject* not_equals(PyObject* self, PyObject* other);

// construct.cpp: making, filling and reading stores
PyObject* init(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* add(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* merge(PyObject* self, PyObject* data);
PyObject* to_dict(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* getattr_hook(PyObject* self, PyObject* name);
PyObject* setattr_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
void assign_attribute(PyObject* self, PyObject* name, PyObject* value);
PyObject* strict_store(PyObject* module, PyObject*);

}  // namespace tvs
