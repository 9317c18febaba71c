// How deep plain data nests: for handing it to a library whose own recursion is not guarded
// against small stacks (pydantic's native serializer overflows rather than raise).
#pragma once

#include "capi/python.hpp"

namespace store {

// Whether dicts and lists nest in `value` more than `limit` levels deep (the value itself is
// level 1). Raises RecursionError first where our own stack runs short.
bool nests_deeper_than(PyObject* value, Py_ssize_t limit);

}  // namespace store
