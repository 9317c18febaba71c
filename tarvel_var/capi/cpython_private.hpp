// Every use of CPython's private interfaces and of the layout of its internal structs, in one
// place, each with the reason no public call serves and, beside it, the public way that serves
// everywhere else.
//
// A private path is compiled only on the CPython versions its switch below names: the ones on
// which its use was checked against the interpreter's sources and the whole suite passed. Every
// other version, older or newer, a free-threaded interpreter, and a build made with
// TARVEL_PUBLIC_ONLY compile the public fallback: correct everywhere, slower where the private
// path saved work. Verifying a new CPython is adding its minor version to each line it passes.
// Layout reads also check themselves at import and fall back when the layout is not the one
// they expect, so a patch release that changed it costs speed, not correctness.
#pragma once

#include "capi/python.hpp"

#include <cstdint>
#include <string>
#include <vector>

#include "capi/errors.hpp"
#include "capi/refs.hpp"

#if defined(TARVEL_PUBLIC_ONLY) || defined(Py_GIL_DISABLED)
#define TARVEL_PRIVATE_ALLOWED 0
#else
#define TARVEL_PRIVATE_ALLOWED 1
#endif
#define TARVEL_CPYTHON(minor) (PY_MAJOR_VERSION == 3 && PY_MINOR_VERSION == (minor))

// Verified on CPython 3.x, for x in:
#define TARVEL_PRIVATE_TYPE_LOOKUP    (TARVEL_PRIVATE_ALLOWED && (TARVEL_CPYTHON(11) || TARVEL_CPYTHON(12) || TARVEL_CPYTHON(13)))
#define TARVEL_PRIVATE_QUIET_GETATTR  (TARVEL_PRIVATE_ALLOWED && (TARVEL_CPYTHON(11) || TARVEL_CPYTHON(12) || TARVEL_CPYTHON(13)))
#define TARVEL_PRIVATE_PRESIZED_DICT  (TARVEL_PRIVATE_ALLOWED && (TARVEL_CPYTHON(11) || TARVEL_CPYTHON(12) || TARVEL_CPYTHON(13)))
#define TARVEL_PRIVATE_DICT_KEYS_KIND (TARVEL_PRIVATE_ALLOWED && (TARVEL_CPYTHON(11) || TARVEL_CPYTHON(12) || TARVEL_CPYTHON(13)))
#define TARVEL_PRIVATE_DICT_VERSION   (TARVEL_PRIVATE_ALLOWED && (TARVEL_CPYTHON(11) || TARVEL_CPYTHON(12) || TARVEL_CPYTHON(13)))
#define TARVEL_PRIVATE_STRING_WRITER  (TARVEL_PRIVATE_ALLOWED && (TARVEL_CPYTHON(11) || TARVEL_CPYTHON(12) || TARVEL_CPYTHON(13)))

