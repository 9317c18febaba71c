// origin_walk(store, snapshot, record, missing, by_path, layer_class, /): every leaf of a composed store
// with its origin, as origins.origin_items() finds them in Python, in one native walk (or, by
// path, the dict origins() gives).
//
// The walk reads what the Python walk reads, through the same objects: each store's
// `_mv_items()`, the record's `setter`, `touched` and `below`, a layer's `at(path)`, the
// snapshot composing left (plain dicts and lists). Comparing a leaf with its snapshot and a
// layer's `at` may run Python code, which may change the store: every object the walk stands
// on is held, and each store's items are listed before its values are walked.
#include "origin_walk.hpp"

#include <string>
#include <unordered_map>
#include <vector>

#include "capi/collector.hpp"
#include "capi/cpython_private.hpp"
#include "capi/recursion.hpp"
#include "equality.hpp"
#include "methods.hpp"
#include "store_access.hpp"

namespace store {
namespace {

using capi::require;
using capi::require_status;

class OriginWalk {
public:
    // `by_path`: the found leaves as a dict of path to origin, as origins() gives them, rather
    // than a list of (place, path, value, origin)
    // `layer_class`: the class whose at() gives the layer's own origin wherever it holds no
    // lines, read here without the call
    OriginWalk(bool recorded, bool by_path, PyObject* layer_class)
        : recorded_(recorded), by_path_(by_path), layer_class_(layer_class) {
        found_ = require(PyList_New(0));
    }

    // `snapshot` and `node`: empty where there is none; `layer`: the nearest setter above.
    void walk(PyObject* value, PyObject* snapshot, PyObject* node, Ref layer) {
        capi::RecursionGuard guard;
        Ref node_setter = node != nullptr ? attribute(node, names().setter.get()) : Ref();
        if (node_setter) layer = node_setter;
        std::vector<Entry> entries;
        const bool container = entries_of(value, entries);
        if (entries.empty() && !path_.empty()) {
            leaf(value, snapshot, node, node_setter, layer);
            return;
        }
        if (!container) return;  // the top level is no store: nothing to list
        Ref below = node != nullptr ? attribute(node, names().below.get()) : Ref();
        for (const Entry& entry : entries) {
            Ref inner_snapshot = below_snapshot(snapshot, entry.key.get());
            Ref inner_node = below ? get_optional(below.get(), entry.key.get()) : Ref();
            // the path's text, kept as UTF-8 and made a str only for a leaf
            const std::size_t mark = text_.size();
            text_ += '.';
            append_text(entry.key.get());
            path_.push_back(entry.key);
            walk(entry.value.get(), inner_snapshot.get(), inner_node.get(), layer);
            path_.pop_back();
            text_.resize(mark);
        }
    }

    // The leaves found: the list of (place, path, value, origin); by path, a dict made at its
    // size once all are found (growing it leaf by leaf rehashes it again and again)
    Ref found() {
        if (!by_path_) return found_;
        Ref dict = capi::new_presized_dict(static_cast<Py_ssize_t>(by_path_found_.size()));
        for (const auto& [text, origin] : by_path_found_) require_status(PyDict_SetItem(dict.get(), text.get(), origin.get()));
        return dict;
    }

private:
    struct Entry {
        Ref key;
        Ref value;
    };

