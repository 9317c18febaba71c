#include "capi/cpython_private.hpp"

#include <algorithm>
#include <array>

#include "capi/dict_states.hpp"

namespace capi {

// ---- class attributes ---------------------------------------------------------------------

#if TARVEL_PRIVATE_TYPE_LOOKUP
PyObject* class_attribute(PyTypeObject* type, PyObject* name) noexcept { return _PyType_Lookup(type, name); }
#else
namespace {
// A class's own namespace, borrowed: the class keeps it (and, for the interpreter's static
// classes, the interpreter does) for as long as the class lives.
PyObject* own_namespace(PyTypeObject* type) noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    if (type->tp_flags & Py_TPFLAGS_HEAPTYPE) return type->tp_dict;
    // static builtin classes keep theirs with the interpreter since 3.12 (object, at the end of
    // every MRO, is the one met on every lookup)
    static PyTypeObject* last_type = nullptr;
    static PyObject* last_namespace = nullptr;
    if (type != last_type) {
        PyObject* dict = PyType_GetDict(type);
        Py_XDECREF(dict);
        last_type = type;
        last_namespace = dict;
    }
    return last_namespace;
#else
    return type->tp_dict;
#endif
}

PyObject* walk_mro(PyTypeObject* type, PyObject* name) noexcept {
    PyObject* mro = type->tp_mro;
    if (mro == nullptr) return nullptr;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro); ++i) {
        PyObject* dict = own_namespace(reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(mro, i)));
        if (dict == nullptr) continue;
        PyObject* found = nullptr;
        const int status = PyDict_GetItemRef(dict, name, &found);
        if (status > 0) {
            Py_DECREF(found);  // the namespace holds it
            return found;
        }
        if (status < 0) {  // as _PyType_Lookup: a failed lookup is a missing attribute
            PyErr_Clear();
            return nullptr;
        }
    }
    return nullptr;
}

// A class's attributes along its MRO in one dict, the first in MRO order winning, each kept as
// its address: one lookup answers what the walk asks of every base, and the book holds no
// reference to a value, so letting a book go runs no code. A book is right for one version
// tag of its class, which changes with the class, its bases and their namespaces and is never
// reused; the value at an address is held by the class's own namespace meanwhile.
struct Book {
    PyTypeObject* type = nullptr;
    unsigned int version = 0;
    PyObject* addresses = nullptr;  // owned
};
std::array<Book, 32> books;

// nullptr, with no exception set, when the class cannot have a book (a namespace with a key
// that is not an exact str, whose comparisons could run code; no memory).
PyObject* make_book(PyTypeObject* type) noexcept {
    PyObject* mro = type->tp_mro;
    Ref addresses = Ref::steal(PyDict_New());
    if (mro == nullptr || !addresses) {
        PyErr_Clear();
        return nullptr;
    }
    for (Py_ssize_t i = PyTuple_GET_SIZE(mro) - 1; i >= 0; --i) {
        PyObject* dict = own_namespace(reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(mro, i)));
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (dict != nullptr && PyDict_Next(dict, &pos, &key, &value)) {
            if (!PyUnicode_CheckExact(key)) return nullptr;
            Ref address = Ref::steal(PyLong_FromVoidPtr(value));
            if (!address || PyDict_SetItem(addresses.get(), key, address.get()) < 0) {
                PyErr_Clear();
                return nullptr;
            }
        }
    }
    return addresses.release();
}
}  // namespace

PyObject* class_attribute(PyTypeObject* type, PyObject* name) noexcept {
    const unsigned int version = PyUnicode_CheckExact(name) ? type_version(type) : 0;
    if (version == 0) return walk_mro(type, name);
    Book& book = books[(reinterpret_cast<std::uintptr_t>(type) >> 4) % books.size()];
    if (book.type != type || book.version != version) {
        PyObject* made = make_book(type);
        if (made == nullptr) return walk_mro(type, name);
        PyObject* previous = book.addresses;
        book = Book{type, version, made};
        Py_XDECREF(previous);  // names and ints: letting them go runs no code
    }
    PyObject* address = nullptr;
    const int status = PyDict_GetItemRef(book.addresses, name, &address);  // exact str keys: no code
    if (status <= 0) {
        if (status < 0) PyErr_Clear();
        return nullptr;
    }
    void* found = PyLong_AsVoidPtr(address);
    Py_DECREF(address);
    return static_cast<PyObject*>(found);
}
#endif

unsigned int type_version(PyTypeObject* type) noexcept {
    if (type->tp_version_tag != 0) return type->tp_version_tag;
#if PY_VERSION_HEX >= 0x030C0000
    if (!PyUnstable_Type_AssignVersionTag(type)) return 0;
#elif TARVEL_PRIVATE_TYPE_LOOKUP
    // 3.11 assigns the tag when its method cache first answers for the class, for an interned
    // name; the name is made once and kept for the life of the process.
    static PyObject* const cached_name = PyUnicode_InternFromString("__dict__");
    if (cached_name == nullptr) {
        PyErr_Clear();
        return 0;
    }
    (void)_PyType_Lookup(type, cached_name);
#endif
    return type->tp_version_tag;
}

