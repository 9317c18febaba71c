#include "frame/type_facts.hpp"

#include <array>
#include <cstdint>

#include "frame/runtime.hpp"

namespace tv {
namespace {

struct CacheEntry {
    PyTypeObject* type = nullptr;
    unsigned int version = 0;
    TypeFacts facts;
};

// Direct-mapped by the type's address; (address, version tag) identifies one state of one
// class, since version tags are never reused.
std::array<CacheEntry, 16> cache;

TypeFacts compute(PyTypeObject* type) noexcept {
    TypeFacts facts;
    if (!runtime.ready || type->tp_getattro != runtime.cls_getattro) return facts;
    const Names& n = names();
    facts.standard = class_attribute(type, n.dunder_getattribute) == runtime.object_getattribute &&
                     class_attribute(type, n.dunder_dict) == runtime.cls_dict_descriptor;
    facts.plain_flags = class_attribute(type, n.g_n_r) == nullptr &&
                        class_attribute(type, n.g_n_i) == nullptr &&
                        class_attribute(type, n.i_c_u) == nullptr;
    facts.setattr_slot = type->tp_setattro == runtime.cls_setattro;
    facts.plain_delete = facts.setattr_slot &&
                         class_attribute(type, n.dunder_delattr) == runtime.object_delattr;
    for (std::size_t m = 0; m < kMethodCount; ++m) {
        if (class_attribute(type, method_name(static_cast<Method>(m))) == runtime.functions[m]) {
            facts.own |= 1u << m;
        }
    }
    return facts;
}

}  // namespace

TypeFacts type_facts(PyTypeObject* type) noexcept {
    const unsigned int version = type_version(type);
    if (version == 0) return compute(type);  // no tag to key the cache by
    CacheEntry& entry = cache[(reinterpret_cast<std::uintptr_t>(type) >> 4) % cache.size()];
    if (entry.type != type || entry.version != version) {
        entry.facts = compute(type);
        entry.type = type;
        entry.version = version;
    }
    return entry.facts;
}

}  // namespace tv
