// The containers every subsystem walks and writes: instance dictionaries, the mappings a
// path walk passes through, converted lists and the sequences they come from. Exact dicts,
// lists and tuples are handled directly; anything else through its own methods.
#pragma once

#include "capi/python.hpp"

#include "frame/calls.hpp"
#include "frame/toolkit.hpp"
#include "frame/runtime.hpp"

namespace var_main {

// mapping.get(key) (None when absent) and mapping[key] = value; exact dicts directly.
Ref mapping_get(PyObject* mapping, PyObject* key);
Ref mapping_item(PyObject* mapping, PyObject* key);
void mapping_set(PyObject* mapping, PyObject* key, PyObject* value);

// Appends with the list's own append operation (a subclass's `append` method is called).
void list_append(PyObject* list, PyObject* item);

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

}  // namespace var_main
