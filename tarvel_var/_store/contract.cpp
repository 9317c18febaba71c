#include "contract.hpp"

#include <cstddef>

#include "capi/errors.hpp"
#include "store_access.hpp"

namespace store {
namespace {

struct ContractObject {
    PyObject_HEAD
    PyObject* name;
    PyObject* method;  // a method descriptor of the class, or a function written in Python
    PyObject* doc;
};

ContractObject* as_contract(PyObject* obj) { return reinterpret_cast<ContractObject*>(obj); }

PyObject* contract_get(PyObject* self, PyObject* obj, PyObject* type) {
    ContractObject* c = as_contract(self);
    if (obj == nullptr || obj == Py_None) return Py_NewRef(self);
    return Py_TYPE(c->method)->tp_descr_get(c->method, obj, type);
}

int contract_set(PyObject* self, PyObject* obj, PyObject* value) {
    ContractObject* c = as_contract(self);
    return capi::at_boundary<int>(-1, [&] {
        Ref dict = instance_dict(obj);
        if (value != nullptr) return require_status(PyObject_SetItem(dict.get(), c->name, value));
        if (PyObject_DelItem(dict.get(), c->name) < 0) {
            if (!PyErr_ExceptionMatches(PyExc_KeyError)) throw_error();
            PyErr_Clear();
            PyErr_SetObject(PyExc_AttributeError, c->name);
            throw_error();
        }
        return 0;
    });
}

PyObject* contract_call(PyObject* self, PyObject* args, PyObject* kwargs) {
    if (PyTuple_GET_SIZE(args) < 1) {
        PyErr_Format(PyExc_TypeError, "%U() needs a store as its first argument", as_contract(self)->name);
        return nullptr;
    }
    PyObject* obj = PyTuple_GET_ITEM(args, 0);
    capi::Ref bound = capi::Ref::steal(contract_get(self, obj, reinterpret_cast<PyObject*>(Py_TYPE(obj))));
    if (!bound) return nullptr;
    capi::Ref rest = capi::Ref::steal(PyTuple_GetSlice(args, 1, PY_SSIZE_T_MAX));
    if (!rest) return nullptr;
    return PyObject_Call(bound.get(), rest.get(), kwargs);
}

PyObject* contract_repr(PyObject* self) {
    return PyUnicode_FromFormat("<method '%U' of 'TarvelVar' objects>", as_contract(self)->name);
}

int contract_traverse(PyObject* self, visitproc visit, void* arg) {
    ContractObject* c = as_contract(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(c->name);
    Py_VISIT(c->method);
    Py_VISIT(c->doc);
    return 0;
}

int contract_clear(PyObject* self) {
    ContractObject* c = as_contract(self);
    Py_CLEAR(c->name);
    Py_CLEAR(c->method);
    Py_CLEAR(c->doc);
    return 0;
}

void contract_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    contract_clear(self);
    PyObject_GC_Del(self);
    Py_DECREF(type);
}

// inspect.signature() of the descriptor read through the class: the method's own, so that
// `TarvelVar.merge` shows (self, data, /) rather than the call's (*args, **kwargs).
PyObject* contract_signature(PyObject* self, void*) {
    return capi::at_boundary<PyObject*>(nullptr, [&] {
        Ref inspect = require(PyImport_ImportModule("inspect"));
        return require(PyObject_CallMethod(inspect.get(), "signature", "O", as_contract(self)->method))
            .release();
    });
}

PyGetSetDef contract_getset[] = {
    {"__signature__", contract_signature, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef contract_members[] = {
    {"__name__", Py_T_OBJECT_EX, offsetof(ContractObject, name), Py_READONLY, nullptr},
    {"__doc__", Py_T_OBJECT_EX, offsetof(ContractObject, doc), Py_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot contract_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(contract_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(contract_repr)},
    {Py_tp_call, reinterpret_cast<void*>(contract_call)},
    {Py_tp_traverse, reinterpret_cast<void*>(contract_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(contract_clear)},
    {Py_tp_members, contract_members},
    {Py_tp_getset, contract_getset},
    {Py_tp_descr_get, reinterpret_cast<void*>(contract_get)},
    {Py_tp_descr_set, reinterpret_cast<void*>(contract_set)},
    {0, nullptr},
};

PyType_Spec contract_spec = {
    "tarvel_var._store.method",
    static_cast<int>(sizeof(ContractObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE |
        Py_TPFLAGS_DISALLOW_INSTANTIATION,
    contract_slots,
};

PyTypeObject* contract_type = nullptr;

capi::Ref new_contract(PyObject* name, PyObject* method, PyObject* doc) {
    ContractObject* c = PyObject_GC_New(ContractObject, contract_type);
    if (c == nullptr) throw_error();
    c->name = Py_NewRef(name);
    c->method = Py_NewRef(method);
    c->doc = Py_NewRef(doc);
    PyObject_GC_Track(c);
    return capi::Ref::steal(reinterpret_cast<PyObject*>(c));
}

}  // namespace

bool ready_contract_type() {
    if (contract_type != nullptr) return true;
    contract_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&contract_spec));
    return contract_type != nullptr;
}

capi::Ref new_contract_function(PyObject* function) {
    if (Py_TYPE(function)->tp_descr_get == nullptr) {
        raise(PyExc_TypeError, "public_method() takes a function, not %.200s", Py_TYPE(function)->tp_name);
    }
    capi::Ref name = require(PyObject_GetAttrString(function, "__name__"));
    capi::Ref doc = require(PyObject_GetAttrString(function, "__doc__"));
    return new_contract(name.get(), function, doc.get());
}

capi::Ref new_contract_method(PyObject* cls, PyMethodDef* def) {
    capi::Ref method = require(PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(cls), def));
    capi::Ref name = require(PyUnicode_FromString(def->ml_name));
    capi::Ref doc = require(PyObject_GetAttrString(method.get(), "__doc__"));
    return new_contract(name.get(), method.get(), doc.get());
}

}  // namespace store
