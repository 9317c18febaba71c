// The mapping protocol of the public class. Its keys are the store's variables, as the
// store's own listing (_mv_keys) gives them; writes go through the store's own operations
// (attribute assignment, _mv_pop, _mv_clear), so the store's flags and overrides take part.
#include "data.hpp"
#include "equality.hpp"
#include "methods.hpp"
#include "slots.hpp"

namespace store {
namespace {

// `name` as a variable name: an exact str (a str subclass gives its exact str).
Ref variable_name(PyObject* name) {
    if (PyUnicode_CheckExact(name)) return Ref::borrow(name);
    return require(PyUnicode_FromObject(name));
}

// Assigns one checked entry, as attribute assignment does. A plain name (no leading "_", so
// never a reserved one) and a value with nothing inside to check go straight to the class's
// own assignment when the class has not replaced it.
void assign(PyObject* self, PyObject* key, PyObject* value) {
    if (is_plain_name(key) && holds_as_is(value) && has_own_assignment(Py_TYPE(self))) {
        assign_attribute(self, key, value);
        return;
    }
    Ref name = prepare_key(Py_TYPE(self), key);
    Ref prepared = prepare_value(Py_TYPE(self), name.get(), value);
    require_status(PyObject_SetAttr(self, name.get(), prepared.get()));
}

// `_mv_pop(name)`, popped straight from the dictionary where that is what it would do.
void remove(PyObject* self, PyObject* key) {
    Ref name = variable_name(key);
    if (Ref dict = removal_dict(self)) {
        if (class_attribute(Py_TYPE(self), name.get()) == nullptr) {
            // the value is released after the removal: its release may run code
            require_status(PyDict_Pop(dict.get(), name.get(), nullptr));
            return;
        }
    }
    call_store_method(self, names().mv_pop, {name.get()});
}

// `_mv_clear()` where it would pop every variable from the dictionary (no variable is named by
// a class attribute): the dictionary is cleared and its internal variables put back in their
// order. The values are held until then and released last, so that code their release runs
// (a finalizer) sees the store cleared and set up, never half-way.
bool clear_directly(PyObject* self) {
    Ref dict = removal_dict(self);
    if (!dict) return false;
    PyTypeObject* type = Py_TYPE(self);
    Ref internal = require(PyList_New(0));  // (name, value) pairs, in the dictionary's order
    // Nothing in this walk runs Python code (the keys are exact str), so it reads in place.
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(dict.get(), &pos, &key, &value)) {
        if (!PyUnicode_CheckExact(key)) return false;
        if (is_internal_name(key)) {
            require_status(PyList_Append(internal.get(), require(PyTuple_Pack(2, key, value)).get()));
        } else if (PyUnicode_GET_LENGTH(key) > 0 && PyUnicode_READ_CHAR(key, 0) == '_' &&
                   class_attribute(type, key) != nullptr) {
            // only a name beginning with "_" can be one a class attribute of its own takes; the
            // class's public names are descriptors whose deletion is this same removal
            return false;
        }
    }
    Ref held = require(PyDict_Values(dict.get()));
    PyDict_Clear(dict.get());
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(internal.get()); ++i) {
        PyObject* pair = PyList_GET_ITEM(internal.get(), i);
        require_status(PyDict_SetItem(dict.get(), PyTuple_GET_ITEM(pair, 0), PyTuple_GET_ITEM(pair, 1)));
    }
    return true;  // `held` goes last
}

Ref variable_or_key_error(PyObject* self, PyObject* key) {
    Ref value;
    if (!find_variable(self, key, &value)) raise_key_error(key);
    return value;
}

