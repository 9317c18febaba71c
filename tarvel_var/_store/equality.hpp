// Equality of stores by content: a store equals another store or any Mapping whose keys and
// values are equal, where stores and mappings compare by content at any depth and lists,
// tuples and sets compare element by element, as the lists a store holds them as (so a
// store equals the data it was made from).
#pragma once

#include "capi/python.hpp"

#include "store_access.hpp"

namespace store {

// Whether `other` is something a store compares with by content: a store or a Mapping.
bool is_comparable_mapping(PyObject* other);

// Content equality of the store `self` with a store or Mapping `other`.
bool store_equals(PyObject* self, PyObject* other);

// Equality of any two values as stores compare the values they hold: what diff() and origin()
// call equal, so that they never disagree with `==` of the stores.
bool values_equal(PyObject* a, PyObject* b);

}  // namespace store
