// JSON documents read straight into stores by simdjson, where the build found it (json_reader.cpp).
#pragma once

#include "capi/python.hpp"

namespace store {

// Adds json_document and native_readers to the module; false with an exception set.
bool ready_json_reader(PyObject* module);

}  // namespace store
