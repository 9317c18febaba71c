#pragma once

#include "capi/python.hpp"

namespace store {

// reference_sites(store): a list of (container, key, path) for every str value below `store`
// (in its variables, nested stores, lists and tuples) that holds "${", in document order.
PyObject* reference_sites(PyObject* module, PyObject* root);

}  // namespace store
