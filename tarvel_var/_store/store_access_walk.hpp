// The walk over a store's variables, for store_access.hpp.
#pragma once

namespace tvs {

[[noreturn]] void raise_dict_changed_size();

// Walks an exact dict in order, comparing its size with the size at the start before each
// step, as a dict's own iteration does (visit() may run code that changes it).
// visit(key, value) gets strong references and returns false to stop the walk.
template <class Visit>
void walk_dict(PyObject* dict, Visit&& visit) {
    const Py_ssize_t size = PyDict_GET_SIZE(dict);
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    for (;;) {
        if (PyDict_GET_SIZE(dict) != size) raise_dict_changed_size();
        if (!PyDict_Next(dict, &pos, &key, &value)) break;
        Ref key_ref = Ref::borrow(key), value_ref = Ref::borrow(value);
        if (!visit(key_ref.get(), value_ref.get())) return;
    }
}

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

}  // namespace tvs
