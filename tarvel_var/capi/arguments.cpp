#include "capi/arguments.hpp"

namespace capi {
namespace {

struct Counts {
    Py_ssize_t positional = 0;  // parameters that may be passed by position
    Py_ssize_t required = 0;    // of those, the required ones (they come first)
    bool keyword_only = false;
};

Counts count(std::span<const Parameter> params) {
    Counts counts;
    for (const Parameter& param : params) {
        if (param.kind == Parameter::KeywordOnly) {
            counts.keyword_only = true;
        } else if (param.kind != Parameter::VarKeyword) {
            ++counts.positional;
            if (param.required()) ++counts.required;
        }
    }
    return counts;
}

const char* plural(Py_ssize_t n) { return n == 1 ? "" : "s"; }

bool too_many(const char* function, const Counts& counts, Py_ssize_t given) {
    if (counts.keyword_only) {
        PyErr_Format(PyExc_TypeError, "%s() takes at most %zd positional argument%s (%zd given)", function,
                     counts.positional, plural(counts.positional), given);
    } else {
        PyErr_Format(PyExc_TypeError, "%s() takes %s %zd argument%s (%zd given)", function,
                     counts.positional == counts.required ? "exactly" : "at most", counts.positional,
                     plural(counts.positional), given);
    }
    return false;
}

bool same_name(PyObject* keyword, const char* name) {
    return PyUnicode_Check(keyword) && PyUnicode_EqualToUTF8(keyword, name);
}

// Puts one keyword argument in its place.
bool bind_keyword(const char* function, std::span<const Parameter> params, PyObject* keyword,
                  PyObject* value, PyObject** bound) {
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (params[i].kind == Parameter::VarKeyword || !same_name(keyword, params[i].name)) continue;
        if (params[i].kind == Parameter::PositionalOnly) {
            PyErr_Format(PyExc_TypeError,
                         "%s() got some positional-only arguments passed as keyword arguments: '%U'",
                         function, keyword);
            return false;
        }
        if (bound[i] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%U'", function, keyword);
            return false;
        }
        bound[i] = value;
        return true;
    }
    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function, keyword);
    return false;
}

// The defaults of what was left out, or the error for a required parameter left out.
bool fill_defaults(const char* function, std::span<const Parameter> params, const Counts& counts,
                   Py_ssize_t nargs, PyObject** bound) {
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (bound[i] != nullptr || params[i].kind == Parameter::VarKeyword) continue;
        if (!params[i].required()) {
            bound[i] = params[i].default_value;
        } else if (params[i].kind == Parameter::PositionalOnly) {
            PyErr_Format(PyExc_TypeError, "%s() takes %s %zd argument%s (%zd given)", function,
                         counts.positional == counts.required ? "exactly" : "at least", counts.required,
                         plural(counts.required), nargs);
            return false;
        } else {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s'", function, params[i].name);
            return false;
        }
    }
    return true;
}

}  // namespace

bool bind_parameters(const char* function, std::span<const Parameter> params, PyObject* const* args,
                     Py_ssize_t nargs, PyObject* kwnames, PyObject** bound) {
    const Counts counts = count(params);
    for (std::size_t i = 0; i < params.size(); ++i) bound[i] = nullptr;
    if (nargs > counts.positional) return too_many(function, counts, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) bound[i] = args[i];
    const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t i = 0; i < nkw; ++i) {
        if (!bind_keyword(function, params, PyTuple_GET_ITEM(kwnames, i), args[nargs + i], bound)) return false;
    }
    return fill_defaults(function, params, counts, nargs, bound);
}

bool bind_parameters(const char* function, std::span<const Parameter> params, PyObject* args,
                     PyObject* kwargs, PyObject** bound) {
    const Counts counts = count(params);
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    for (std::size_t i = 0; i < params.size(); ++i) bound[i] = nullptr;
    if (nargs > counts.positional) return too_many(function, counts, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) bound[i] = PyTuple_GET_ITEM(args, i);
    if (kwargs != nullptr) {
        // The dict is the call's own and nothing below runs Python code: read in place.
        Py_ssize_t pos = 0;
        PyObject* keyword = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &pos, &keyword, &value)) {
            if (!bind_keyword(function, params, keyword, value, bound)) return false;
        }
    }
    return fill_defaults(function, params, counts, nargs, bound);
}

std::string method_docstring(const char* name, std::span<const Parameter> params, const char* summary) {
    std::string text = std::string(name) + "($self";
    bool after_slash = false;
    bool star = false;
    for (const Parameter& param : params) {
        // an optional parameter with no default to show is written `*name`, after the `/`
        const bool starred = !param.required() && param.default_text[0] == '\0';
        if ((param.kind != Parameter::PositionalOnly || starred) && !after_slash) {
            text += ", /";
            after_slash = true;
        }
        if (param.kind == Parameter::KeywordOnly && !star) {
            text += ", *";
            star = true;
        }
        text += ", ";
        if (param.kind == Parameter::VarKeyword) text += "**";
        if (starred) {
            text += "*";
            star = true;
        }
        text += param.name;
        if (!param.required() && !starred) text += std::string("=") + param.default_text;
    }
    if (!after_slash) text += ", /";
    return text + ")\n--\n\n" + summary;
}

}  // namespace capi
