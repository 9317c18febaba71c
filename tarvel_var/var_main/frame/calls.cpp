#include "frame/calls.hpp"

#include <array>
#include <cstdint>
#include <cstring>

#include "frame/arguments.hpp"
#include "frame/function.hpp"
#include "frame/type_facts.hpp"

namespace tv {

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

namespace {

// The head of CPython 3.13's dict keys object: the kind says whether all keys are exact str
// (DICT_KEYS_UNICODE or DICT_KEYS_SPLIT) or may be anything (DICT_KEYS_GENERAL).
struct DictKeysHead {
    Py_ssize_t refcnt;
    std::uint8_t log2_size;
    std::uint8_t log2_index_bytes;
    std::uint8_t kind;
};
constexpr std::uint8_t kKeysGeneral = 0, kKeysUnicode = 1, kKeysSplit = 2;
bool key_probe_trusted = false;

std::uint8_t keys_kind(PyObject* dict) noexcept {
    auto* head = reinterpret_cast<const DictKeysHead*>(
        reinterpret_cast<PyDictObject*>(dict)->ma_keys);
    return head->kind;
}

}  // namespace

bool has_only_exact_str_keys(PyObject* dict) noexcept {
    if (!key_probe_trusted) return false;
    const std::uint8_t kind = keys_kind(dict);
    return kind == kKeysUnicode || kind == kKeysSplit;
}

void calibrate_key_probe() noexcept {
    key_probe_trusted = false;
    Ref text_keys = Ref::steal(Py_BuildValue("{s:i,s:i}", "a", 1, "b", 2));
    Ref mixed_keys = Ref::steal(Py_BuildValue("{s:i,i:i}", "a", 1, 2, 3));
    if (!text_keys || !mixed_keys) {
        PyErr_Clear();
        return;
    }
    key_probe_trusted = keys_kind(text_keys.get()) == kKeysUnicode &&
                        keys_kind(mixed_keys.get()) == kKeysGeneral;
}

std::optional<Ref> attribute_without_fallback(PyObject* self, PyObject* name) {
    PyObject* getattribute = class_attribute(Py_TYPE(self), names().dunder_getattribute);
    Ref found;
    if (getattribute == nullptr || getattribute == runtime.object_getattribute) {
        // object's lookup, told not to build an AttributeError only to discard it
        found = Ref::steal(_PyObject_GenericGetAttrWithDict(self, name, nullptr, 1));
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

Ref mapping_get(PyObject* mapping, PyObject* key) {
    if (PyDict_CheckExact(mapping)) {
        PyObject* value = nullptr;
        if (require_status(PyDict_GetItemRef(mapping, key, &value)) == 0) return none();
        return Ref::steal(value);
    }
    return call_method(mapping, names().get, {key});
}

Ref mapping_item(PyObject* mapping, PyObject* key) {
    return require(PyObject_GetItem(mapping, key));
}

void mapping_set(PyObject* mapping, PyObject* key, PyObject* value) {
    require_status(PyObject_SetItem(mapping, key, value));
}

void list_append(PyObject* list, PyObject* item) {
    if (PyList_CheckExact(list)) {
        require_status(PyList_Append(list, item));
    } else {
        call_method(list, names().append, {item});
    }
}

bool is_nested_store(PyObject* obj) noexcept {
    PyTypeObject* type = Py_TYPE(obj);
    // Most values are of a handful of built-in types, whose names are known.
    for (PyTypeObject* builtin : {&PyUnicode_Type, &PyLong_Type, &PyFloat_Type, &PyBool_Type,
                                  Py_TYPE(Py_None), &PyList_Type, &PyDict_Type, &PyTuple_Type,
                                  &PyType_Type}) {
        if (type == builtin) return false;
    }
    if (type->tp_flags & Py_TPFLAGS_HEAPTYPE) {
        PyObject* name = reinterpret_cast<PyHeapTypeObject*>(type)->ht_name;
        return PyUnicode_Check(name) && PyUnicode_EqualToUTF8(name, "TarvelVar");
    }
    // A static type's __name__ is the part of tp_name after the last dot.
    const char* full = type->tp_name;
    const char* dot = std::strrchr(full, '.');
    return std::strcmp(dot == nullptr ? full : dot + 1, "TarvelVar") == 0;
}

void raise_dict_changed_size() {
    PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
    throw_error();
}

}  // namespace tv
