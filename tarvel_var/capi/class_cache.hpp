// Facts about a class, computed once per state of the class. A class's version tag changes
// whenever the class or one of its bases is modified and is never reused, so (address, version
// tag) identifies one state of one class; the cache is direct-mapped by the address.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "capi/cpython_private.hpp"

namespace capi {

template <class Facts, std::size_t Size>
class ClassCache {
public:
    // The facts of `type`, from compute(type) when this state of the class is not cached.
    template <class Compute>
    Facts get(PyTypeObject* type, Compute&& compute) noexcept {
        const unsigned int version = type_version(type);
        if (version == 0) return compute(type);  // no tag to key the cache by
        Entry& entry = entries_[(reinterpret_cast<std::uintptr_t>(type) >> 4) % Size];
        if (entry.type != type || entry.version != version) {
            entry.facts = compute(type);
            entry.type = type;
            entry.version = version;
        }
        return entry.facts;
    }

private:
    struct Entry {
        PyTypeObject* type = nullptr;
        unsigned int version = 0;
        Facts facts{};
    };
    std::array<Entry, Size> entries_{};
};

}  // namespace capi
