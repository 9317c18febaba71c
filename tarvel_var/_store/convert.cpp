#include "convert.hpp"

#include "capi/cpython_private.hpp"
#include "capi/recursion.hpp"
#include "store_access.hpp"

namespace store {
namespace {

struct GiveUp {};

class Converter {
public:
    // A dict of the variables of a store's instance dictionary, values converted: made at its
    // size and filled in the dictionary's order (its names' hashes are cached, so each
    // insertion is a probe and a store), which costs less than copying the dictionary whole
    // and taking the internal variables out again.
    Ref mapping(PyObject* dict) {
        capi::RecursionGuard guard;
        Ref out = capi::new_presized_dict(PyDict_GET_SIZE(dict));
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(dict, &pos, &key, &value)) {
            if (!PyUnicode_CheckExact(key)) throw GiveUp{};
            // a nested store or a sequence under an internal name is converted and kept
            if (Ref converted = this->value(value)) {
                require_status(PyDict_SetItem(out.get(), key, converted.get()));
            } else if (!is_internal_name(key)) {
                require_status(PyDict_SetItem(out.get(), key, value));
            }
        }
        return out;
    }

    // The converted form of a nested store or a sequence; empty for any other value, which
    // the result holds as it is.
    Ref value(PyObject* obj) {
        const Kind kind = classify(obj);
        if (kind == Kind::Scalar || kind == Kind::Atom || kind == Kind::Dict) return Ref();
        if (kind == Kind::List) return list(obj);
        if (is_store_by_name(obj)) {
            Ref dict = plain_instance_dict(obj);
            if (!dict) throw GiveUp{};
            return mapping(dict.get());
        }
        if (kind == Kind::ListSubclass) throw GiveUp{};
        return Ref();
    }

    Ref list(PyObject* sequence) {
        capi::RecursionGuard guard;
        Ref items = Py_TYPE(sequence) == &PySet_Type ? require(PySequence_List(sequence))
                                                     : Ref::borrow(sequence);
        const Py_ssize_t size = PySequence_Fast_GET_SIZE(items.get());
        PyObject** elements = PySequence_Fast_ITEMS(items.get());
        Ref out = require(PyList_New(size));
        for (Py_ssize_t i = 0; i < size; ++i) {
            Ref converted = value(elements[i]);
            PyList_SET_ITEM(out.get(), i, converted ? converted.release() : Py_NewRef(elements[i]));
        }
        return out;
    }
};

}  // namespace

// New dicts in the order of their keys at every level, and new lists of what they hold.
Ref sorted_at_every_level(PyObject* value) {
    if (PyDict_Check(value)) {
        capi::RecursionGuard guard;
        Ref keys = require(PyDict_Keys(value));
        require_status(PyList_Sort(keys.get()));  // keys are distinct: values are never compared
        Ref out = capi::new_presized_dict(PyList_GET_SIZE(keys.get()));
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(keys.get()); ++i) {
            Ref key = Ref::borrow(PyList_GET_ITEM(keys.get(), i));
            PyObject* found = nullptr;
            if (require_status(PyDict_GetItemRef(value, key.get(), &found)) == 0) raise_dict_changed_size();
            Ref held = Ref::steal(found);
            require_status(PyDict_SetItem(out.get(), key.get(), sorted_at_every_level(held.get()).get()));
        }
        return out;
    }
    if (PyList_Check(value)) {
        capi::RecursionGuard guard;
        Ref out = require(PyList_New(0));
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(value); ++i) {
            Ref item = Ref::borrow(PyList_GET_ITEM(value, i));
            require_status(PyList_Append(out.get(), sorted_at_every_level(item.get()).get()));
        }
        return out;
    }
    return Ref::borrow(value);
}

Ref convert_directly(PyObject* self, PyObject* sort) {
    Ref dict = conversion_dict(self);
    if (!dict) return Ref();
    Ref out;
    try {
        out = Converter().mapping(dict.get());
    } catch (const GiveUp&) {
        return Ref();
    }
    return capi::truth(sort) ? sorted_at_every_level(out.get()) : out;
}

}  // namespace store
