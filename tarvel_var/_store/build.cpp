#include "build.hpp"

#include <utility>
#include <vector>

#include "capi/cpython_private.hpp"
#include "capi/recursion.hpp"
#include "store_access.hpp"

namespace store {
namespace {

// What the store factory's set-up writes: the four internal variables, in their order, into
// a store's dict that holds nothing yet.
void write_internal_variables(PyObject* dict, PyObject* reprint, PyObject* inherit, bool strict) {
    const Names& n = names();
    require_status(PyDict_SetItem(dict, n.i_c_u, strict ? state.strict_factory : state.loose_factory));
    require_status(PyDict_SetItem(dict, n.g_n_r, reprint));
    require_status(PyDict_SetItem(dict, n.g_n_i, inherit));
    require_status(PyDict_SetItem(dict, n.g_n_s, strict ? Py_True : Py_False));
}

PyObject* empty_arguments() {
    static PyObject* tuple = PyTuple_New(0);  // immortal in 3.13; lives as long as the process
    return tuple;
}

// Assignment interns the name as setattr() does, without making it immortal.
Ref attribute_name(PyObject* name) { return capi::intern_attribute_name(name); }

struct Ineligible {};  // the general path must build this data; nothing has been changed

// A value that is not an exact dict, list, tuple or set (Kind::Dict, Kind::List) and yet more
// than a value to hold as it is: a dict or sequence of a subclass, or any other Mapping, which
// the public class converts to a dict first. The Mapping test can run Python code.
bool needs_checking(PyObject* value, Kind kind) {
    if (kind == Kind::Scalar || kind == Kind::Atom || is_store(value)) return false;
    if (kind == Kind::DictSubclass || kind == Kind::ListSubclass) return true;
    return require_status(PyObject_IsInstance(value, state.mapping_abc)) == 1;
}

class Builder {
public:
    explicit Builder(bool strict) : strict_(strict) {}

    // A new store set up as the factory sets one up, holding `data`'s entries.
    Ref store_of(PyObject* data) {
        capi::RecursionGuard guard;
        Ref store = new_fresh_store(strict_);
        Ref dict = require(PyObject_GenericGetDict(store.get(), nullptr));
        entries(data, [&](Ref key, Ref value) {
            require_status(PyDict_SetItem(dict.get(), key.get(), value.get()));
        });
        return store;
    }

    // Calls put(name, value) for each entry of the exact dict `data`, converted. The walk holds
    // its own references and fails as a dict's iteration does if the dict changes size: the
    // instance check of an unusual value runs Python code (a `__class__` property, the ABC's
    // hooks, a thread switch inside them).
    template <class Put>
    void entries(PyObject* data, Put&& put) {
        capi::walk_dict(data, [&](PyObject* key, PyObject* value) {
            // a key the public class refuses: the checking path raises the error
            if (!takes_key_as_is(key)) throw Ineligible{};
            const Kind kind = classify(value);
            if (kind == Kind::Dict) {
                put(attribute_name(key), store_of(value));  // registered by assignment
            } else if (kind == Kind::List) {
                put(Ref::borrow(key), list_of(value));      // written into the dict as it is named
            } else if (needs_checking(value, kind)) {
                throw Ineligible{};
            } else {
                put(attribute_name(key), Ref::borrow(value));
            }
        });
    }

    // The converted list of a list, tuple or set. A list that changes while it is converted
    // (by code an element's instance check runs) is left to the general path, which takes it
    // as it is then.
    Ref list_of(PyObject* sequence) {
        capi::RecursionGuard guard;
        Ref items = PySet_CheckExact(sequence) ? require(PySequence_List(sequence)) : Ref::borrow(sequence);
        const Py_ssize_t size = PySequence_Fast_GET_SIZE(items.get());
        Ref result = require(PyList_New(size));
        for (Py_ssize_t i = 0; i < size; ++i) {
            if (PySequence_Fast_GET_SIZE(items.get()) != size) throw Ineligible{};
            Ref element = Ref::borrow(PySequence_Fast_ITEMS(items.get())[i]);
            Ref converted;
            const Kind kind = classify(element.get());
            if (kind == Kind::Dict) {
                converted = store_of(element.get());
            } else if (kind == Kind::List) {
                converted = list_of(element.get());
            } else if (needs_checking(element.get(), kind)) {
                throw Ineligible{};
            } else {
                converted = std::move(element);
            }
            PyList_SET_ITEM(result.get(), i, converted.release());
        }
        return result;
    }

private:
    bool strict_;
};

}  // namespace

Ref new_fresh_store(bool strict, PyTypeObject* type) {
    if (type == nullptr) type = reinterpret_cast<PyTypeObject*>(state.public_cls.get());
    Ref store = require(type->tp_new(type, empty_arguments(), nullptr));
    Ref dict = require(PyObject_GenericGetDict(store.get(), nullptr));
    write_internal_variables(dict.get(), Py_False, Py_False, strict);
    return store;
}

bool set_up_fresh_store(PyObject* self, PyObject* reprint, PyObject* inherit, bool strict) {
    if (!class_is_pristine(Py_TYPE(self))) return false;
    Ref dict = require(PyObject_GenericGetDict(self, nullptr));
    if (!PyDict_CheckExact(dict.get()) || PyDict_GET_SIZE(dict.get()) != 0) return false;
    write_internal_variables(dict.get(), reprint, inherit, strict);
    return true;
}

bool fill_fresh_store(PyObject* self, PyObject* data) {
    if (!class_is_pristine(Py_TYPE(self))) return false;
    Ref dict = require(PyObject_GenericGetDict(self, nullptr));
    if (!PyDict_CheckExact(dict.get()) || PyDict_GET_SIZE(dict.get()) != 4) return false;
    PyObject* factory = nullptr;
    if (require_status(PyDict_GetItemRef(dict.get(), names().i_c_u, &factory)) == 0) return false;
    Ref factory_ref = Ref::steal(factory);
    // the nested stores the merge would make: those of the factory the store holds
    if (factory != state.loose_factory && factory != state.strict_factory) return false;
    for (PyObject* name : std::initializer_list<PyObject*>{names().g_n_r, names().g_n_i, names().g_n_s}) {
        if (require_status(PyDict_Contains(dict.get(), name)) == 0) return false;
    }
    return build_directly(self, data, factory == state.strict_factory);
}

Ref build_value(PyObject* value, bool strict) {
    try {
        if (PyDict_CheckExact(value)) return Builder(strict).store_of(value);
        return Builder(strict).list_of(value);
    } catch (const Ineligible&) {
        return Ref();
    }
}

bool build_directly(PyObject* self, PyObject* data, bool strict) {
    if (!PyDict_CheckExact(data) || !class_is_pristine(Py_TYPE(self))) return false;
    Ref dict = require(PyObject_GenericGetDict(self, nullptr));
    if (!PyDict_CheckExact(dict.get()) || PyDict_GET_SIZE(dict.get()) != 4) return false;  // not fresh
    // Everything is built before the store is touched, so that a value the general path must
    // handle leaves nothing behind.
    std::vector<std::pair<Ref, Ref>> built;
    built.reserve(static_cast<size_t>(PyDict_GET_SIZE(data)));
    try {
        Builder(strict).entries(data, [&](Ref key, Ref value) { built.emplace_back(std::move(key), std::move(value)); });
    } catch (const Ineligible&) {
        return false;
    }
    for (const auto& [key, value] : built) require_status(PyDict_SetItem(dict.get(), key.get(), value.get()));
    return true;
}

}  // namespace store
