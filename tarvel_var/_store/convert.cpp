#include "convert.hpp"

#include "frame/cpython_private.hpp"
#include "frame/recursion.hpp"
#include "store_access.hpp"

namespace tvs {
namespace {

struct GiveUp {};

class Converter {
public:
    // A dict of the variables of a store's instance dictionary, values converted. Copying
    // the dictionary whole and then taking out the internal variables and putting in the
    // converted values keeps every name in its place, and is much cheaper than inserting
    // each name anew.
    Ref mapping(PyObject* dict) {
        tv::RecursionGuard guard;
        Ref out = require(PyDict_Copy(dict));
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(dict, &pos, &key, &value)) {
            if (!PyUnicode_CheckExact(key)) throw GiveUp{};
            // a nested store or a sequence under an internal name is converted and kept
            if (Ref converted = this->value(value)) {
                require_status(PyDict_SetItem(out.get(), key, converted.get()));
            } else if (is_internal_name(key)) {
                require_status(PyDict_DelItem(out.get(), key));
            }
        }
        return out;
    }

    // The converted form of a nested store or a sequence; empty for any other value, which
    // the result holds as it is.
    Ref value(PyObject* obj) {
        PyTypeObject* type = Py_TYPE(obj);
        if (is_plain_scalar(obj) || type == &PyDict_Type) return Ref();
        if (is_store_by_name(obj)) {
            Ref dict = plain_instance_dict(obj);
            if (!dict) throw GiveUp{};
            return mapping(dict.get());
        }
        if (type == &PyList_Type || type == &PyTuple_Type || type == &PySet_Type) return list(obj);
        if (is_sequence_value(obj)) throw GiveUp{};
        return Ref();
    }

    Ref list(PyObject* sequence) {
        tv::RecursionGuard guard;
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

Ref sorted_by_name(PyObject* dict) {
    Ref pairs = require(PyDict_Items(dict));
    require_status(PyList_Sort(pairs.get()));  // names are distinct: values are never compared
    Ref out = tv::new_presized_dict(PyList_GET_SIZE(pairs.get()));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(pairs.get()); ++i) {
        PyObject* pair = PyList_GET_ITEM(pairs.get(), i);
        require_status(PyDict_SetItem(out.get(), PyTuple_GET_ITEM(pair, 0), PyTuple_GET_ITEM(pair, 1)));
    }
    return out;
}

}  // namespace

Ref convert_directly(PyObject* self, PyObject* sort) {
    Ref dict = conversion_dict(self);
    if (!dict) return Ref();
    Ref out;
    try {
        out = Converter().mapping(dict.get());
    } catch (const GiveUp&) {
        return Ref();
    }
    // as the conversion does: the truth of `sort` is taken once, after the walk
    return tv::truth(sort) ? sorted_by_name(out.get()) : out;
}

}  // namespace tvs
