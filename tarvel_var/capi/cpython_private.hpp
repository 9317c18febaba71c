// Every use of CPython's private or unstable interfaces, and of the layout of its structs, in
// one place, each with the reason no public call serves. They are those of CPython 3.13: the
// private functions may change and the layouts copied here are only valid there, so the build
// refuses any other version.
#pragma once

#include <Python.h>

#include <cstdint>

#include "capi/errors.hpp"
#include "capi/refs.hpp"

#if PY_VERSION_HEX < 0x030D0000 || PY_VERSION_HEX >= 0x030E0000
#error "tarvel_var relies on private interfaces and struct layouts of CPython 3.13; build it against 3.13"
#endif

namespace capi {

// The attribute `name` of a class along its MRO, as the instance lookup would find it, without
// invoking descriptors; borrowed, nullptr when absent. Runs no Python code.
// Why private: _PyType_Lookup answers from the type's method cache; the public alternatives
// (PyObject_GetAttr on the class, or walking tp_mro with PyDict lookups) invoke descriptors or
// cost a dict lookup per base on every call of the fast paths.
inline PyObject* class_attribute(PyTypeObject* type, PyObject* name) noexcept {
    return _PyType_Lookup(type, name);
}

// A class's version tag, assigned first if it has none; 0 when none can be assigned. The tag
// changes whenever the class or one of its bases is modified and is never reused.
// Why unstable: tp_version_tag and PyUnstable_Type_AssignVersionTag are the only way to know
// that a class is unchanged without looking its attributes up again.
inline unsigned int type_version(PyTypeObject* type) noexcept {
    if (type->tp_version_tag == 0 && !PyUnstable_Type_AssignVersionTag(type)) return 0;
    return type->tp_version_tag;
}

// A new reference to the attribute name as the interpreter's setattr() and delattr() hand it
// to the hooks: interned, without making it immortal.
// Why private: the public PyUnicode_InternInPlace makes every interned string immortal, so
// every variable name ever assigned would stay alive for the life of the process.
Ref intern_attribute_name(PyObject* name);

// object's generic attribute lookup that does not build the AttributeError for a missing name:
// a new reference, or nullptr with no exception set when the name is missing, or nullptr with
// an exception set when the lookup failed otherwise.
// Why private: hasattr()-like tests on every removal would otherwise build and discard an
// exception object each time a name is absent.
inline PyObject* generic_getattr_or_missing(PyObject* self, PyObject* name) noexcept {
    return _PyObject_GenericGetAttrWithDict(self, name, nullptr, 1);
}

// A new empty dict with room for `size` entries, so that filling it never resizes.
// Why private: there is no public way to size a dict in advance.
inline Ref new_presized_dict(Py_ssize_t size) { return require(_PyDict_NewPresized(size)); }

// True when every key of the exact dict `dict` is an exact str, so that comparing keys with a
// name can run no Python code. Answers in constant time.
// Why private: the answer is the kind of the dict's key table (a field of the private
// PyDictKeysObject); the public alternative walks every key.
bool has_only_exact_str_keys(PyObject* dict) noexcept;
// Checks the probe behind has_only_exact_str_keys() against this interpreter; when it does not
// hold, the probe always answers false and the general paths are used.
void calibrate_key_probe() noexcept;

// A dict's version tag: it changes with every change to the dict and is never reused (a new
// dict, at whatever address, gets a new one), so (address, version) names one state of it.
// Why private: the field is deprecated in the C API (still maintained in 3.13), and dict
// watchers, the public alternative, would report every change of every watched dict.
// Trust it only where calibrate_dict_versions() found it moving.
bool dict_versions_trusted() noexcept;
std::uint64_t dict_version(PyObject* dict) noexcept;
void calibrate_dict_versions() noexcept;

// The protocol slots of a class the package made with a class statement, pointed at C
// functions directly; a null member leaves its slot as it is.
// Why not public: a class made by Python gets slots that look its dunder methods up and call
// them on every `s[k]`, `len(s)`, `s.x = v`; the public way to get direct slots is a type made
// from a PyType_Spec, which cannot have the core class as its base with a Python class body.
// Writing the slots of a heap type after it is made relies on the layout of PyTypeObject and
// on the interpreter's reading them at each use; PyType_Modified() then drops what it cached.
// A subclass that defines one of the dunder methods gets the interpreter's slot for it again,
// as does assigning the method on the class.
struct SlotWrites {
    binaryfunc subscript = nullptr;       // mp_subscript
    objobjargproc assign_item = nullptr;  // mp_ass_subscript
    lenfunc length = nullptr;             // mp_length and sq_length
    objobjproc contains = nullptr;        // sq_contains
    getiterfunc iterate = nullptr;        // tp_iter
    richcmpfunc compare = nullptr;        // tp_richcompare
    initproc init = nullptr;              // tp_init
    setattrofunc set_attribute = nullptr; // tp_setattro
    binaryfunc bitwise_or = nullptr;      // nb_or
    binaryfunc inplace_or = nullptr;      // nb_inplace_or
};
void write_slots(PyTypeObject* type, const SlotWrites& writes) noexcept;

// Where the instance slot that a `__slots__` member descriptor reads lies in an object, or -1
// when `descriptor` is not such a descriptor of an object reference.
// Why unstable: the offset is a field of PyMemberDescrObject (cpython/descrobject.h); reading
// the slot through the descriptor on every view would cost a lookup and a call per use.
Py_ssize_t member_slot_offset(PyObject* descriptor) noexcept;

// The interpreter's string builder, released if the rendering unwinds. It yields the same
// string as joining the pieces with str.join, without a list of pieces.
// Why private: the public PyUnicodeWriter API arrives in 3.14.
class UnicodeWriter {
public:
    // `expected_length` sizes the first buffer; the writer grows past it as needed.
    explicit UnicodeWriter(Py_ssize_t expected_length) {
        _PyUnicodeWriter_Init(&writer_);
        writer_.overallocate = 1;
        writer_.min_length = expected_length;
    }
    ~UnicodeWriter() {
        if (!finished_) _PyUnicodeWriter_Dealloc(&writer_);
    }
    UnicodeWriter(const UnicodeWriter&) = delete;
    UnicodeWriter& operator=(const UnicodeWriter&) = delete;

    void write(PyObject* text) { require_status(_PyUnicodeWriter_WriteStr(&writer_, text)); }
    void write_char(Py_UCS4 ch) { require_status(_PyUnicodeWriter_WriteChar(&writer_, ch)); }
    void write_ascii(const char* ascii, Py_ssize_t length) {
        require_status(_PyUnicodeWriter_WriteASCIIString(&writer_, ascii, length));
    }
    Ref finish() {
        finished_ = true;
        return require(_PyUnicodeWriter_Finish(&writer_));
    }

private:
    _PyUnicodeWriter writer_;
    bool finished_ = false;
};

}  // namespace capi
