#include "capi/errors.hpp"

#include <cstdarg>

namespace capi {

void raise(PyObject* type, const char* format, ...) {
    va_list args;
    va_start(args, format);
    PyErr_FormatV(type, format, args);
    va_end(args);
    throw_error();
}

}  // namespace capi
