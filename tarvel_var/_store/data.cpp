#include "data.hpp"

#include <string>
#include <vector>

#include "frame/recursion.hpp"

namespace tvs {
namespace {

class Preparer {
public:
    explicit Preparer(PyTypeObject* store_type) : type_(store_type) {}

    Ref value(PyObject* obj) {
        PyTypeObject* t = Py_TYPE(obj);
        if (is_plain_scalar(obj)) return Ref::borrow(obj);
        if (t == &PyDict_Type) return dict(obj);
        if (is_store(obj) || is_store_by_name(obj)) return Ref::borrow(obj);
        if (is_sequence_value(obj)) return sequence(obj);
        if (PyDict_Check(obj)) return mapping(obj);
        if (PyBytes_Check(obj) || PyFrozenSet_Check(obj) || PyComplex_Check(obj)) return Ref::borrow(obj);
        if (require_status(PyObject_IsInstance(obj, state.mapping_abc))) return mapping(obj);
        return Ref::borrow(obj);
    }

    // An exact dict, copied only from the first entry that changes.
    Ref dict(PyObject* source) {
        tv::RecursionGuard guard;
        Ref out;
        walk_dict(source, [&](PyObject* raw_key, PyObject* raw_value) {
            Ref key = checked_key(raw_key);
            Ref value_out = under(key.get(), raw_value);
            if (!out && (!key.is(raw_key) || !value_out.is(raw_value))) out = copy_before(source, raw_key);
            if (out) require_status(PyDict_SetItem(out.get(), key.get(), value_out.get()));
            return true;
        });
        return out ? out : Ref::borrow(source);
    }

    // Any other mapping: a new dict of its items, in their order.
    Ref mapping(PyObject* source) {
        tv::RecursionGuard guard;
        Ref items = require(PyMapping_Items(source));
        Ref out = require(PyDict_New());
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
            Ref pair = Ref::borrow(PyList_GET_ITEM(items.get(), i));
            if (!PyTuple_Check(pair.get()) || PyTuple_GET_SIZE(pair.get()) != 2) {
                raise(PyExc_TypeError, "items() of %.200s must give (key, value) pairs",
                      Py_TYPE(source)->tp_name);
            }
            Ref key = checked_key(PyTuple_GET_ITEM(pair.get(), 0));
            Ref value_out = under(key.get(), PyTuple_GET_ITEM(pair.get(), 1));
            require_status(PyDict_SetItem(out.get(), key.get(), value_out.get()));
        }
        return out;
    }

    // A list, set or tuple: the same object when no element changes, else a new list.
    Ref sequence(PyObject* source) {
        tv::RecursionGuard guard;
        Ref items = Ref::borrow(source);
        if (!PyList_CheckExact(source) && !PyTuple_CheckExact(source)) {
            items = require(PySequence_List(source));  // one pass over a set or a subclass
        }
        Ref out;
        for (Py_ssize_t i = 0;; ++i) {
            PyObject* seq = items.get();
            const Py_ssize_t size = PyList_Check(seq) ? PyList_GET_SIZE(seq) : PyTuple_GET_SIZE(seq);
            if (i >= size) break;
            Ref element = Ref::borrow(PySequence_Fast_ITEMS(seq)[i]);
            Ref element_out = under(i, element.get());
            if (!out && !element_out.is(element.get())) out = require(PySequence_GetSlice(seq, 0, i));
            if (out) require_status(PyList_Append(out.get(), element_out.get()));
        }
        return out ? out : Ref::borrow(source);
    }

    // value(obj), with the path of what is below it extended by one step (a key or an
    // index) while it is looked at.
    template <class Step>
    Ref under(Step step, PyObject* obj) {
        if (is_plain_scalar(obj)) return Ref::borrow(obj);  // nothing below it
        path_.push_back(PathStep(step));
        Ref out = value(obj);
        path_.pop_back();
        return out;
    }

    Ref checked_key(PyObject* key) {
        if (!PyUnicode_Check(key)) {
            Ref where = path_text();
            raise(PyExc_TypeError, "key %R at %U is not a str (got %.200s)", key, where.get(),
                  Py_TYPE(key)->tp_name);
        }
        Ref exact = PyUnicode_CheckExact(key) ? Ref::borrow(key) : require(PyUnicode_FromObject(key));
        if (is_reserved_name(type_, exact.get())) {
            path_.push_back(PathStep(exact.get()));
            Ref where = path_text();
            raise(PyExc_ValueError, "reserved key %R at %U: the store keeps this name for itself",
                  exact.get(), where.get());
        }
        return exact;
    }

    void enter(PyObject* key) { path_.push_back(PathStep(key)); }

private:
    // A new dict holding the entries of `source` that come before `stop`.
    Ref copy_before(PyObject* source, PyObject* stop) {
        Ref out = require(PyDict_New());
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(source, &pos, &key, &value) && key != stop) {
            require_status(PyDict_SetItem(out.get(), key, value));
        }
        return out;
    }

    // "$.a.0.b": where the problem is, written as a path.
    Ref path_text() {
        Ref text = require(PyUnicode_FromString("$"));
        for (const PathStep& part : path_) {
            Ref piece = part.key ? require(PyUnicode_FromFormat(".%S", part.key.get()))
                                 : require(PyUnicode_FromFormat(".%zd", part.index));
            PyObject* joined = text.release();
            PyUnicode_Append(&joined, piece.get());
            text = require(joined);
        }
        return text;
    }

    // One step of the path to what is being looked at: a key, or else an index.
    struct PathStep {
        explicit PathStep(PyObject* name) : key(Ref::borrow(name)) {}
        explicit PathStep(Py_ssize_t at) : index(at) {}
        Ref key;
        Py_ssize_t index = 0;
    };

    PyTypeObject* type_;
    std::vector<PathStep> path_;
};

}  // namespace

Ref prepare_data(PyTypeObject* store_type, PyObject* data, const char* function) {
    Preparer preparer(store_type);
    if (PyDict_CheckExact(data)) return preparer.dict(data);
    if (is_store(data) && is_store_by_name(data)) {
        Ref content = call_store_method(data, names().mv_to_dict, {});
        if (PyDict_CheckExact(content.get())) return preparer.dict(content.get());
        return preparer.mapping(content.get());
    }
    if (PyDict_Check(data) || require_status(PyObject_IsInstance(data, state.mapping_abc))) {
        return preparer.mapping(data);
    }
    raise(PyExc_TypeError, "%s argument 'data' must be a mapping, not %.200s", function,
          Py_TYPE(data)->tp_name);
}

Ref prepare_value(PyTypeObject* store_type, PyObject* key, PyObject* value) {
    Preparer preparer(store_type);
    preparer.enter(key);
    return preparer.value(value);
}

Ref prepare_key(PyTypeObject* store_type, PyObject* key) {
    return Preparer(store_type).checked_key(key);
}

}  // namespace tvs