// ---- attributes of instances --------------------------------------------------------------

#if TARVEL_PRIVATE_QUIET_GETATTR
PyObject* generic_getattr_or_missing(PyObject* self, PyObject* name) noexcept {
    return _PyObject_GenericGetAttrWithDict(self, name, nullptr, 1);
}
#else
namespace {
// An AttributeError from a descriptor is a missing attribute, as object's lookup would say.
PyObject* missing_if_attribute_error(PyObject* found) noexcept {
    if (found == nullptr && PyErr_ExceptionMatches(PyExc_AttributeError)) PyErr_Clear();
    return found;
}

bool has_instance_dict(PyTypeObject* type) noexcept {
#ifdef Py_TPFLAGS_MANAGED_DICT
    if (type->tp_flags & Py_TPFLAGS_MANAGED_DICT) return true;
#endif
    return type->tp_dictoffset != 0;
}
}  // namespace

// object.__getattribute__'s order (a data descriptor of the class, the instance's dict, any
// other attribute of the class), asking each without raising for a missing name.
PyObject* generic_getattr_or_missing(PyObject* self, PyObject* name) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    Ref descriptor = Ref::borrow(class_attribute(type, name));
    descrgetfunc get = descriptor ? Py_TYPE(descriptor.get())->tp_descr_get : nullptr;
    if (get != nullptr && Py_TYPE(descriptor.get())->tp_descr_set != nullptr) {
        return missing_if_attribute_error(get(descriptor.get(), self, reinterpret_cast<PyObject*>(type)));
    }
    if (has_instance_dict(type)) {
        PyObject* dict = PyObject_GenericGetDict(self, nullptr);
        if (dict == nullptr) return missing_if_attribute_error(nullptr);
        PyObject* found = nullptr;
        const int status = PyDict_GetItemRef(dict, name, &found);
        Py_DECREF(dict);
        if (status != 0) return found;  // the value, or nullptr with the lookup's error
    }
    if (get != nullptr) return missing_if_attribute_error(get(descriptor.get(), self, reinterpret_cast<PyObject*>(type)));
    return descriptor.release();
}
#endif

// ---- dicts --------------------------------------------------------------------------------

Ref new_presized_dict([[maybe_unused]] Py_ssize_t size) {
#if TARVEL_PRIVATE_PRESIZED_DICT
    return require(_PyDict_NewPresized(size));
#else
    return require(PyDict_New());
#endif
}

namespace {

bool key_probe_trusted = false;

#if TARVEL_PRIVATE_DICT_KEYS_KIND
// The head of the dict keys object (PyDictKeysObject, Include/internal) of 3.11 to 3.13: the
// kind says whether all keys are exact str (DICT_KEYS_UNICODE or DICT_KEYS_SPLIT) or may be
// anything (DICT_KEYS_GENERAL).
struct DictKeysHead {
    Py_ssize_t refcnt;
    std::uint8_t log2_size;
    std::uint8_t log2_index_bytes;
    std::uint8_t kind;
};
constexpr std::uint8_t kKeysGeneral = 0, kKeysUnicode = 1, kKeysSplit = 2;

std::uint8_t keys_kind(PyObject* dict) noexcept {
    auto* head = reinterpret_cast<const DictKeysHead*>(reinterpret_cast<PyDictObject*>(dict)->ma_keys);
    return head->kind;
}
#endif

}  // namespace

bool has_only_exact_str_keys(PyObject* dict) noexcept {
#if TARVEL_PRIVATE_DICT_KEYS_KIND
    if (key_probe_trusted) {
        const std::uint8_t kind = keys_kind(dict);
        return kind == kKeysUnicode || kind == kKeysSplit;
    }
#endif
    return walked_keys_all_exact_str(dict);
}

void calibrate_key_probe() noexcept {
    key_probe_trusted = false;
#if TARVEL_PRIVATE_DICT_KEYS_KIND
    Ref text_keys = Ref::steal(Py_BuildValue("{s:i,s:i}", "a", 1, "b", 2));
    Ref mixed_keys = Ref::steal(Py_BuildValue("{s:i,i:i}", "a", 1, 2, 3));
    if (!text_keys || !mixed_keys) {
        PyErr_Clear();
        return;
    }
    key_probe_trusted = keys_kind(text_keys.get()) == kKeysUnicode && keys_kind(mixed_keys.get()) == kKeysGeneral;
#endif
}

namespace {
bool dict_version_trusted = false;
}  // namespace

