// Plain data written as JSON text natively, as json.dumps writes it (json_writer.cpp).
#pragma once

#include "capi/python.hpp"

namespace store {

// Adds json_text to the module; false with an exception set.
bool ready_json_writer(PyObject* module);

}  // namespace store
