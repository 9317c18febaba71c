// Set-up and the attribute hooks: _set_class, _skip, __getattr__, __setattr__.
#include "frame/calls.hpp"
#include "frame/impls.hpp"
#include "store/plain_value.hpp"
#include "store/selection.hpp"

namespace tv {

bool is_same_length_internal_name(PyObject* name) noexcept {
    const Names& n = names();
    for (PyObject* internal : {n.i_c_u, n.g_n_r, n.g_n_i, n.g_n_s}) {
        if (name == internal) return true;
    }
    for (PyObject* internal : {n.i_c_u, n.g_n_r, n.g_n_i, n.g_n_s}) {
        if (PyUnicode_Compare(name, internal) == 0) return true;
    }
    return false;
}

Ref internal_names() {
    const Names& n = names();
    PyObject* const items[] = {n.i_c_u, n.g_n_r, n.g_n_i, n.g_n_s};
    Ref list = require(PyList_New(4));
    for (Py_ssize_t i = 0; i < 4; ++i) PyList_SET_ITEM(list.get(), i, Py_NewRef(items[i]));
    return list;
}

namespace impl {

Ref set_class(Args args) {
    PyObject* self = args[0];
    const Names& n = names();
    PyObject* const entries[][2] = {
        {n.i_c_u, args[1]}, {n.g_n_r, args[2]}, {n.g_n_i, args[3]}, {n.g_n_s, Py_False}};
    for (const auto& entry : entries) {
        Ref dict = instance_dict(self);  // anew each time: a replaced value's release may run code
        mapping_set(dict.get(), entry[0], entry[1]);
    }
    return none();
}

Ref skip(Args) { return internal_names(); }

// Reached only when ordinary lookup found nothing. If the flag it needs is itself missing
// (before set-up, or after the flag was deleted), looking it up would come straight back
// here without end; the two flags the hooks depend on are answered with AttributeError.
Ref getattr_hook(Args args) {
    PyObject* self = args[0];
    PyObject* name = args[1];
    const Names& n = names();
    if (PyUnicode_Compare(name, n.g_n_r) == 0 || PyUnicode_Compare(name, n.g_n_i) == 0) {
        raise(PyExc_AttributeError, "'%.100s' object has no attribute '%U'", Py_TYPE(self)->tp_name,
              name);
    }
    Ref reprint = read_flag(self, n.g_n_r);
    return truth(reprint.get()) ? Ref::borrow(name) : none();
}

Ref setattr_hook(Args args) {
    PyObject* self = args[0];
    PyObject* name = args[1];
    PyObject* value = args[2];
    if (store_plain_value(self, name, value, ChainFrom::Hook)) return none();
    Ref dict = instance_dict(self);
    Ref inherit = read_flag(self, names().g_n_i, dict.get());
    if (!PyBool_Check(inherit.get())) dict = Ref();  // its truth test may run code
    if (truth(inherit.get())) {
        mapping_set(dict ? dict.get() : instance_dict(self).get(), name, value);
    } else {
        call(self, Method::SetAttr, {name, value}, nullptr, dict.get());
    }
    return none();
}

}  // namespace impl
}  // namespace tv
