// The walk over a store's variables, for store_access.hpp.
#pragma once

namespace tvs {

[[noreturn]] void raise_dict_changed_size();

template <class Visit>
void for_each_variable(PyObject* self, Visit&& visit) {
    if (Ref dict = variables_dict(self)) {
        const Py_ssize_t size = PyDict_GET_SIZE(dict.get());
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        for (;;) {
            // visit() may run code that changes the store, as a dict's own walk would notice
            if (PyDict_GET_SIZE(dict.get()) != size) raise_dict_changed_size();
            if (!PyDict_Next(dict.get(), &pos, &key, &value)) break;
            if (PyUnicode_Check(key) && is_internal_name(key)) continue;
            Ref key_ref = Ref::borrow(key), value_ref = Ref::borrow(value);
            if (!visit(key_ref.get(), value_ref.get())) return;
        }
        return;
    }
    Ref items = call_store_method(self, names().mv_items, {});
    if (!PyList_CheckExact(items.get())) items = require(PySequence_List(items.get()));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
        Ref pair = Ref::borrow(PyList_GET_ITEM(items.get(), i));
        Ref key = require(PySequence_GetItem(pair.get(), 0));
        Ref value = require(PySequence_GetItem(pair.get(), 1));
        if (!visit(key.get(), value.get())) return;
    }
}

}  // namespace tvs
