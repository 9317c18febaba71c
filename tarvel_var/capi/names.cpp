#include "capi/names.hpp"

namespace capi {

Ref intern_attribute_name(PyObject* name) {
    PyObject* interned = Py_NewRef(name);
    PyUnicode_InternInPlace(&interned);
    return Ref::steal(interned);
}

bool intern_names(std::span<const NameSlot> slots) {
    for (const auto& [slot, text] : slots) {
        if (*slot) continue;
        Ref name = Ref::steal(PyUnicode_InternFromString(text));
        if (!name) return false;
        slot->set(std::move(name));
    }
    return true;
}

bool CommonNames::equals_internal(PyObject* name) const noexcept {
    for (PyObject* internal : {i_c_u.get(), g_n_r.get(), g_n_i.get(), g_n_s.get()}) {
        if (PyUnicode_Compare(name, internal) == 0) return true;
    }
    return false;
}

bool intern_common_names(CommonNames& n) {
    const NameSlot slots[] = {
        {&n.i_c_u, "_i_c_u"}, {&n.g_n_r, "_g_n_r"}, {&n.g_n_i, "_g_n_i"}, {&n.g_n_s, "_g_n_s"},
        {&n.dunder_dict, "__dict__"}, {&n.dunder_getattribute, "__getattribute__"},
        {&n.dunder_delattr, "__delattr__"}, {&n.add, "add"}, {&n.keys, "keys"}, {&n.get, "get"},
        {&n.dot, "."},
    };
    return intern_names(slots);
}

}  // namespace capi