bool dict_versions_trusted() noexcept { return dict_version_trusted; }

std::uint64_t dict_version([[maybe_unused]] PyObject* dict) noexcept {
#if TARVEL_PRIVATE_DICT_VERSION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag;
#pragma GCC diagnostic pop
#else
    return 0;
#endif
}

void calibrate_dict_versions() noexcept {
    dict_version_trusted = false;
#if TARVEL_PRIVATE_DICT_VERSION
    Ref dict = Ref::steal(PyDict_New());
    Ref key = Ref::steal(PyUnicode_FromString("k"));
    if (!dict || !key) {
        PyErr_Clear();
        return;
    }
    std::uint64_t seen = dict_version(dict.get());
    for (int step = 0; step < 3; ++step) {
        const int status = step == 1 ? PyDict_DelItem(dict.get(), key.get())
                                     : PyDict_SetItem(dict.get(), key.get(), step == 0 ? Py_None : Py_True);
        if (status < 0) {
            PyErr_Clear();
            return;
        }
        const std::uint64_t now = dict_version(dict.get());
        if (now == seen) return;
        seen = now;
    }
    dict_version_trusted = true;
#endif
}

// ---- class slots --------------------------------------------------------------------------

void write_slots(PyTypeObject* type, const SlotWrites& writes) noexcept {
    auto put = [](auto& slot, auto value) {
        if (value != nullptr) slot = value;
    };
    put(type->tp_as_mapping->mp_subscript, writes.subscript);
    put(type->tp_as_mapping->mp_ass_subscript, writes.assign_item);
    put(type->tp_as_mapping->mp_length, writes.length);
    put(type->tp_as_sequence->sq_length, writes.length);
    put(type->tp_as_sequence->sq_contains, writes.contains);
    put(type->tp_iter, writes.iterate);
    put(type->tp_richcompare, writes.compare);
    put(type->tp_init, writes.init);
    if (setattro_writable()) put(type->tp_setattro, writes.set_attribute);
    put(type->tp_as_number->nb_or, writes.bitwise_or);
    put(type->tp_as_number->nb_inplace_or, writes.inplace_or);
    PyType_Modified(type);
}

namespace {

int probe_setattro(PyObject* self, PyObject* name, PyObject* value) {
    return PyObject_GenericSetAttr(self, name, value);
}

// A class like the package's (made by a class statement), its slot written, and the refused
// call tried on an instance.
bool interpreter_allows_written_setattro() {
    Ref type_type = Ref::borrow(reinterpret_cast<PyObject*>(&PyType_Type));
    Ref cls = Ref::steal(PyObject_CallFunction(type_type.get(), "s()N", "_SetattrProbe", PyDict_New()));
    if (!cls) return false;
    reinterpret_cast<PyTypeObject*>(cls.get())->tp_setattro = probe_setattro;
    PyType_Modified(reinterpret_cast<PyTypeObject*>(cls.get()));
    Ref instance = Ref::steal(PyObject_CallNoArgs(cls.get()));
    Ref object_setattr = Ref::steal(
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(&PyBaseObject_Type), "__setattr__"));
    if (!instance || !object_setattr) return false;
    Ref done = Ref::steal(PyObject_CallFunction(object_setattr.get(), "Oss", instance.get(), "x", "y"));
    return static_cast<bool>(done);
}

}  // namespace

bool setattro_writable() {
    static const int writable = [] {
        PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
        PyErr_Fetch(&type, &value, &traceback);  // the probe must not disturb a pending error
        const bool allowed = interpreter_allows_written_setattro();
        PyErr_Clear();
        PyErr_Restore(type, value, traceback);
        return allowed ? 1 : 0;
    }();
    return writable != 0;
}

// ---- the string builder -------------------------------------------------------------------

#if TARVEL_PRIVATE_STRING_WRITER

UnicodeWriter::UnicodeWriter(Py_ssize_t expected_length) {
    _PyUnicodeWriter_Init(&writer_);
    writer_.overallocate = 1;
    writer_.min_length = expected_length;
}
UnicodeWriter::~UnicodeWriter() {
    if (!finished_) _PyUnicodeWriter_Dealloc(&writer_);
}
void UnicodeWriter::write(PyObject* text) { require_status(_PyUnicodeWriter_WriteStr(&writer_, text)); }
void UnicodeWriter::write_char(Py_UCS4 ch) { require_status(_PyUnicodeWriter_WriteChar(&writer_, ch)); }
void UnicodeWriter::write_ascii(const char* ascii, Py_ssize_t length) {
    require_status(_PyUnicodeWriter_WriteASCIIString(&writer_, ascii, length));
}
Ref UnicodeWriter::finish() {
    finished_ = true;
    return require(_PyUnicodeWriter_Finish(&writer_));
}

#elif PY_VERSION_HEX >= 0x030E0000

