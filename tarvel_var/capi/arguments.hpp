// Parameters of methods written in C, declared once: the parser binds a call's arguments from
// the declaration, and the signature text that `inspect` and `help()` read is made from it.
// The messages are CPython's own for functions written in C.
#pragma once

#include "capi/python.hpp"

#include <span>
#include <string>

namespace capi {

struct Parameter {
    // VarKeyword (`**name`) is shown in the signature only: such a method takes its keywords
    // itself (METH_VARARGS | METH_KEYWORDS).
    enum Kind : unsigned char { PositionalOnly, PositionalOrKeyword, KeywordOnly, VarKeyword };
    const char* name;
    Kind kind = PositionalOrKeyword;
    // What the signature shows: nullptr for a required parameter; "" for an optional one that
    // has no default to show (written `*name`, and left out of the call when not given).
    const char* default_text = nullptr;
    // What the body receives when the argument is left out (nullptr: nothing, for "").
    PyObject* default_value = nullptr;

    bool required() const { return default_text == nullptr; }
};

// Binds a vectorcall's arguments (`self` is not among them) to `params`: `bound` receives one
// borrowed pointer per parameter, its default when it is left out. False with TypeError set
// when the call does not fit. `function` names the callable in the messages ("get").
bool bind_parameters(const char* function, std::span<const Parameter> params, PyObject* const* args,
                     Py_ssize_t nargs, PyObject* kwnames, PyObject** bound);

// The same for a call made with a tuple and a dict (a type's tp_init).
bool bind_parameters(const char* function, std::span<const Parameter> params, PyObject* args,
                     PyObject* kwargs, PyObject** bound);

// The docstring of a method: its signature line for `inspect`
// ("get($self, /, key, default=None)"), the separator, then `summary`.
std::string method_docstring(const char* name, std::span<const Parameter> params, const char* summary);

}  // namespace capi
