// Facts about a class, computed once per state of the class. A class's version tag changes
// whenever the class or one of its bases is modified and is never reused, so (address, version
// tag) identifies one state of one class; the cache is direct-mapped by the address.
#pragma once

#include "capi/python.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

#include "capi/cpython_private.hpp"

namespace capi {

// What ordinary attribute lookup on a store class looks like: the core class's attribute hook
// (the interpreter's slot behind its __getattr__), object's __getattribute__, and the core
// class's __dict__ descriptor. Both modules' class facts start from whether a class still has it.
struct OrdinaryLookup {
    getattrofunc getattro = nullptr;
    PyObject* object_getattribute = nullptr;
    PyObject* dict_descriptor = nullptr;
};

inline bool has_ordinary_lookup(PyTypeObject* type, const OrdinaryLookup& ordinary,
                                PyObject* dunder_getattribute, PyObject* dunder_dict) noexcept {
    return type->tp_getattro == ordinary.getattro &&
           class_attribute(type, dunder_getattribute) == ordinary.object_getattribute &&
           class_attribute(type, dunder_dict) == ordinary.dict_descriptor;
}

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