    // The (key, value) pairs of a store (its `_mv_items()`: read from its dictionary where that
    // is var_main's own and the store's listing too) or of a list or tuple (index, item), held;
    // false for any other value.
    bool entries_of(PyObject* value, std::vector<Entry>& entries) {
        if (PyObject_TypeCheck(value, reinterpret_cast<PyTypeObject*>(state.main_cls.get()))) {
            if (Ref dict = own_items_dict(value)) {  // its variables: the dictionary's entries but the internal ones
                walk_dict(dict.get(), [&](PyObject* key, PyObject* item) {
                    if (!(PyUnicode_Check(key) && is_internal_name(key))) entries.push_back({Ref::borrow(key), Ref::borrow(item)});
                    return true;
                });
                return true;
            }
            Ref items = require(PyObject_CallMethodNoArgs(value, names().mv_items.get()));
            Ref listed = require(PySequence_List(items.get()));
            for (Py_ssize_t i = 0; i < PyList_GET_SIZE(listed.get()); ++i) {
                PyObject* pair = PyList_GET_ITEM(listed.get(), i);
                entries.push_back({Ref::borrow(PyTuple_GET_ITEM(pair, 0)), Ref::borrow(PyTuple_GET_ITEM(pair, 1))});
            }
            return true;
        }
        if (!PyList_Check(value) && !PyTuple_Check(value)) return false;
        Ref items = require(PySequence_List(value));
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
            entries.push_back({require(PyLong_FromSsize_t(i)), Ref::borrow(PyList_GET_ITEM(items.get(), i))});
        }
        return true;
    }

    // `node_setter`: the node's setter, read already (empty: None)
    void leaf(PyObject* value, PyObject* snapshot, PyObject* node, const Ref& node_setter, Ref layer) {
        Ref here = layer;
        if (node != nullptr) {
            // node.touched or node.setter or layer (a layer is always true)
            if (Ref touched = attribute(node, names().touched.get())) {
                here = touched;
            } else if (node_setter) {
                here = node_setter;
            }
        }
        Ref path;  // the tuple of keys, made where something takes it
        Ref origin = Ref::borrow(Py_None);
        if (recorded_ && same(value, snapshot) && here) origin = origin_at(here.get(), path);
        Ref text = require(PyUnicode_DecodeUTF8(text_.data(), static_cast<Py_ssize_t>(text_.size()), "surrogatepass"));
        if (by_path_) {
            by_path_found_.emplace_back(std::move(text), std::move(origin));
            return;
        }
        if (!path) path = path_tuple();
        Ref item = require(PyTuple_Pack(4, path.get(), text.get(), value, origin.get()));
        require_status(PyList_Append(found_.get(), item.get()));
    }

    // str(key) onto the path's text; a lone surrogate (which a name read from JSON may hold)
    // is carried through as "surrogatepass" writes it, and read back so at the leaf.
    void append_text(PyObject* key) {
        Ref text = require(PyObject_Str(key));
        Py_ssize_t size = 0;
        if (const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size)) {
            text_.append(utf8, static_cast<std::size_t>(size));
            return;
        }
        if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) capi::throw_error();
        PyErr_Clear();
        Ref bytes = require(PyUnicode_AsEncodedString(text.get(), "utf-8", "surrogatepass"));
        text_.append(PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
    }

    Ref path_tuple() const {
        Ref path = require(PyTuple_New(static_cast<Py_ssize_t>(path_.size())));
        for (std::size_t i = 0; i < path_.size(); ++i) {
            PyTuple_SET_ITEM(path.get(), static_cast<Py_ssize_t>(i), Py_NewRef(path_[i].get()));
        }
        return path;
    }

    // layer.at(path): for a layer of the class itself that holds no lines, its origin (what
    // at() answers then, read once per layer); else the call, made with the path's tuple.
    Ref origin_at(PyObject* layer, Ref& path) {
        if (Py_TYPE(layer) == reinterpret_cast<PyTypeObject*>(layer_class_)) {
            auto known = plain_layers_.find(layer);
            if (known != plain_layers_.end()) return known->second.origin;
            Ref lines = require(PyObject_GetAttr(layer, names().lines.get()));
            if (!capi::truth(lines.get())) {
                Ref origin = require(PyObject_GetAttr(layer, names().origin.get()));
                plain_layers_.emplace(layer, PlainLayer{Ref::borrow(layer), origin});
                return origin;
            }
        }
        path = path_tuple();
        return require(PyObject_CallMethodOneArg(layer, names().at.get(), path.get()));
    }

