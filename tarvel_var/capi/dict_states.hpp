// States of dicts, for caches of what was found out about one: (dict, state) names one state of
// one dict, never reused, also by a later dict at the same address. A record kept under the
// state read before finding out is right for as long as the state is still the same.
//
// Where the interpreter's own dict versions are trusted (capi/cpython_private) they are the
// state; otherwise dict watchers (3.12) count the changes of the dicts asked about. Without
// either, nothing is tracked and the caches are not used.
#pragma once

#include "capi/python.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

namespace capi {

// Chooses the means, once per process (by the first interpreter's modules).
void track_dict_states() noexcept;
bool dict_states_tracked() noexcept;
// The state of the exact dict `dict`, to compare with a state recorded by the one below; only
// meaningful when dict_states_tracked().
std::uint64_t dict_state(PyObject* dict) noexcept;
// The state of `dict`, to record what is found out about it from now: with dict watchers, the
// dict is watched from here on, so that every later change moves its state.
std::uint64_t dict_state_to_record(PyObject* dict) noexcept;

// What was found out about dicts, each record kept under the state of its dict read before
// finding out (with dict_state_to_record(): code run meanwhile that changed the dict leaves a
// record that never matches). Direct-mapped by the dict's address; nothing is kept where dict
// states are not tracked.
template <class Payload, std::size_t Size>
class DictStateCache {
public:
    // The record of `dict` in its present state, or nullptr.
    Payload* find(PyObject* dict) noexcept {
        if (!dict_states_tracked()) return nullptr;
        Entry& entry = slot(dict);
        return entry.dict == dict && entry.state == dict_state(dict) ? &entry.payload : nullptr;
    }
    void remember(PyObject* dict, std::uint64_t state, const Payload& payload) noexcept {
        if (dict_states_tracked()) slot(dict) = Entry{dict, state, payload};
    }

private:
    struct Entry {
        PyObject* dict = nullptr;
        std::uint64_t state = 0;
        Payload payload{};
    };
    Entry& slot(PyObject* dict) noexcept {
        return entries_[(reinterpret_cast<std::uintptr_t>(dict) >> 4) % Size];
    }
    std::array<Entry, Size> entries_{};
};

// Whether every key of the exact dict `dict` is an exact str, found by walking its keys once
// per state of the dict where states are tracked, at every call where they are not.
bool walked_keys_all_exact_str(PyObject* dict) noexcept;

}  // namespace capi
