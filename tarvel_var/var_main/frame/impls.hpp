// The bodies of the methods of TarvelVarMain, one per method, each with its arguments already
// parsed and type-checked. Each lives in the file named after its subsystem:
// store/setup.cpp, store/set.cpp, store/nested.cpp, store/remove.cpp,
// read/listing.cpp, read/lookup.cpp, read/convert.cpp, read/render.cpp.
#pragma once

#include "frame/method_spec.hpp"

namespace var_main::impl {

// store/setup.cpp
Ref set_class(Args args);
Ref skip(Args args);
Ref getattr_hook(Args args);
Ref setattr_hook(Args args);
// store/set.cpp
Ref mv_set(Args args);
Ref set_attr(Args args);
Ref mv_set_kwargs(Args args);
// store/nested.cpp
Ref set_dict(Args args);
Ref set_list(Args args);
Ref mv_add(Args args);
// store/remove.cpp
Ref mv_pop(Args args);
Ref mv_pops(Args args);
Ref mv_clear(Args args);
// read/listing.cpp
Ref mv_keys(Args args);
Ref mv_values(Args args);
Ref mv_items(Args args);
// read/lookup.cpp
Ref mv_get(Args args);
// read/convert.cpp
Ref mv_to_dict(Args args);
Ref to_dict(Args args);
Ref list_to_dict(Args args);
// read/render.cpp
Ref mv_to_params(Args args);
Ref mv_to_string(Args args);
Ref repr_hook(Args args);

}  // namespace var_main::impl
