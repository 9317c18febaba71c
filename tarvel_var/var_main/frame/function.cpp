#include "frame/function.hpp"

#include <cstddef>
#include <string>

#include "frame/arguments.hpp"
#include "frame/toolkit.hpp"
#include "frame/runtime.hpp"

namespace var_main {
namespace {

struct FunctionObject {
    PyObject_HEAD
    Method which;
    PyObject* name;
    PyObject* qualname;
    PyObject* module;
    PyObject* doc;
    PyObject* defaults;
    PyObject* annotations;
    PyObject* text_signature;
    vectorcallfunc vectorcall;
};

FunctionObject* as_function(PyObject* obj) { return reinterpret_cast<FunctionObject*>(obj); }

PyObject* function_vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf,
                              PyObject* kwnames) {
    const Method which = as_function(callable)->which;
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    std::array<PyObject*, kMaxParams> bound{};
    if (method_spec(which).is_static()) {
        if (!check_no_arguments(which, nargs, kwnames)) return nullptr;
    } else if (!bind_arguments(which, args, nargs, kwnames, bound)) {
        return nullptr;
    }
    return at_boundary<PyObject*>(nullptr, [&] { return invoke(which, bound).release(); });
}

PyObject* function_descr_get(PyObject* self, PyObject* obj, PyObject*) {
    if (obj == nullptr || obj == Py_None) return Py_NewRef(self);
    return PyMethod_New(self, obj);
}

PyObject* function_repr(PyObject* self) {
    return PyUnicode_FromFormat("<function %U at %p>", as_function(self)->qualname, self);
}

int function_traverse(PyObject* self, visitproc visit, void* arg) {
    FunctionObject* f = as_function(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(f->name);
    Py_VISIT(f->qualname);
    Py_VISIT(f->module);
    Py_VISIT(f->doc);
    Py_VISIT(f->defaults);
    Py_VISIT(f->annotations);
    Py_VISIT(f->text_signature);
    return 0;
}

int function_clear(PyObject* self) {
    FunctionObject* f = as_function(self);
    Py_CLEAR(f->name);
    Py_CLEAR(f->qualname);
    Py_CLEAR(f->module);
    Py_CLEAR(f->doc);
    Py_CLEAR(f->defaults);
    Py_CLEAR(f->annotations);
    Py_CLEAR(f->text_signature);
    return 0;
}

void function_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    function_clear(self);
    PyObject_GC_Del(self);
    Py_DECREF(type);  // instances of heap types own a reference to their type
}

PyMemberDef function_members[] = {
    {"__name__", Py_T_OBJECT_EX, offsetof(FunctionObject, name), Py_READONLY, nullptr},
    {"__qualname__", Py_T_OBJECT_EX, offsetof(FunctionObject, qualname), Py_READONLY, nullptr},
    {"__module__", Py_T_OBJECT_EX, offsetof(FunctionObject, module), Py_READONLY, nullptr},
    {"__doc__", Py_T_OBJECT_EX, offsetof(FunctionObject, doc), Py_READONLY, nullptr},
    {"__defaults__", Py_T_OBJECT_EX, offsetof(FunctionObject, defaults), Py_READONLY, nullptr},
    {"__annotations__", Py_T_OBJECT_EX, offsetof(FunctionObject, annotations), Py_READONLY,
     nullptr},
    // what inspect.signature() reads for callables that carry no code object
    {"__text_signature__", Py_T_OBJECT_EX, offsetof(FunctionObject, text_signature), Py_READONLY,
     nullptr},
    // heap types with vectorcall declare its offset this way
    {"__vectorcalloffset__", Py_T_PYSSIZET, offsetof(FunctionObject, vectorcall), Py_READONLY,
     nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot function_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(function_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(function_repr)},
    {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
    {Py_tp_traverse, reinterpret_cast<void*>(function_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(function_clear)},
    {Py_tp_members, function_members},
    {Py_tp_descr_get, reinterpret_cast<void*>(function_descr_get)},
    {0, nullptr},
};

PyType_Spec function_spec = {
    "var_main.function",
    static_cast<int>(sizeof(FunctionObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
        Py_TPFLAGS_METHOD_DESCRIPTOR | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    function_slots,
};

// Made once per process (the module admits one interpreter) and kept for its lifetime.
StaticRef function_type;

// The docstring: signature, a blank line, the summary, the field lines, each indented by
// eight spaces, and a closing newline with the indentation.
Ref build_doc(const MethodSpec& spec) {
    const std::string indent = "        ";
    std::string text = std::string(spec.signature) + "\n\n" + indent + spec.summary;
    bool first = true;
    for (const char* field : spec.fields) {
        if (field == nullptr) continue;
        text += first ? "\n\n" : "\n";
        text += indent + field;
        first = false;
    }
    text += "\n" + indent;
    return require(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

Ref build_annotations(const MethodSpec& spec) {
    Ref annotations = require(PyDict_New());
    for (std::size_t p = 0; p < spec.arity(); ++p) {
        const Param& param = spec.params[p];
        if (param.annotation == nullptr) continue;
        Ref text = require(PyUnicode_FromString(param.annotation));
        require_status(PyDict_SetItemString(annotations.get(), param.name, text.get()));
    }
    Ref ret = require(PyUnicode_FromString(spec.return_annotation));
    require_status(PyDict_SetItemString(annotations.get(), "return", ret.get()));
    return annotations;
}

// The parameter list as inspect.signature() parses it: "(self, key, default=None)". Every
// parameter, `self` included, can be given by position or keyword, so none is marked
// positional-only (the "$self" of built-in methods would say that `self` cannot be a
// keyword); annotations are not part of this syntax and stay in __annotations__.
Ref build_text_signature(const MethodSpec& spec) {
    std::string text = "(";
    for (std::size_t p = 0; p < spec.arity(); ++p) {
        if (p > 0) text += ", ";
        text += spec.params[p].name;
    }
    if (spec.last_default != Default::Required) {
        text += spec.last_default == Default::None ? "=None" : "=False";
    }
    text += ")";
    return require(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

Ref build_defaults(const MethodSpec& spec) {
    switch (spec.last_default) {
        case Default::None: return require(PyTuple_Pack(1, Py_None));
        case Default::False: return require(PyTuple_Pack(1, Py_False));
        case Default::Required: break;
    }
    return none();
}

}  // namespace

bool ready_function_type() {
    if (function_type) return true;
    Ref type = Ref::steal(PyType_FromSpec(&function_spec));
    if (!type) return false;
    function_type.set(std::move(type));
    return true;
}

Ref invoke(Method which, Args args) {
    RecursionGuard guard;
    return method_spec(which).impl(args);
}

PyObject* new_function(Method which) {
    return at_boundary<PyObject*>(nullptr, [&]() -> PyObject* {
        const MethodSpec& spec = method_spec(which);
        Ref name = require(PyUnicode_FromString(spec.name));
        Ref qualname = require(PyUnicode_FromFormat("TarvelVarMain.%s", spec.name));
        Ref module = require(PyUnicode_FromString("var_main"));
        Ref doc = build_doc(spec);
        Ref defaults = build_defaults(spec);
        Ref annotations = build_annotations(spec);
        Ref text_signature = build_text_signature(spec);

        FunctionObject* f =
            PyObject_GC_New(FunctionObject, reinterpret_cast<PyTypeObject*>(function_type.get()));
        if (f == nullptr) throw_error();
        f->which = which;
        f->name = name.release();
        f->qualname = qualname.release();
        f->module = module.release();
        f->doc = doc.release();
        f->defaults = defaults.release();
        f->annotations = annotations.release();
        f->text_signature = text_signature.release();
        f->vectorcall = function_vectorcall;
        PyObject_GC_Track(f);
        return reinterpret_cast<PyObject*>(f);
    });
}

}  // namespace var_main