    // Whether `value` is still what composing left: the very object, a store or list equal
    // to the section or list it was, or a value of the same type and equal.
    static bool same(PyObject* value, PyObject* snapshot) {
        if (snapshot == nullptr) return false;
        if (value == snapshot) return true;
        Ref held_value = Ref::borrow(value);  // the comparisons may run code
        Ref held_snapshot = Ref::borrow(snapshot);
        if (PyObject_TypeCheck(value, reinterpret_cast<PyTypeObject*>(state.main_cls.get()))) {
            return PyDict_Check(snapshot) && values_equal(value, snapshot);
        }
        if (PyList_Check(value) || PyTuple_Check(value)) return PyList_Check(snapshot) && values_equal(value, snapshot);
        if (Py_TYPE(value) != Py_TYPE(snapshot)) return false;
        return require_status(PyObject_RichCompareBool(value, snapshot, Py_EQ)) == 1;
    }

    // What the snapshot held under `key`; empty for nothing.
    static Ref below_snapshot(PyObject* snapshot, PyObject* key) {
        if (snapshot == nullptr) return Ref();
        if (PyDict_Check(snapshot)) return get_optional(snapshot, key);
        if (PyList_Check(snapshot) && PyLong_CheckExact(key)) {
            const Py_ssize_t index = PyLong_AsSsize_t(key);
            if (index == -1 && PyErr_Occurred()) capi::throw_error();
            if (index < PyList_GET_SIZE(snapshot)) return Ref::borrow(PyList_GET_ITEM(snapshot, index));
        }
        return Ref();
    }

    static Ref get_optional(PyObject* mapping, PyObject* key) {
        PyObject* found = nullptr;
        if (PyDict_CheckExact(mapping)) {
            require_status(PyDict_GetItemRef(mapping, key, &found));
        } else {
            require_status(PyMapping_GetOptionalItem(mapping, key, &found));
        }
        return Ref::steal(found);
    }

    // An attribute of a record, empty where it is None.
    static Ref attribute(PyObject* obj, PyObject* name) {
        Ref value = require(PyObject_GetAttr(obj, name));
        return value.get() == Py_None ? Ref() : value;
    }

    bool recorded_;
    bool by_path_;
    PyObject* layer_class_;
    struct PlainLayer {
        Ref layer;  // held, so that its address names it while the walk runs
        Ref origin;
    };
    std::unordered_map<PyObject*, PlainLayer> plain_layers_;
    std::vector<Ref> path_;
    std::string text_ = "$";
    Ref found_;
    std::vector<std::pair<Ref, Ref>> by_path_found_;
};

PyObject* origin_walk(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return entry([&] {
        if (nargs != 6 || !PyType_Check(args[5])) {
            capi::raise(PyExc_TypeError,
                        "origin_walk(store, snapshot, record, missing, by_path, layer_class, /) takes 6 arguments");
        }
        PyObject* missing = args[3];
        PyObject* snapshot = args[1] == Py_None || args[1] == missing ? nullptr : args[1];
        PyObject* record = args[2] == Py_None ? nullptr : args[2];
        capi::CollectorPaused paused;  // a tuple made per leaf, and no cycle
        OriginWalk walk(record != nullptr, capi::truth(args[4]), args[5]);
        walk.walk(args[0], snapshot, record, Ref());
        return walk.found().release();
    });
}

PyMethodDef walk_functions[] = {
    {"origin_walk", as_cfunction(origin_walk), METH_FASTCALL,
     "origin_walk(store, snapshot, record, missing, by_path, layer_class, /)\n--\n\nEvery leaf of a composed store "
     "as (place, path, value, origin), as origins.origin_items() finds them; by_path: as a dict of path "
     "to origin."},
};

}  // namespace

bool ready_origin_walk(PyObject* module) {
    return capi::at_boundary<bool>(false, [&] {
        add_functions(module, walk_functions);
        return true;
    });
}

}  // namespace store
