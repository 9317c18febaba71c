// What a store's class does with attribute lookup, computed once per version of the class.
// A class's version tag changes whenever the class or one of its bases is modified, so the
// facts stay exact while saving the fast paths a dozen MRO lookups per call.
#pragma once

#include "capi/python.hpp"

#include <cstdint>

#include "frame/toolkit.hpp"
#include "frame/method_spec.hpp"

namespace var_main {

struct TypeFacts {
    // Ordinary attribute lookup (object's __getattribute__, our __getattr__ hook) and the
    // ordinary __dict__ descriptor: `obj.__dict__` is the instance dictionary itself.
    bool standard = false;
    // No class attribute named like the flags or the store factory: reading one of them is
    // reading the instance dict.
    bool plain_flags = false;
    // The class's attribute-assignment slot is the one the interpreter gave our class, which
    // calls __setattr__ for assignments and __delattr__ for deletions.
    bool setattr_slot = false;
    // Deleting an attribute is object's own deletion: the slot above, whose __delattr__ is
    // object's.
    bool plain_delete = false;
    // Bit per Method: the class's attribute of that name is our own method object.
    std::uint32_t own = 0;

    bool owns(Method which) const { return standard && (own >> static_cast<int>(which)) & 1u; }
    // setattr() reaches our own __setattr__ hook.
    bool setattr_is_own_hook() const { return setattr_slot && owns(Method::SetAttrHook); }
};

TypeFacts type_facts(PyTypeObject* type) noexcept;

}  // namespace var_main
