// States of dicts, for caches of what was found out about one: (dict, state) names one state of
// one dict, never reused, also by a later dict at the same address. A record kept under the
// state read before finding out is right for as long as the state is still the same.
//
// Where the interpreter's own dict versions are trusted (capi/cpython_private) they are the
// state; otherwise dict watchers (3.12) count the changes of the dicts asked about. Without
// either, nothing is tracked and the caches are not used.
#pragma once

#include "capi/python.hpp"

#include <cstdint>

namespace capi {

// Chooses the means, once per process (by the first interpreter's modules).
void track_dict_states() noexcept;
bool dict_states_tracked() noexcept;
// The state of the exact dict `dict`; only meaningful when dict_states_tracked().
std::uint64_t dict_state(PyObject* dict) noexcept;

}  // namespace capi