UnicodeWriter::UnicodeWriter(Py_ssize_t expected_length) : writer_(PyUnicodeWriter_Create(expected_length)) {
    if (writer_ == nullptr) throw_error();
}
UnicodeWriter::~UnicodeWriter() {
    if (writer_ != nullptr) PyUnicodeWriter_Discard(writer_);
}
void UnicodeWriter::write(PyObject* text) { require_status(PyUnicodeWriter_WriteStr(writer_, text)); }
void UnicodeWriter::write_char(Py_UCS4 ch) { require_status(PyUnicodeWriter_WriteChar(writer_, ch)); }
void UnicodeWriter::write_ascii(const char* ascii, Py_ssize_t length) {
    require_status(PyUnicodeWriter_WriteUTF8(writer_, ascii, length));
}
Ref UnicodeWriter::finish() {
    PyUnicodeWriter* writer = writer_;
    writer_ = nullptr;  // Finish releases it, also when it fails
    return require(PyUnicodeWriter_Finish(writer));
}

#else

UnicodeWriter::UnicodeWriter(Py_ssize_t expected_length) {
    narrow_.reserve(static_cast<std::size_t>(std::max<Py_ssize_t>(expected_length, 16)));
}
UnicodeWriter::~UnicodeWriter() = default;

void UnicodeWriter::widen() {
    is_wide_ = true;
    wide_.assign(narrow_.begin(), narrow_.end());
    for (Py_UCS4& ch : wide_) ch &= 0xFF;  // the bytes were read as char, maybe signed
    narrow_.clear();
}

void UnicodeWriter::write(PyObject* text) {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    const int kind = PyUnicode_KIND(text);
    // a str is stored in its narrowest kind, so this bound is met by one of its characters
    widest_ = std::max(widest_, static_cast<Py_UCS4>(PyUnicode_MAX_CHAR_VALUE(text)));
    if (!is_wide_ && kind == PyUnicode_1BYTE_KIND) {
        narrow_.append(reinterpret_cast<const char*>(PyUnicode_1BYTE_DATA(text)), static_cast<std::size_t>(length));
        return;
    }
    if (!is_wide_) widen();
    const void* data = PyUnicode_DATA(text);
    for (Py_ssize_t i = 0; i < length; ++i) wide_.push_back(PyUnicode_READ(kind, data, i));
}

void UnicodeWriter::write_char(Py_UCS4 ch) {
    widest_ = std::max(widest_, ch);
    if (!is_wide_ && ch <= 0xFF) {
        narrow_.push_back(static_cast<char>(ch));
        return;
    }
    if (!is_wide_) widen();
    wide_.push_back(ch);
}

void UnicodeWriter::write_ascii(const char* ascii, Py_ssize_t length) {
    if (is_wide_) {
        wide_.insert(wide_.end(), ascii, ascii + length);
    } else {
        narrow_.append(ascii, static_cast<std::size_t>(length));
    }
    if (length > 0) widest_ = std::max<Py_UCS4>(widest_, 0x7F);
}

Ref UnicodeWriter::finish() {
    const std::size_t size = is_wide_ ? wide_.size() : narrow_.size();
    // widest_ is at most 0x7F until a character above it was written: the result is ASCII then
    Ref text = require(PyUnicode_New(static_cast<Py_ssize_t>(size), widest_));
    if (!is_wide_) {
        std::copy(narrow_.begin(), narrow_.end(), reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(text.get())));
        return text;
    }
    const int kind = PyUnicode_KIND(text.get());
    void* data = PyUnicode_DATA(text.get());
    for (std::size_t i = 0; i < size; ++i) PyUnicode_WRITE(kind, data, static_cast<Py_ssize_t>(i), wide_[i]);
    return text;
}

#endif

// ---- what this build uses -----------------------------------------------------------------

std::vector<PathChoice> path_choices() {
    const char* const private_way = "private";
    const char* const public_way = "public";
    const bool versions = TARVEL_PRIVATE_DICT_VERSION && dict_versions_trusted();
    return {
        {"class attribute lookup", TARVEL_PRIVATE_TYPE_LOOKUP ? private_way : public_way},
        {"missing attribute lookup", TARVEL_PRIVATE_QUIET_GETATTR ? private_way : public_way},
        {"presized dicts", TARVEL_PRIVATE_PRESIZED_DICT ? private_way : public_way},
        {"str-keyed dicts", TARVEL_PRIVATE_DICT_KEYS_KIND && key_probe_trusted ? private_way : public_way},
        {"unchanged dicts", versions ? "private" : dict_states_tracked() ? "public (dict watchers)" : "none"},
        {"string builder", TARVEL_PRIVATE_STRING_WRITER ? private_way : public_way},
        {"setattr slot", setattro_writable() ? "direct" : "interpreter's"},
    };
}

}  // namespace capi
