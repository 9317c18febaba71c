#include "frame/arguments.hpp"

#include "frame/runtime.hpp"

namespace var_main {
namespace {

bool count_error(const MethodSpec& spec, Py_ssize_t given) {
    const int min = spec.min_args(), max = spec.max_args();
    const char* qualifier = "exactly";
    Py_ssize_t limit = min;
    if (min != max) {
        if (given < min) {
            qualifier = "at least";
        } else {
            qualifier = "at most";
            limit = max;
        }
    }
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 spec.name, qualifier, limit, limit == 1 ? "" : "s", given);
    return false;
}

bool same_name(PyObject* keyword, PyObject* param) {
    if (keyword == param) return true;  // keyword names are usually interned
    return PyUnicode_Check(keyword) && PyUnicode_Compare(keyword, param) == 0;
}

// Index of `param` among the keyword names, or -1.
Py_ssize_t find_keyword(PyObject* kwnames, PyObject* param) {
    const Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (PyTuple_GET_ITEM(kwnames, i) == param) return i;
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (same_name(PyTuple_GET_ITEM(kwnames, i), param)) return i;
    }
    return -1;
}

// Reports the first keyword that no parameter after the positional ones took.
bool leftover_keyword_error(const MethodSpec& spec, const auto& names, PyObject* kwnames,
                            Py_ssize_t nargs, const std::array<bool, kMaxParams * 2>& used) {
    const Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (i < static_cast<Py_ssize_t>(used.size()) && used[static_cast<std::size_t>(i)]) continue;
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, i);
        if (!PyUnicode_Check(keyword)) {
            PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", spec.name);
            return false;
        }
        for (std::size_t p = 0; p < static_cast<std::size_t>(nargs); ++p) {
            if (same_name(keyword, names[p])) {
                PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'",
                             spec.name, keyword);
                return false;
            }
        }
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", spec.name,
                     keyword);
        return false;
    }
    return true;
}

PyTypeObject* exact_type(Exact exact) {
    switch (exact) {
        case Exact::Str:
        case Exact::StrOrNone: return &PyUnicode_Type;
        case Exact::Dict: return &PyDict_Type;
        case Exact::Tuple: return &PyTuple_Type;
        case Exact::Any: break;
    }
    return nullptr;
}

bool check_types(const MethodSpec& spec, const std::array<PyObject*, kMaxParams>& bound) {
    for (std::size_t p = 0; p < spec.arity(); ++p) {
        const Param& param = spec.params[p];
        PyTypeObject* expected = exact_type(param.exact);
        PyObject* arg = bound[p];
        if (expected == nullptr || Py_IS_TYPE(arg, expected)) continue;
        if (arg == Py_None && param.exact == Exact::StrOrNone) continue;
        PyErr_Format(PyExc_TypeError,
                     "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)",
                     param.name, expected->tp_name, Py_TYPE(arg)->tp_name);
        return false;
    }
    return true;
}

}  // namespace

bool bind_arguments(Method which, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    std::array<PyObject*, kMaxParams>& bound) {
    const MethodSpec& spec = method_spec(which);
    const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    if (nargs > spec.max_args() || (nkw == 0 && nargs < spec.min_args())) {
        return count_error(spec, nargs);
    }
    const auto positional = static_cast<std::size_t>(nargs);  // 0 <= nargs <= max_args()
    const auto required = static_cast<std::size_t>(spec.min_args());

    if (nkw == 0) {
        for (std::size_t p = 0; p < spec.arity(); ++p) {
            bound[p] = p < positional ? args[p] : spec.default_value();
        }
        return check_types(spec, bound);
    }

    const auto& names = runtime.names.params[index_of(which)];
    std::array<bool, kMaxParams * 2> used{};
    Py_ssize_t taken = 0;
    for (std::size_t p = 0; p < spec.arity(); ++p) {
        if (p < positional) {
            bound[p] = args[p];
            continue;
        }
        const Py_ssize_t k = find_keyword(kwnames, names[p]);
        if (k >= 0) {
            const auto keyword = static_cast<std::size_t>(k);
            bound[p] = args[positional + keyword];
            if (keyword < used.size()) used[keyword] = true;
            ++taken;
        } else if (p >= required) {
            bound[p] = spec.default_value();
        } else {
            return count_error(spec, static_cast<Py_ssize_t>(p));
        }
    }
    if (taken < nkw && !leftover_keyword_error(spec, names, kwnames, nargs, used)) return false;
    return check_types(spec, bound);
}

bool check_argument_types(Method which, const std::array<PyObject*, kMaxParams>& bound) {
    return check_types(method_spec(which), bound);
}

bool check_no_arguments(Method which, Py_ssize_t nargs, PyObject* kwnames) {
    const MethodSpec& spec = method_spec(which);
    if (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) > 0) {
        PyErr_Format(PyExc_TypeError, "%.200s() takes no keyword arguments", spec.name);
        return false;
    }
    if (nargs > 0) {
        PyErr_Format(PyExc_TypeError, "%.200s() takes no arguments (%zd given)", spec.name, nargs);
        return false;
    }
    return true;
}

}  // namespace var_main
