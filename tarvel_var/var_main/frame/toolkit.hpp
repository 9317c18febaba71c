// The package's shared toolkit (capi/) as the core's code names it: unqualified, from the
// core's own namespace.
#pragma once

#include "capi/class_cache.hpp"
#include "capi/cpython_private.hpp"
#include "capi/errors.hpp"
#include "capi/plain_containers.hpp"
#include "capi/recursion.hpp"
#include "capi/refs.hpp"

namespace var_main {
using namespace capi;
}  // namespace var_main
