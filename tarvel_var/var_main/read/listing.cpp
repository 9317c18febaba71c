// Listing variables: _mv_keys, _mv_values, _mv_items.
#include "frame/calls.hpp"
#include "frame/impls.hpp"
#include "store/selection.hpp"

namespace tv {
namespace {

enum class Listing { Keys, Values, Items };

Ref list_variables(PyObject* self, Listing what) {
    Ref result = require(PyList_New(0));
    Ref dict = instance_dict(self);
    Selection selection(self);
    auto add = [&](PyObject* name, PyObject* value) {
        if (!selection.is_variable(name)) return;
        if (what == Listing::Keys) {
            require_status(PyList_Append(result.get(), name));
        } else if (what == Listing::Values) {
            require_status(PyList_Append(result.get(), value));
        } else {
            Ref pair = require(PyTuple_Pack(2, name, value));
            require_status(PyList_Append(result.get(), pair.get()));
        }
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

Ref mv_keys(Args args) { return list_variables(args[0], Listing::Keys); }
Ref mv_values(Args args) { return list_variables(args[0], Listing::Values); }
Ref mv_items(Args args) { return list_variables(args[0], Listing::Items); }

}  // namespace impl
}  // namespace tv
