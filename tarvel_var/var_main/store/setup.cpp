// Set-up and the attribute hooks: _set_class, _skip, __getattr__, __setattr__.
#include "frame/calls.hpp"
#include "frame/containers.hpp"
#include "frame/impls.hpp"
#include "store/plain_value.hpp"
#include "store/selection.hpp"

namespace var_main {

Ref internal_names() {
    const Names& n = names();
    PyObject* const items[] = {n.i_c_u, n.g_n_r, n.g_n_i, n.g_n_s};
    Ref list = require(PyList_New(4));
    for (Py_ssize_t i = 0; i < 4; ++i) PyList_SET_ITEM(list.get(), i, Py_NewRef(items[i]));
    return list;
}

namespace impl {

Ref set_class(Args args) {
    const auto& [self, instance, reprint, inherit] = args;
    const Names& n = names();
    PyObject* const entries[][2] = {
        {n.i_c_u, instance}, {n.g_n_r, reprint}, {n.g_n_i, inherit}, {n.g_n_s, Py_False}};
    for (const auto& entry : entries) {
        Ref dict = instance_dict(self);  // anew each time: a replaced value's release may run code
        mapping_set(dict.get(), entry[0], entry[1]);
    }
    return none();
}

Ref skip(Args) { return internal_names(); }

// The interpreter calls this only when ordinary lookup found nothing. When the flag it needs
// is itself missing (before set-up, or after the flag was deleted), looking it up would come
// straight back here without end, and so would the lookup of `_g_n_i` by __setattr__; for
// these two names the flag is therefore looked up without the fallback to this hook, and only
// a flag that is really missing is answered with AttributeError. Called directly with a
// flag's name on a set-up store, it answers like for any other name.
Ref getattr_hook(Args args) {
    const auto [self, name] = arguments<2>(args);
    const Names& n = names();
    Ref reprint;
    if (const bool is_reprint = PyUnicode_Compare(name, n.g_n_r) == 0;
        is_reprint || PyUnicode_Compare(name, n.g_n_i) == 0) {
        std::optional<Ref> flag = attribute_without_fallback(self, name);
        if (!flag) {
            raise(PyExc_AttributeError, "'%.100s' object has no attribute '%U'",
                  Py_TYPE(self)->tp_name, name);
        }
        if (is_reprint) reprint = std::move(*flag);  // the flag's one lookup
    }
    if (!reprint) reprint = read_flag(self, n.g_n_r);
    return truth(reprint.get()) ? Ref::borrow(name) : none();
}

// The flag is read and tested before the instance dictionary is fetched: the lookup (a class
// property) or the truth test may run code that gives the store a new dictionary, and the
// value belongs in the one the store has when it is written.
Ref setattr_hook(Args args) {
    const auto [self, name, value] = arguments<3>(args);
    if (store_plain_value(self, name, value, ChainFrom::Hook)) return none();
    Ref inherit = read_flag(self, names().g_n_i);
    if (truth(inherit.get())) {
        mapping_set(instance_dict(self).get(), name, value);
    } else {
        call(self, Method::SetAttr, {name, value});
    }
    return none();
}

}  // namespace impl
}  // namespace var_main
