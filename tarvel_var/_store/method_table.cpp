// The methods bind() puts on the public class, each declared once: its name, its parameters
// with their defaults, its docstring, and its body. The parameters drive both the parser of
// its calls and the signature that `inspect` and `help()` show.
#include "method_table.hpp"

#include <array>
#include <deque>
#include <span>
#include <string>
#include <tuple>

#include "capi/arguments.hpp"
#include "methods.hpp"
#include "views.hpp"

namespace store {
namespace {

using capi::Parameter;
constexpr Parameter::Kind kPositional = Parameter::PositionalOnly;
constexpr Parameter::Kind kEither = Parameter::PositionalOrKeyword;
constexpr Parameter::Kind kKeyword = Parameter::KeywordOnly;
constexpr Parameter::Kind kEntries = Parameter::VarKeyword;

// The common call, bound inline: positional arguments only, each parameter they reach takes
// them, and every one they do not reach has a default. False for any other call, which the
// parser then binds (and reports, if it does not fit).
template <std::size_t N>
bool bind_positionally(const std::array<Parameter, N>& params, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames, std::array<PyObject*, N>& bound) {
    if (kwnames != nullptr || nargs > static_cast<Py_ssize_t>(N)) return false;
    for (std::size_t i = 0; i < N; ++i) {
        const Parameter& param = params[i];
        if (static_cast<Py_ssize_t>(i) < nargs) {
            if (param.kind != Parameter::PositionalOnly && param.kind != Parameter::PositionalOrKeyword) return false;
            bound[i] = args[i];
        } else {
            if (param.required() || param.kind == Parameter::VarKeyword) return false;
            bound[i] = param.default_value;
        }
    }
    return true;
}

// Binds a call to `params` and hands the bound arguments, in order, to body(self, ...).
template <std::size_t N, class Body>
PyObject* parsed(const char* name, const std::array<Parameter, N>& params, PyObject* self, PyObject* const* args,
                 Py_ssize_t nargs, PyObject* kwnames, Body body) {
    std::array<PyObject*, N> bound;
    if (!bind_positionally(params, args, nargs, kwnames, bound) &&
        !capi::bind_parameters(name, params, args, nargs, kwnames, bound.data())) {
        return nullptr;
    }
    return entry([&] {
        return std::apply([&](auto... arguments) { return body(self, arguments...); }, bound).release();
    });
}

// -- the methods whose arguments are parsed here ---------------------------------------------

const std::array<Parameter, 5> init_params = {{{"data", kPositional, "None", Py_None},
                                                {"reprint", kKeyword, "False", Py_False},
                                                {"inherit", kKeyword, "False", Py_False},
                                                {"strict", kKeyword, "None", Py_None},
                                                {"frozen", kKeyword, "False", Py_False}}};
const std::array<Parameter, 2> get_params = {{{"key", kEither}, {"default", kEither, "None", Py_None}}};
const std::array<Parameter, 1> to_dict_params = {{{"sort", kEither, "False", Py_False}}};
const std::array<Parameter, 2> pop_params = {{{"key", kPositional}, {"default", kPositional, ""}}};
const std::array<Parameter, 2> setdefault_params = {{{"key", kPositional}, {"default", kPositional, "None", Py_None}}};
const std::array<Parameter, 2> setitem_params = {{{"key", kPositional}, {"value", kPositional}}};

PyObject* init_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return parsed("TarvelVar", init_params, self, args, nargs, kwnames, init_impl);
}
PyObject* get_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return parsed("get", get_params, self, args, nargs, kwnames, get_impl);
}
PyObject* to_dict_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return parsed("to_dict", to_dict_params, self, args, nargs, kwnames, to_dict_impl);
}
// Methods that take no keywords: the method object refuses keywords before these are called.
PyObject* pop_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    return parsed("pop", pop_params, self, args, nargs, nullptr, pop_impl);
}
PyObject* setdefault_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    return parsed("setdefault", setdefault_params, self, args, nargs, nullptr, setdefault_impl);
}
PyObject* setitem_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    return parsed("__setitem__", setitem_params, self, args, nargs, nullptr, setitem_impl);
}

// -- the others take their arguments as the interpreter hands them ---------------------------

const std::array<Parameter, 1> one_name = {{{"name", kPositional}}};
const std::array<Parameter, 1> one_key = {{{"key", kPositional}}};
const std::array<Parameter, 1> one_other = {{{"other", kPositional}}};
const std::array<Parameter, 1> one_mapping = {{{"data", kPositional}}};
const std::array<Parameter, 2> name_and_value = {{{"name", kPositional}, {"value", kPositional}}};
const std::array<Parameter, 1> add_params = {{{"entries", kEntries}}};
const std::array<Parameter, 2> update_params = {{{"other", kPositional, "()"}, {"entries", kEntries}}};

struct Declaration {
    const char* name;
    PyCFunction function;
    int flags;
    std::span<const Parameter> params;
    const char* summary;
};

constexpr int kFast = METH_FASTCALL;
constexpr int kFastKw = METH_FASTCALL | METH_KEYWORDS;
constexpr int kVarKw = METH_VARARGS | METH_KEYWORDS;

