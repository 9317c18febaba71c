// Listing variables: _mv_keys, _mv_values, _mv_items.
#include "frame/calls.hpp"
#include "frame/containers.hpp"
#include "frame/toolkit.hpp"
#include "frame/impls.hpp"
#include "store/selection.hpp"

namespace var_main {
namespace {

enum class Listing { Keys, Values, Items };

Ref listed_entry(Listing what, PyObject* name, PyObject* value) {
    if (what == Listing::Keys) return Ref::borrow(name);
    if (what == Listing::Values) return Ref::borrow(value);
    return require(PyTuple_Pack(2, name, value));
}

// The whole listing at once, when choosing the variables needs no calls: `_skip` is our own
// and every key is an exact str, so nothing can run Python code or change the dict between
// the pass that counts the variables and the pass that fills a list of that size. An empty
// Ref when the listing cannot be made so.
Ref list_directly(PyObject* self, PyObject* dict, Listing what) {
    if (!PyDict_CheckExact(dict) || !has_only_exact_str_keys(dict) ||
        !own_method(self, Method::Skip, dict)) {
        return Ref();
    }
    Ref result;
    if (what != Listing::Values) {
        // The dict's own keys() or items() list, with the internal variables taken out.
        result = require(what == Listing::Keys ? PyDict_Keys(dict) : PyDict_Items(dict));
        PyObject** items = PySequence_Fast_ITEMS(result.get());
        const Py_ssize_t size = PyList_GET_SIZE(result.get());
        auto name_at = [&](Py_ssize_t i) {
            return what == Listing::Keys ? items[i] : PyTuple_GET_ITEM(items[i], 0);
        };
        // Set-up writes the four internal variables first; the keys of a dict are distinct, so
        // when they lead the list, no other entry can be one of them.
        if (size >= 4 && is_internal_name(name_at(0)) && is_internal_name(name_at(1)) &&
            is_internal_name(name_at(2)) && is_internal_name(name_at(3))) {
            require_status(PyList_SetSlice(result.get(), 0, 4, nullptr));
            return result;
        }
        Py_ssize_t kept = 0;
        for (Py_ssize_t i = 0; i < size; ++i) {
            if (is_internal_name(name_at(i))) {
                // the list's reference to a name, or to a pair of objects the dict still holds:
                // released at once, which runs no code
                Ref::steal(items[i]);
            } else {
                items[kept++] = items[i];
            }
        }
        for (Py_ssize_t i = kept; i < size; ++i) items[i] = nullptr;
        require_status(PyList_SetSlice(result.get(), kept, size, nullptr));
        return result;
    }
    Py_ssize_t count = 0, pos = 0;
    PyObject* name = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(dict, &pos, &name, &value)) count += is_internal_name(name) ? 0 : 1;
    result = require(PyList_New(count));
    Py_ssize_t index = 0;
    pos = 0;
    while (PyDict_Next(dict, &pos, &name, &value)) {
        if (is_internal_name(name)) continue;
        PyList_SET_ITEM(result.get(), index++, listed_entry(what, name, value).release());
    }
    return result;
}

Ref list_variables(PyObject* self, Listing what) {
    Ref dict = instance_dict(self);
    if (Ref listed = list_directly(self, dict.get(), what)) return listed;
    Ref result = require(PyList_New(0));
    Selection selection(self);
    auto add = [&](PyObject* name, PyObject* value) {
        if (!selection.is_variable(name)) return;
        require_status(PyList_Append(result.get(), listed_entry(what, name, value).get()));
    };
    if (what == Listing::Keys) {
        walk_keys(dict.get(), [&](PyObject* name) { add(name, nullptr); });
    } else {
        walk_pairs(dict.get(), add);
    }
    return result;
}

}  // namespace

namespace impl {

Ref mv_keys(Args args) {
    const auto [self] = arguments<1>(args);
    return list_variables(self, Listing::Keys);
}

Ref mv_values(Args args) {
    const auto [self] = arguments<1>(args);
    return list_variables(self, Listing::Values);
}

Ref mv_items(Args args) {
    const auto [self] = arguments<1>(args);
    return list_variables(self, Listing::Items);
}

}  // namespace impl
}  // namespace var_main
