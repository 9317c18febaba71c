// Freezing a whole tree of stores in one native walk.
//
// frozen.freeze() plans before it changes anything: every store it reaches, the frozen class of
// each, and the tuples that replace their lists; then it writes the tuples and swaps the classes.
// This is that plan and its application, without a Python call per value: the frozen variant of
// each class is asked of the given maker once per class. A value that only the general way can
// freeze (a dict, which only the inherit flag keeps, or a list or tuple of a subclass, whose own
// iteration the general way follows) makes the walk give up before anything has changed.
#include "freeze.hpp"

#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "capi/collector.hpp"
#include "capi/cpython_private.hpp"
#include "capi/recursion.hpp"
#include "methods.hpp"
#include "store_access.hpp"

namespace store {
namespace {

bool is_frozen_class(PyTypeObject* type) noexcept {
    return capi::class_attribute(type, names().frozen_marker) == Py_True;
}

class Freezer {
public:
    explicit Freezer(PyObject* maker) : maker_(maker) {}

    // Plans the freezing of `root` and what it reaches; false when the general way must do it.
    bool plan(PyObject* root) {
        pending_.push_back(Ref::borrow(root));
        while (!pending_.empty()) {
            Ref store = std::move(pending_.back());
            pending_.pop_back();
            if (!visit(store)) return false;
        }
        return true;
    }

    void apply() {
        for (Planned& planned : planned_) {
            for (auto& [key, value] : planned.replaced) {
                require_status(PyDict_SetItem(planned.dict.get(), key.get(), value.get()));
            }
        }
        for (Planned& planned : planned_) {
            require_status(PyObject_GenericSetAttr(planned.store.get(), names().dunder_class, planned.frozen.get()));
        }
    }

private:
    struct Planned {
        Ref store;
        Ref frozen;
        Ref dict;
        std::vector<std::pair<Ref, Ref>> replaced;
    };

    bool visit(const Ref& store) {
        if (!seen_.insert(store.get()).second) return true;
        // asked first, as the general way asks: a class that cannot be made fails the freeze
        // before anything changes. The maker may run Python code; the walk of this store's
        // dict starts after it, and runs none.
        Ref frozen = frozen_class(Py_TYPE(store.get()));
        if (!frozen) return true;  // frozen already
        Ref dict = require(PyObject_GenericGetDict(store.get(), nullptr));
        if (!PyDict_CheckExact(dict.get())) return false;
        Planned planned{store, std::move(frozen), dict, {}};
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(dict.get(), &position, &key, &value)) {
            if (PyUnicode_Check(key) && is_internal_name(key)) continue;
            Ref frozen_value = frozen_form(value);
            if (!frozen_value) return false;
            if (frozen_value.get() != value) planned.replaced.emplace_back(Ref::borrow(key), std::move(frozen_value));
        }
        planned_.push_back(std::move(planned));
        return true;
    }

    // The frozen variant of `type`; an empty Ref for a class that is frozen itself.
    Ref frozen_class(PyTypeObject* type) {
        auto known = classes_.find(type);
        if (known != classes_.end()) return known->second;
        Ref made = is_frozen_class(type) ? Ref()
                                         : require(PyObject_CallOneArg(maker_, reinterpret_cast<PyObject*>(type)));
        types_.push_back(Ref::borrow(reinterpret_cast<PyObject*>(type)));  // the key stays alive
        classes_.emplace(type, made);
        return made;
    }

    // `value` as a frozen store holds it; an empty Ref where the general way must freeze it.
    Ref frozen_form(PyObject* value) {
        if (is_store(value)) {
            pending_.push_back(Ref::borrow(value));
            return Ref::borrow(value);
        }
        if (PyList_CheckExact(value) || PyTuple_CheckExact(value)) return frozen_sequence(value);
        if (PyDict_Check(value) || PyList_Check(value) || PyTuple_Check(value)) return Ref();
        return Ref::borrow(value);
    }

    Ref frozen_sequence(PyObject* sequence) {
        capi::RecursionGuard guard;
        const bool is_list = PyList_CheckExact(sequence);
        const Py_ssize_t size = is_list ? PyList_GET_SIZE(sequence) : PyTuple_GET_SIZE(sequence);
        Ref result = require(PyTuple_New(size));
        bool same = !is_list;
        for (Py_ssize_t i = 0; i < size; ++i) {
            // nothing here runs Python code: the sequence keeps its size and items
            PyObject* item = is_list ? PyList_GET_ITEM(sequence, i) : PyTuple_GET_ITEM(sequence, i);
            Ref frozen = frozen_form(item);
            if (!frozen) return Ref();
            same = same && frozen.get() == item;
            PyTuple_SET_ITEM(result.get(), i, frozen.release());
        }
        return same ? Ref::borrow(sequence) : result;
    }

    PyObject* maker_;
    std::vector<Ref> pending_;
    std::unordered_set<PyObject*> seen_;  // each held by planned_ or pending_
    std::vector<Planned> planned_;
    std::unordered_map<PyTypeObject*, Ref> classes_;
    std::vector<Ref> types_;
};

// freeze_tree(store, frozen_class, /): True once `store` and all it reaches are frozen; False,
// having changed nothing, where the general way must freeze them.
PyObject* freeze_tree(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return entry([&] {
        if (nargs != 2 || !is_store(args[0]) || !PyCallable_Check(args[1])) {
            raise(PyExc_TypeError, "freeze_tree(store, frozen_class, /) takes a store and a callable");
        }
        // The tuples made here are a tree's: the collector, which so many new containers would
        // set off again and again, could find no cycle among them (it took over half the time).
        capi::CollectorPaused paused;
        Freezer freezer(args[1]);
        if (!freezer.plan(args[0])) return Py_NewRef(Py_False);
        freezer.apply();
        return Py_NewRef(Py_True);
    });
}

PyMethodDef freeze_functions[] = {
    {"freeze_tree", as_cfunction(freeze_tree), METH_FASTCALL,
     "freeze_tree(store, frozen_class, /)\n--\n\nFreezes `store` and every store it reaches, the "
     "frozen class of each from frozen_class(cls): True; False, with nothing changed, where the "
     "general way must."},
};

}  // namespace

bool ready_freeze(PyObject* module) {
    return capi::at_boundary<bool>(false, [&] {
        add_functions(module, freeze_functions);
        return true;
    });
}

}  // namespace store
