// The views of keys(), values() and items() (views.cpp).
#pragma once

#include "capi/python.hpp"

namespace store {

// Takes the three view classes (over KeysView, ValuesView and ItemsView, with no slots of
// their own) and points their slots at the store; in bind(), before any view is made.
void bind_views(PyObject* keys_type, PyObject* values_type, PyObject* items_type);

// keys(), values(), items(): a new view of the store.
PyObject* keys_view(PyObject* self, PyObject*);
PyObject* values_view(PyObject* self, PyObject*);
PyObject* items_view(PyObject* self, PyObject*);

}  // namespace store