// The entries of dict.update's `other`: a mapping's keys (through keys(), as dict.update
// does), or an iterable of pairs, into a new dict under checked names. Their values are checked
// later, together, so that code run while one is checked cannot change another after its check.
void collect_entries(PyObject* self, PyObject* other, PyObject* into) {
    auto add_entry = [&](PyObject* key, PyObject* value) {
        Ref name = prepare_key(Py_TYPE(self), key);
        require_status(PyDict_SetItem(into, name.get(), value));
    };
    PyObject* keys_method = nullptr;
    if (PyDict_CheckExact(other)) {
        walk_dict(other, [&](PyObject* key, PyObject* value) { add_entry(key, value); });
        return;
    }
    if (require_status(PyObject_GetOptionalAttr(other, names().keys, &keys_method)) == 1) {
        Ref keys_ref = Ref::steal(keys_method);
        Ref keys = require(PyObject_CallNoArgs(keys_ref.get()));
        Ref iterator = require(PyObject_GetIter(keys.get()));
        while (Ref key = Ref::steal(PyIter_Next(iterator.get()))) {
            Ref value = require(PyObject_GetItem(other, key.get()));
            add_entry(key.get(), value.get());
        }
        if (PyErr_Occurred()) throw_error();
        return;
    }
    Ref iterator = require(PyObject_GetIter(other));
    for (Py_ssize_t index = 0;; ++index) {
        Ref item = Ref::steal(PyIter_Next(iterator.get()));
        if (!item) {
            if (PyErr_Occurred()) throw_error();
            break;
        }
        Ref fast = Ref::steal(PySequence_Fast(item.get(), ""));
        if (!fast) {
            PyErr_Clear();
            raise(PyExc_TypeError, "cannot convert dictionary update sequence element #%zd to a sequence",
                  index);
        }
        if (PySequence_Fast_GET_SIZE(fast.get()) != 2) {
            raise(PyExc_ValueError, "dictionary update sequence element #%zd has length %zd; 2 is required",
                  index, PySequence_Fast_GET_SIZE(fast.get()));
        }
        Ref key = Ref::borrow(PySequence_Fast_ITEMS(fast.get())[0]);
        Ref value = Ref::borrow(PySequence_Fast_ITEMS(fast.get())[1]);
        add_entry(key.get(), value.get());
    }
}

}  // namespace

PyObject* getitem(PyObject* self, PyObject* key) {
    return entry([&] { return variable_or_key_error(self, key).release(); });
}

Ref setitem_impl(PyObject* self, PyObject* key, PyObject* value) {
    assign(self, key, value);
    return capi::none();
}

PyObject* delitem(PyObject* self, PyObject* key) {
    return entry([&] {
        if (!find_variable(self, key, nullptr)) raise_key_error(key);
        remove(self, key);
        return Py_NewRef(Py_None);
    });
}

PyObject* length(PyObject* self, PyObject*) {
    return entry([&] { return PyLong_FromSsize_t(count_variables(self)); });
}

PyObject* contains(PyObject* self, PyObject* key) {
    return entry([&] { return PyBool_FromLong(find_variable(self, key, nullptr)); });
}

PyObject* iterate(PyObject* self, PyObject*) {
    return entry([&] {
        Ref keys = variable_names(self);
        return PyObject_GetIter(keys.get());
    });
}

// The values, and the (name, value) pairs, of the variables as new lists: they agree with
// keys(), the store's own _mv_keys(), also where a subclass changes that listing.
Ref value_list(PyObject* self) {
    Ref result = require(PyList_New(0));
    for_each_variable(self, [&](PyObject*, PyObject* value) {
        require_status(PyList_Append(result.get(), value));
        return true;
    });
    return result;
}

Ref item_list(PyObject* self) {
    Ref result = require(PyList_New(0));
    for_each_variable(self, [&](PyObject* key, PyObject* value) {
        require_status(PyList_Append(result.get(), require(PyTuple_Pack(2, key, value)).get()));
        return true;
    });
    return result;
}

Ref pop_impl(PyObject* self, PyObject* key, PyObject* default_value) {
    Ref value;
    if (!find_variable(self, key, &value)) {
        if (default_value != nullptr) return Ref::borrow(default_value);
        raise_key_error(key);
    }
    remove(self, key);
    return value;
}

PyObject* popitem(PyObject* self, PyObject*) {
    return entry([&]() -> PyObject* {
        Ref keys = listed_keys(self);
        const Py_ssize_t count = PyObject_Length(keys.get());
        if (count < 0) throw_error();
        if (count == 0) raise(PyExc_KeyError, "popitem(): store is empty");
        Ref name = require(PySequence_GetItem(keys.get(), count - 1));
        Ref value = variable_or_key_error(self, name.get());
        remove(self, name.get());
        return PyTuple_Pack(2, name.get(), value.get());
    });
}

Ref setdefault_impl(PyObject* self, PyObject* key, PyObject* default_value) {
    Ref value;
    if (find_variable(self, key, &value)) return value;
    assign(self, key, default_value);
    // what the store holds now: a dict default has become a nested store
    return variable_or_key_error(self, key);
}

