#include "data.hpp"

#include <string>
#include <vector>

#include "capi/recursion.hpp"

namespace store {
namespace {

// Checks data and gives it in the form the store's methods take, in one of two passes.
//
// The first pass runs no Python code: met with anything whose test or conversion could run
// some (another Mapping, a subclass of a container, a str subclass as a key), it gives up and
// the second pass starts over. So when the first pass succeeds, the data it checked cannot have
// changed, and it is taken as it is, uncopied. The second pass copies every container it walks
// into a new one that only it holds, from the entries as it checks them: code run while it
// checks a later entry (an instance check, a Mapping's items()) may change the source, but
// not what has been checked.
struct NeedsCopy {};

class Preparer {
public:
    Preparer(PyTypeObject* store_type, bool copying) : type_(store_type), copying_(copying) {}

    Ref value(PyObject* obj) {
        const Kind kind = classify(obj);
        switch (kind) {
            case Kind::Scalar:
            case Kind::Atom: return Ref::borrow(obj);
            case Kind::Dict: return dict(obj);
            case Kind::List: return sequence(obj);
            default: break;
        }
        if (is_store(obj) || is_store_by_name(obj)) return Ref::borrow(obj);  // held as the object it is
        code_may_run();
        if (kind == Kind::DictSubclass) return mapping(obj);
        if (kind == Kind::ListSubclass) return sequence(obj);
        if (require_status(PyObject_IsInstance(obj, state.mapping_abc))) return mapping(obj);
        return Ref::borrow(obj);
    }

    // An exact dict: itself (first pass), or a new dict of its checked entries.
    Ref dict(PyObject* source) {
        capi::RecursionGuard guard;
        Ref out = copying_ ? require(PyDict_New()) : Ref();
        walk_dict(source, [&](PyObject* raw_key, PyObject* raw_value) {
            Ref key = checked_key(raw_key);
            Ref value_out = under(key.get(), raw_value);
            if (!copying_ && !value_out.is(raw_value)) throw NeedsCopy{};
            if (out) require_status(PyDict_SetItem(out.get(), key.get(), value_out.get()));
        });
        return out ? out : Ref::borrow(source);
    }

    // Any other mapping: a new dict of its items, in their order (second pass only).
    Ref mapping(PyObject* source) {
        capi::RecursionGuard guard;
        Ref items = require(PyMapping_Items(source));  // may be a list the mapping keeps
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

    // A list, set or tuple: itself (first pass), or a new list of its checked elements.
    Ref sequence(PyObject* source) {
        capi::RecursionGuard guard;
        Ref items = Ref::borrow(source);
        if (!PyList_CheckExact(source) && !PyTuple_CheckExact(source)) {
            items = require(PySequence_List(source));  // one pass over a set or a subclass
        }
        Ref out = copying_ ? require(PyList_New(0)) : Ref();
        // the size is read again at every step: checking an element can change a list
        for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
            Ref element = Ref::borrow(PySequence_Fast_ITEMS(items.get())[i]);
            Ref element_out = under(i, element.get());
            if (!copying_ && !element_out.is(element.get())) throw NeedsCopy{};
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
        if (!PyUnicode_CheckExact(key) && !copying_) throw NeedsCopy{};
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

    // The first pass gives up before anything that can run Python code.
    void code_may_run() const {
        if (!copying_) throw NeedsCopy{};
    }

private:
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
    bool copying_;
    std::vector<PathStep> path_;
};

// Runs prepare(preparer) in the first pass, and again in the second when the first gives up.
template <class Prepare>
Ref in_two_passes(PyTypeObject* store_type, Prepare&& prepare) {
    try {
        Preparer first(store_type, false);
        return prepare(first);
    } catch (const NeedsCopy&) {
    }
    Preparer second(store_type, true);
    return prepare(second);
}

}  // namespace

Ref prepare_data(PyTypeObject* store_type, PyObject* data, const char* function) {
    Ref source = Ref::borrow(data);
    if (is_store(data)) {
        // any store, of whatever class, by its content: its sections merge into ours
        source = call_store_method(data, names().mv_to_dict, {});
    } else if (!PyDict_Check(data) && !require_status(PyObject_IsInstance(data, state.mapping_abc))) {
        raise(PyExc_TypeError, "%s argument 'data' must be a mapping, not %.200s", function,
              Py_TYPE(data)->tp_name);
    }
    return in_two_passes(store_type, [&](Preparer& preparer) {
        if (PyDict_CheckExact(source.get())) return preparer.dict(source.get());
        preparer.code_may_run();
        return preparer.mapping(source.get());
    });
}

Ref prepare_entries(PyTypeObject* store_type, PyObject* entries) {
    return in_two_passes(store_type, [&](Preparer& preparer) { return preparer.dict(entries); });
}

Ref prepare_value(PyTypeObject* store_type, PyObject* key, PyObject* value) {
    return in_two_passes(store_type, [&](Preparer& preparer) {
        preparer.enter(key);
        return preparer.value(value);
    });
}

Ref prepare_key(PyTypeObject* store_type, PyObject* key) {
    return in_two_passes(store_type, [&](Preparer& preparer) { return preparer.checked_key(key); });
}

}  // namespace store
