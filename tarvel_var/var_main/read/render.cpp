// Text renderings: _mv_to_params, _mv_to_string, __repr__.
#include "frame/calls.hpp"
#include "frame/impls.hpp"
#include "store/selection.hpp"

namespace tv {
namespace {

// One piece per variable of `mapping`, in its order, formatted from str(name) and
// repr(value); joined with `separator`.
Ref render(PyObject* self, PyObject* mapping, const char* piece_format, const char* separator) {
    Ref strings = require(PyList_New(0));
    Selection selection(self);
    walk_pairs(mapping, [&](PyObject* name, PyObject* value) {
        if (!selection.is_variable(name)) return;
        Ref piece = require(PyUnicode_FromFormat(piece_format, name, value));
        require_status(PyList_Append(strings.get(), piece.get()));
        selection.code_may_have_run();  // str() and repr() may run code
    });
    Ref sep = require(PyUnicode_FromString(separator));
    return require(PyUnicode_Join(sep.get(), strings.get()));
}

}  // namespace

namespace impl {

Ref mv_to_params(Args args) {
    Ref dict = instance_dict(args[0]);
    return render(args[0], dict.get(), "%S=%R", "&");
}

Ref mv_to_string(Args args) {
    Ref dict = instance_dict(args[0]);
    return render(args[0], dict.get(), "\"%S\": \"%R\"", ", ");
}

// Ordered by name over a snapshot, so a value's repr() that changes the store cannot
// disturb the walk.
Ref repr_hook(Args args) {
    PyObject* self = args[0];
    Ref dict = instance_dict(self);
    Ref view = call_method(dict.get(), names().items, {});
    Ref pairs = require(PySequence_List(view.get()));
    require_status(PyList_Sort(pairs.get()));
    Ref print_dict = require(PyDict_New());
    require_status(PyDict_MergeFromSeq2(print_dict.get(), pairs.get(), 1));
    Ref body = render(self, print_dict.get(), "%S=%R", ", ");
    return require(PyUnicode_FromFormat("TarvelVar(%U)", body.get()));
}

}  // namespace impl
}  // namespace tv