// update() of entries that need no checking (plain names, values with nothing inside), on a
// class whose assignment is its own: assigned as they come. False, having assigned nothing,
// otherwise.
bool update_directly(PyObject* self, PyObject* entries) {
    if (entries == nullptr || !PyDict_CheckExact(entries) || !has_own_assignment(Py_TYPE(self))) {
        return false;
    }
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(entries, &pos, &key, &value)) {  // tests that run no code
        if (!is_plain_name(key) || !holds_as_is(value)) return false;
    }
    Ref pairs = require(PyDict_Items(entries));  // assignment may run code: walk a snapshot
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(pairs.get()); ++i) {
        PyObject* pair = PyList_GET_ITEM(pairs.get(), i);
        assign_attribute(self, PyTuple_GET_ITEM(pair, 0), PyTuple_GET_ITEM(pair, 1));
    }
    return true;
}

PyObject* update(PyObject* self, PyObject* args, PyObject* kwargs) {
    return entry([&] {
        const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
        if (nargs > 1) raise(PyExc_TypeError, "update expected at most 1 argument, got %zd", nargs);
        if ((nargs == 0 && update_directly(self, kwargs)) ||
            (nargs == 1 && kwargs == nullptr && update_directly(self, PyTuple_GET_ITEM(args, 0)))) {
            return Py_NewRef(Py_None);
        }
        Ref entries = require(PyDict_New());
        if (nargs == 1) collect_entries(self, PyTuple_GET_ITEM(args, 0), entries.get());
        if (kwargs != nullptr) collect_entries(self, kwargs, entries.get());
        Ref prepared = prepare_entries(Py_TYPE(self), entries.get());
        // assigned from a list of the pairs: assignment may run code, and the dict is ours only
        // as long as nothing else sees it
        Ref pairs = require(PyDict_Items(prepared.get()));
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(pairs.get()); ++i) {
            Ref pair = Ref::borrow(PyList_GET_ITEM(pairs.get(), i));
            require_status(PyObject_SetAttr(self, PyTuple_GET_ITEM(pair.get(), 0),
                                            PyTuple_GET_ITEM(pair.get(), 1)));
        }
        return Py_NewRef(Py_None);
    });
}

PyObject* reversed_keys(PyObject* self, PyObject*) {
    return entry([&] {
        Ref keys = require(PySequence_List(variable_names(self).get()));
        require_status(PyList_Reverse(keys.get()));
        return PyObject_GetIter(keys.get());
    });
}

// copy(): a deep copy, as copy.deepcopy makes one; a configuration's copy is one whose
// sections can be changed without changing the original's.
PyObject* copy_store(PyObject* self, PyObject*) {
    return entry([&] {
        Ref module = require(PyImport_ImportModule("copy"));
        Ref deepcopy = require(PyObject_GetAttrString(module.get(), "deepcopy"));
        return require(PyObject_CallOneArg(deepcopy.get(), self)).release();
    });
}

// store | mapping: a copy of the store, then update(mapping), as dict's | is a copy, then
// update(); anything but a mapping is left to the other operand.
PyObject* or_op(PyObject* left, PyObject* right) {
    return entry([&]() -> PyObject* {
        if (!is_store(left) || !is_comparable_mapping(right)) return Py_NewRef(Py_NotImplemented);
        Ref result = Ref::steal(copy_store(left, nullptr));
        if (!result) throw_error();
        Ref args = require(PyTuple_Pack(1, right));
        Ref done = Ref::steal(update(result.get(), args.get(), nullptr));
        if (!done) throw_error();
        return result.release();
    });
}

PyObject* ior_op(PyObject* self, PyObject* other) {
    return entry([&] {
        Ref args = require(PyTuple_Pack(1, other));
        Ref done = Ref::steal(update(self, args.get(), nullptr));
        if (!done) throw_error();
        return Py_NewRef(self);
    });
}

PyObject* clear(PyObject* self, PyObject*) {
    return entry([&] {
        if (clear_directly(self)) return Py_NewRef(Py_None);
        return call_store_method(self, names().mv_clear, {}).release();
    });
}

PyObject* equals(PyObject* self, PyObject* other) {
    return entry([&]() -> PyObject* {
        if (!is_comparable_mapping(other)) return Py_NewRef(Py_NotImplemented);
        return PyBool_FromLong(store_equals(self, other));
    });
}

PyObject* not_equals(PyObject* self, PyObject* other) {
    return entry([&]() -> PyObject* {
        if (!is_comparable_mapping(other)) return Py_NewRef(Py_NotImplemented);
        return PyBool_FromLong(!store_equals(self, other));
    });
}

}  // namespace store
