#include "frame/calls.hpp"

#include <array>

#include "frame/arguments.hpp"
#include "frame/function.hpp"
#include "frame/type_facts.hpp"

namespace var_main {

Ref call_method(PyObject* self, PyObject* name, std::initializer_list<PyObject*> args,
                PyObject* kwnames) {
    std::array<PyObject*, 5> stack{};
    stack[0] = self;
    size_t count = 1;
    for (PyObject* arg : args) stack[count++] = arg;
    const size_t nkw = kwnames == nullptr ? 0 : static_cast<size_t>(PyTuple_GET_SIZE(kwnames));
    return require(PyObject_VectorcallMethod(
        name, stack.data(), (count - nkw) | PY_VECTORCALL_ARGUMENTS_OFFSET, kwnames));
}

Ref call(PyObject* self, Method which, std::initializer_list<PyObject*> args, PyObject* kwnames,
         PyObject* dict) {
    if (!own_method(self, which, dict)) return call_method(self, method_name(which), args, kwnames);
    const MethodSpec& spec = method_spec(which);
    std::array<PyObject*, kMaxParams> bound{};
    bound[0] = self;
    std::size_t count = 1;
    for (PyObject* arg : args) bound[count++] = arg;
    for (; count < spec.arity(); ++count) bound[count] = spec.default_value();
    if (!check_argument_types(which, bound)) throw_error();
    return invoke(which, bound);
}

bool own_method(PyObject* self, Method which, PyObject* dict) {
    if (!type_facts(Py_TYPE(self)).owns(which)) return false;
    Ref own_dict;
    if (dict == nullptr) {
        own_dict = require(PyObject_GenericGetDict(self, nullptr));
        dict = own_dict.get();
    }
    if (!PyDict_CheckExact(dict)) return false;
    return require_status(PyDict_Contains(dict, method_name(which))) == 0;
}

std::optional<Ref> attribute_without_fallback(PyObject* self, PyObject* name) {
    PyObject* getattribute = class_attribute(Py_TYPE(self), names().dunder_getattribute);
    Ref found;
    if (getattribute == nullptr || getattribute == runtime.object_getattribute) {
        // object's lookup, told not to build an AttributeError only to discard it
        found = Ref::steal(generic_getattr_or_missing(self, name));
        if (!found && !PyErr_Occurred()) return std::nullopt;
    } else {
        Ref method = Ref::borrow(getattribute);
        found = Ref::steal(PyObject_CallFunctionObjArgs(method.get(), self, name, nullptr));
    }
    if (found) return found;
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_error();
    PyErr_Clear();
    return std::nullopt;
}

Ref instance_dict(PyObject* self) {
    if (type_facts(Py_TYPE(self)).standard) return require(PyObject_GenericGetDict(self, nullptr));
    return require(PyObject_GetAttr(self, names().dunder_dict));
}

Ref read_flag(PyObject* self, PyObject* name, PyObject* dict) {
    if (const TypeFacts facts = type_facts(Py_TYPE(self)); facts.standard && facts.plain_flags) {
        Ref own_dict;
        if (dict == nullptr) {
            own_dict = require(PyObject_GenericGetDict(self, nullptr));
            dict = own_dict.get();
        }
        PyObject* value = nullptr;
        if (PyDict_CheckExact(dict) && require_status(PyDict_GetItemRef(dict, name, &value)) == 1) {
            return Ref::steal(value);
        }
    }
    return require(PyObject_GetAttr(self, name));  // missing: the lookup's own outcome
}

void set_attribute(PyObject* self, PyObject* name, PyObject* value) {
    if (!PyUnicode_CheckExact(name) || !type_facts(Py_TYPE(self)).setattr_is_own_hook()) {
        require_status(PyObject_SetAttr(self, name, value));
        return;
    }
    Ref attribute = intern_attribute_name(name);
    const std::array<PyObject*, kMaxParams> bound{self, attribute.get(), value, nullptr};
    invoke(Method::SetAttrHook, bound);
}

}  // namespace var_main
