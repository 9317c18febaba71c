// Calls from one method to another, and the containers every subsystem walks.
//
// A method calls another through attribute lookup on the instance at the moment of the call
// (`self._set_attr(...)`), so a subclass's override or an instance variable of that name is
// the one used. Where the lookup would find our own method anyway, nothing observable
// depends on it and the fast paths call the body directly (own_method()).
#pragma once

#include <Python.h>

#include <initializer_list>
#include <optional>

#include "frame/errors.hpp"
#include "frame/method_spec.hpp"
#include "frame/runtime.hpp"

namespace tv {

// self.<name>(*args), with keyword names for the trailing arguments if `kwnames` is given.
Ref call_method(PyObject* self, PyObject* name, std::initializer_list<PyObject*> args,
                PyObject* kwnames = nullptr);

// self.<which>(*args), like call_method(); when the lookup would find our own method, its body
// is run directly, after the same argument type tests. Keyword names, if any, must name the
// parameters that follow the positional ones, in order.
Ref call(PyObject* self, Method which, std::initializer_list<PyObject*> args,
         PyObject* kwnames = nullptr, PyObject* dict = nullptr);

// True when looking `which` up on `self` would find our own method object: the class uses
// the ordinary attribute lookup, does not override the method, and the instance dictionary
// does not hide it. `dict` is the instance dictionary if the caller holds it, else nullptr.
bool own_method(PyObject* self, Method which, PyObject* dict = nullptr);

// True when every key of the exact dict `dict` is an exact str, so that comparing keys
// with a name can run no Python code. Answers in constant time.
bool has_only_exact_str_keys(PyObject* dict) noexcept;
// Checks the probe behind has_only_exact_str_keys() against this interpreter; when it does
// not hold, the probe always answers false and the general paths are used.
void calibrate_key_probe() noexcept;

// self.<name> by the class's __getattribute__ alone (object's generic lookup unless
// overridden), without the fallback to the class's __getattr__, which answers every name:
// the value, or nullopt when the lookup raised AttributeError (cleared). Other exceptions
// propagate.
std::optional<Ref> attribute_without_fallback(PyObject* self, PyObject* name);

// self.__dict__, by ordinary attribute lookup.
Ref instance_dict(PyObject* self);

// self.<flag> for one of the flags `_g_n_r` and `_g_n_i` or the store factory `_i_c_u`, by
// ordinary attribute lookup.
// `dict` is the instance dictionary if the caller holds it, else nullptr.
Ref read_flag(PyObject* self, PyObject* name, PyObject* dict = nullptr);

// setattr(self, name, value). When the class's __setattr__ is our own hook, its body runs
// directly, after the same name handling and argument tests as the interpreter's call.
void set_attribute(PyObject* self, PyObject* name, PyObject* value);

// mapping.get(key) (None when absent) and mapping[key] = value; exact dicts directly.
Ref mapping_get(PyObject* mapping, PyObject* key);
Ref mapping_item(PyObject* mapping, PyObject* key);
void mapping_set(PyObject* mapping, PyObject* key, PyObject* value);

// Appends with the list's own append operation (a subclass's `append` method is called).
void list_append(PyObject* list, PyObject* item);

// A list, set or tuple, subclasses included; a frozenset is not one.
inline bool is_sequence_value(PyObject* obj) {
    if (PyList_Check(obj) || PyTuple_Check(obj)) return true;
    // PySet_Check walks the MRO; str, int, bytes and type instances cannot be sets (their
    // layouts conflict), and neither can floats and None.
    constexpr unsigned long kNeverSet = Py_TPFLAGS_UNICODE_SUBCLASS | Py_TPFLAGS_LONG_SUBCLASS |
                                        Py_TPFLAGS_BYTES_SUBCLASS | Py_TPFLAGS_TYPE_SUBCLASS;
    PyTypeObject* type = Py_TYPE(obj);
    if ((type->tp_flags & kNeverSet) || type == &PyFloat_Type || obj == Py_None) return false;
    return PySet_Check(obj);
}

// A nested store: an object whose type's __name__ is exactly "TarvelVar".
bool is_nested_store(PyObject* obj) noexcept;

// A new exact list of the elements of an exact list or tuple when `needs_work(element)` is
// false for every one of them; an empty Ref otherwise. Examining the elements runs no code,
// so the copy equals appending them one by one, but is made at its exact size at once.
template <class NeedsWork>
Ref copy_if_no_element_needs_work(PyObject* sequence, NeedsWork&& needs_work) {
    if (!PyList_CheckExact(sequence) && !PyTuple_CheckExact(sequence)) return Ref();
    PyObject** items = PySequence_Fast_ITEMS(sequence);
    const Py_ssize_t size = PySequence_Fast_GET_SIZE(sequence);
    for (Py_ssize_t i = 0; i < size; ++i) {
        if (needs_work(items[i])) return Ref();
    }
    return require(PyList_CheckExact(sequence) ? PyList_GetSlice(sequence, 0, size)
                                               : PySequence_List(sequence));
}

[[noreturn]] void raise_dict_changed_size();

// Walks an exact dict in order, comparing its size with the size at the start before each
// step and once at the end. visit(key, value) receives strong references.
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
        visit(key_ref.get(), value_ref.get());
    }
}

// Calls visit(item) for each item of an iterable: exact lists and tuples by index, anything
// else through its iterator.
template <class Visit>
void for_each_item(PyObject* iterable, Visit&& visit) {
    if (PyList_CheckExact(iterable) || PyTuple_CheckExact(iterable)) {
        const bool is_list = PyList_CheckExact(iterable);
        for (Py_ssize_t i = 0;; ++i) {
            Py_ssize_t size = is_list ? PyList_GET_SIZE(iterable) : PyTuple_GET_SIZE(iterable);
            if (i >= size) break;
            Ref item = Ref::borrow(is_list ? PyList_GET_ITEM(iterable, i)
                                           : PyTuple_GET_ITEM(iterable, i));
            visit(item.get());
        }
        return;
    }
    Ref iterator = require(PyObject_GetIter(iterable));
    for (;;) {
        Ref item = Ref::steal(PyIter_Next(iterator.get()));
        if (!item) {
            if (PyErr_Occurred()) throw_error();
            break;
        }
        visit(item.get());
    }
}

// Walks the (key, value) pairs of a mapping: an exact dict directly, anything else through
// the pairs of its items().
template <class Visit>
void walk_pairs(PyObject* mapping, Visit&& visit) {
    if (PyDict_CheckExact(mapping)) {
        walk_dict(mapping, visit);
        return;
    }
    Ref items = call_method(mapping, names().items, {});
    for_each_item(items.get(), [&](PyObject* pair) {
        Ref key = require(PySequence_GetItem(pair, 0));
        Ref value = require(PySequence_GetItem(pair, 1));
        visit(key.get(), value.get());
    });
}

// Walks the keys of a mapping: an exact dict directly, anything else through its keys().
template <class Visit>
void walk_keys(PyObject* mapping, Visit&& visit) {
    if (PyDict_CheckExact(mapping)) {
        walk_dict(mapping, [&](PyObject* key, PyObject*) { visit(key); });
        return;
    }
    Ref keys = call_method(mapping, names().keys, {});
    for_each_item(keys.get(), visit);
}

}  // namespace tv
