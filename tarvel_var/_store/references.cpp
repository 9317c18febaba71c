// Where a store holds text with references: the scan that resolve() starts from. It is the
// whole cost of resolving a document that holds none, so it is native, and it allocates only
// for what it finds.
#include "references.hpp"

#include <vector>

#include "capi/recursion.hpp"
#include "methods.hpp"
#include "store_access.hpp"

namespace store {
namespace {

class Scanner {
public:
    explicit Scanner(PyObject* marker) : marker_(marker), found_(require(PyList_New(0))) {}

    void store(PyObject* obj) {
        capi::RecursionGuard guard;
        Ref dict = instance_dict(obj);
        if (!PyDict_Check(dict.get())) return;
        walk_dict(dict.get(), [&](PyObject* key, PyObject* value) {
            if (PyUnicode_Check(key) && is_internal_name(key)) return;
            visit(obj, key, value);
        });
    }

    Ref result() { return std::move(found_); }

private:
    void visit(PyObject* container, PyObject* step, PyObject* value) {
        if (PyUnicode_Check(value)) {
            if (holds_reference(value)) record(container, step);
            return;
        }
        if (is_plain_scalar(value)) return;
        path_.push_back(Ref::borrow(step));
        if (is_store(value)) {
            store(value);
        } else if (PyList_Check(value) || PyTuple_Check(value)) {
            sequence(value);
        }
        path_.pop_back();
    }

    void sequence(PyObject* items) {
        capi::RecursionGuard guard;
        // the size is read at every step: nothing here runs code, but a list is a list
        for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items); ++i) {
            Ref item = Ref::borrow(PySequence_Fast_ITEMS(items)[i]);
            if (PyUnicode_Check(item.get()) ? !holds_reference(item.get()) : is_plain_scalar(item.get())) continue;
            Ref index = require(PyLong_FromSsize_t(i));
            visit(items, index.get(), item.get());
        }
    }

    bool holds_reference(PyObject* text) {
        const Py_ssize_t at = PyUnicode_Find(text, marker_, 0, PyUnicode_GET_LENGTH(text), 1);
        if (at == -2) throw_error();
        return at >= 0;
    }

    // (container, key or index, path of the value as a tuple of steps)
    void record(PyObject* container, PyObject* step) {
        Ref path = require(PyTuple_New(static_cast<Py_ssize_t>(path_.size()) + 1));
        for (std::size_t i = 0; i < path_.size(); ++i) {
            PyTuple_SET_ITEM(path.get(), static_cast<Py_ssize_t>(i), Py_NewRef(path_[i].get()));
        }
        PyTuple_SET_ITEM(path.get(), static_cast<Py_ssize_t>(path_.size()), Py_NewRef(step));
        Ref site = require(PyTuple_Pack(3, container, step, path.get()));
        require_status(PyList_Append(found_.get(), site.get()));
    }

    PyObject* marker_;
    Ref found_;
    std::vector<Ref> path_;
};

}  // namespace

PyObject* reference_sites(PyObject*, PyObject* root) {
    return entry([&] {
        if (!is_store(root)) raise(PyExc_TypeError, "reference_sites() takes a store");
        Ref marker = require(PyUnicode_FromString("${"));
        Scanner scanner(marker.get());
        scanner.store(root);
        return scanner.result().release();
    });
}

}  // namespace store