namespace capi {

// The attribute `name` of a class along its MRO, as the instance lookup would find it, without
// invoking descriptors; borrowed, nullptr when absent. Runs no Python code for a str name.
// Why private: _PyType_Lookup answers from the interpreter's method cache, which the
// interpreter's own lookups then find warm; the public way keeps a book of each class's
// attributes per version tag (one dict lookup), or walks the MRO where a class has no tag.
PyObject* class_attribute(PyTypeObject* type, PyObject* name) noexcept;

// A class's version tag, assigned first if it has none; 0 when none can be assigned. The tag
// changes whenever the class or one of its bases is modified and is never reused.
// Why unstable: tp_version_tag and PyUnstable_Type_AssignVersionTag (3.12) are the only way to
// know that a class is unchanged without looking its attributes up again; on 3.11 a lookup
// through the type's method cache assigns the tag.
unsigned int type_version(PyTypeObject* type) noexcept;

// object's generic attribute lookup that does not build the AttributeError for a missing name:
// a new reference, or nullptr with no exception set when the name is missing, or nullptr with
// an exception set when the lookup failed otherwise.
// Why private: hasattr()-like tests on every removal would otherwise build and discard an
// exception object each time a name is absent.
PyObject* generic_getattr_or_missing(PyObject* self, PyObject* name) noexcept;

// A new empty dict with room for `size` entries, so that filling it never resizes.
// Why private: there is no public way to size a dict in advance.
Ref new_presized_dict(Py_ssize_t size);

// True when every key of the exact dict `dict` is an exact str, so that comparing keys with a
// name can run no Python code.
// Why private: the answer is the kind of the dict's key table (a field of the internal
// PyDictKeysObject), in constant time; the public way walks the keys, once per state of the
// dict where dict states are tracked (capi/dict_states).
bool has_only_exact_str_keys(PyObject* dict) noexcept;
// Checks the layout behind has_only_exact_str_keys() against this interpreter; when it does
// not hold, the public walk answers.
void calibrate_key_probe() noexcept;

// A dict's version tag: it changes with every change to the dict and is never reused (a new
// dict, at whatever address, gets a new one), so (address, version) names one state of it.
// Why private: the field is deprecated (still maintained up to 3.13, gone in 3.14); its public
// replacement, dict watchers, is in capi/dict_states. Trusted only where
// calibrate_dict_versions() found it moving.
bool dict_versions_trusted() noexcept;
std::uint64_t dict_version(PyObject* dict) noexcept;
void calibrate_dict_versions() noexcept;

// The protocol slots of a class the package made with a class statement, pointed at C
// functions directly; a null member leaves its slot as it is.
// Why: a class made by Python gets slots that look its dunder methods up and call them on every
// `s[k]`, `len(s)`, `s.x = v`; the public way to get direct slots is a type made from a
// PyType_Spec, which cannot have the core class as its base with a Python class body. The
// slots are fields of the public PyTypeObject, read by the interpreter at each use;
// PyType_Modified() then drops what it cached. A subclass that defines one of the dunder
// methods gets the interpreter's slot for it again, as does assigning the method on the class.
// tp_setattro is written only where setattro_writable() says the interpreter allows it.
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

// Whether object.__setattr__, object.__delattr__ and super().__setattr__ still work on an
// instance of a class whose tp_setattro was written by C code. Interpreters before 3.13 refuse
// them ("can't apply this __setattr__ to ... object"), which would break every subclass that
// calls them; found out once, by trying, on a throwaway class.
bool setattro_writable();

// The interpreter's string builder, released if the rendering unwinds. It yields the same
// string as joining the pieces with str.join, without a list of pieces.
// Why private: the public PyUnicodeWriter API arrives in 3.14; before it, the public way is a
// buffer of code points of our own, made into a str at the end.
class UnicodeWriter {
public:
    // `expected_length` sizes the first buffer; the writer grows past it as needed.
    explicit UnicodeWriter(Py_ssize_t expected_length);
    ~UnicodeWriter();
    UnicodeWriter(const UnicodeWriter&) = delete;
    UnicodeWriter& operator=(const UnicodeWriter&) = delete;

    void write(PyObject* text);
    void write_char(Py_UCS4 ch);
    void write_ascii(const char* ascii, Py_ssize_t length);
    Ref finish();

private:
#if TARVEL_PRIVATE_STRING_WRITER
    _PyUnicodeWriter writer_;
    bool finished_ = false;
#elif PY_VERSION_HEX >= 0x030E0000
    PyUnicodeWriter* writer_ = nullptr;
#else
    // Latin-1 text (most of it) is kept a byte a character; the first wider character moves
    // everything to code points.
    void widen();
    std::string narrow_;
    std::vector<Py_UCS4> wide_;
    bool is_wide_ = false;
    Py_UCS4 widest_ = 0;
#endif
};

// Which way each interface above takes in this build and on this interpreter, as
// (interface, way) pairs for `python -m tarvel_var --version`.
struct PathChoice {
    const char* interface;
    const char* way;
};
std::vector<PathChoice> path_choices();

}  // namespace capi
