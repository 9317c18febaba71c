#include "frame/type_facts.hpp"

#include "frame/toolkit.hpp"
#include "frame/runtime.hpp"

namespace var_main {
namespace {

ClassCache<TypeFacts, 16> cache;

TypeFacts compute(PyTypeObject* type) noexcept {
    TypeFacts facts;
    if (!runtime.ready || type->tp_getattro != runtime.cls_getattro) return facts;
    const Names& n = names();
    const capi::OrdinaryLookup ordinary{runtime.cls_getattro, runtime.object_getattribute,
                                        runtime.cls_dict_descriptor};
    facts.standard = capi::has_ordinary_lookup(type, ordinary, n.dunder_getattribute, n.dunder_dict);
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

TypeFacts type_facts(PyTypeObject* type) noexcept { return cache.get(type, compute); }

}  // namespace var_main
