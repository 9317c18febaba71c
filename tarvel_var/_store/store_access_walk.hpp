// The walk over a store's variables, for store_access.hpp.
#pragma once

namespace store {

template <class Visit>
void for_each_variable(PyObject* self, Visit&& visit) {
    if (Ref dict = variables_dict(self)) {
        walk_dict(dict.get(), [&](PyObject* key, PyObject* value) {
            return (PyUnicode_Check(key) && is_internal_name(key)) || visit(key, value);
        });
        return;
    }
    // The names the store's own listing gives, with the values it holds for them now.
    Ref keys = listed_keys(self);
    if (!PyList_CheckExact(keys.get())) keys = require(PySequence_List(keys.get()));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(keys.get()); ++i) {
        Ref key = Ref::borrow(PyList_GET_ITEM(keys.get(), i));
        Ref dict = instance_dict(self);
        PyObject* found = nullptr;
        if (require_status(PyMapping_GetOptionalItem(dict.get(), key.get(), &found)) == 0) continue;
        Ref value = Ref::steal(found);
        if (!visit(key.get(), value.get())) return;
    }
}

}  // namespace store