const Declaration protocol[] = {
    {"__init__", as_cfunction(init_entry), kFastKw, init_params,
     "Makes a store of `data`, a mapping (a store gives its content). `data` is checked whole "
     "first: a key that is not a str, or that the store keeps for itself, is refused (TypeError, "
     "ValueError) before anything is stored. A missing attribute raises, here and in every "
     "nested store made in this one, unless `strict` is false (or, left out, `reprint` is true)."},
    {"__getattr__", as_cfunction(getattr_hook), METH_O, one_name,
     "A missing attribute: AttributeError in a strict store and for dunder names, else what the "
     "store's reprint flag says (the name, or None)."},
    {"__setattr__", as_cfunction(setattr_method), kFast, name_and_value,
     "Sets the variable `name`, converting `value` as item assignment does (any mapping becomes a "
     "nested store); the name is not checked."},
    {"__getitem__", as_cfunction(getitem), METH_O, one_key, "The variable `key`; KeyError when there is none."},
    {"__setitem__", as_cfunction(setitem_entry), kFast, setitem_params,
     "Sets the variable `key` as attribute assignment does; a refused key or value leaves the store "
     "as it was."},
    {"__delitem__", as_cfunction(delitem), METH_O, one_key,
     "Removes the variable `key`; KeyError when there is none."},
    {"__len__", as_cfunction(length), METH_NOARGS, {}, "The number of variables."},
    {"__contains__", as_cfunction(contains), METH_O, one_key, "Whether the store has the variable `key`."},
    {"__iter__", as_cfunction(iterate), METH_NOARGS, {}, "The variable names, in the store's order."},
    {"__eq__", as_cfunction(equals), METH_O, one_other, "Equality by content with a store or any mapping."},
    {"__ne__", as_cfunction(not_equals), METH_O, one_other, "The inverse of ==."},
    {"__reversed__", as_cfunction(reversed_keys), METH_NOARGS, {}, "The variable names, last first."},
    {"__or__", as_cfunction(or_op), METH_O, one_other,
     "A copy of the store (see copy()) updated with the mapping `other`."},
    {"__ior__", as_cfunction(ior_op), METH_O, one_other, "update(other), and the store itself."},
};

const Declaration public_methods[] = {
    {"add", as_cfunction(add), kVarKw, add_params, "Merges the keyword arguments into the store."},
    {"keys", as_cfunction(keys_view), METH_NOARGS, {},
     "A set-like view of the names of the variables, in the store's order."},
    {"values", as_cfunction(values_view), METH_NOARGS, {},
     "A view of the values of the variables, in the store's order."},
    {"items", as_cfunction(items_view), METH_NOARGS, {},
     "A set-like view of the (name, value) pairs of the variables, in the store's order."},
    {"pop", as_cfunction(pop_entry), kFast, pop_params,
     "Removes the variable `key` and returns its value; `default` (or KeyError) when there is none."},
    {"popitem", as_cfunction(popitem), METH_NOARGS, {},
     "Removes the last variable and returns its (name, value) pair."},
    {"setdefault", as_cfunction(setdefault_entry), kFast, setdefault_params,
     "The variable `key`, set first to `default` when missing (converted as assignment converts)."},
    {"update", as_cfunction(update), kVarKw, update_params,
     "Sets each entry as item assignment does (replacing, not merging). Every entry is checked "
     "before the first is set; an error while setting leaves the entries set before it."},
    {"copy", as_cfunction(copy_store), METH_NOARGS, {},
     "A deep copy of the store, as copy.deepcopy makes one: its nested stores, lists and values are "
     "copies too, and it keeps the store's flags. (A dict's copy() is shallow; a configuration's copy "
     "is meant to be changed without changing the original.)"},
    {"clear", as_cfunction(clear), METH_NOARGS, {}, "Removes every variable; the store stays set up."},
    {"to_dict", as_cfunction(to_dict_entry), kFastKw, to_dict_params,
     "The store as plain dicts and lists; `sort` orders the names of every dict, at every level."},
    {"get", as_cfunction(get_entry), kFastKw, get_params,
     "The variable `key`, or the value at the \"$.\" path `key`, or `default`. A path steps into "
     "stores and dicts by name and into lists by index (negative from the end): "
     "`get(\"$.servers.0.host\")`, also written `get(\"$.servers[0].host\")`. Any error on the way "
     "gives `default`."},
    {"merge", as_cfunction(merge), METH_O, one_mapping,
     "Merges a mapping in: dicts into nested stores, lists onto the lists held, the rest replacing. "
     "`data` is checked whole before the store changes; an error raised while merging (by a value's "
     "own code, say) leaves the entries merged before it."},
};

// The method tables the interpreter takes, made once from the declarations; they and their
// docstrings live as long as the process, as method definitions must.
std::deque<std::string> docstrings;

PyMethodDef* definitions(std::span<const Declaration> declarations) {
    auto* table = new PyMethodDef[declarations.size() + 1]();
    for (std::size_t i = 0; i < declarations.size(); ++i) {
        const Declaration& d = declarations[i];
        docstrings.push_back(capi::method_docstring(d.name, d.params, d.summary));
        table[i] = PyMethodDef{d.name, d.function, d.flags, docstrings.back().c_str()};
    }
    return table;
}

}  // namespace

PyMethodDef* protocol_method_table() {
    static PyMethodDef* table = definitions(protocol);
    return table;
}

PyMethodDef* public_method_table() {
    static PyMethodDef* table = definitions(public_methods);
    return table;
}

int init_from_tuple(PyObject* self, PyObject* args, PyObject* kwargs) {
    std::array<PyObject*, 5> bound;
    const bool no_keywords = kwargs == nullptr || PyDict_GET_SIZE(kwargs) == 0;
    if (!(no_keywords && bind_positionally(init_params, &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args),
                                           nullptr, bound)) &&
        !capi::bind_parameters("TarvelVar", init_params, args, kwargs, bound.data())) {
        return -1;
    }
    return capi::at_boundary<int>(-1, [&] {
        init_impl(self, bound[0], bound[1], bound[2], bound[3], bound[4]);
        return 0;
    });
}

}  // namespace store
