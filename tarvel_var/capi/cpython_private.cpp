#include "capi/cpython_private.hpp"

namespace capi {
namespace {

// The head of CPython 3.13's dict keys object (PyDictKeysObject, Include/internal): the kind
// says whether all keys are exact str (DICT_KEYS_UNICODE or DICT_KEYS_SPLIT) or may be
// anything (DICT_KEYS_GENERAL).
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

namespace {
bool dict_version_trusted = false;
}  // namespace

bool dict_versions_trusted() noexcept { return dict_version_trusted; }

std::uint64_t dict_version(PyObject* dict) noexcept {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return reinterpret_cast<PyDictObject*>(dict)->ma_version_tag;
#pragma GCC diagnostic pop
}

void calibrate_dict_versions() noexcept {
    dict_version_trusted = false;
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
}

// Declared by the interpreter in its internal headers only; exported for its own modules.
extern "C" void _PyUnicode_InternMortal(PyInterpreterState* interp, PyObject** name);

Ref intern_attribute_name(PyObject* name) {
    PyObject* interned = Py_NewRef(name);
    _PyUnicode_InternMortal(PyInterpreterState_Get(), &interned);
    return Ref::steal(interned);
}

Py_ssize_t member_slot_offset(PyObject* descriptor) noexcept {
    if (Py_TYPE(descriptor) != &PyMemberDescr_Type) return -1;
    const PyMemberDef* member = reinterpret_cast<PyMemberDescrObject*>(descriptor)->d_member;
    return member->type == Py_T_OBJECT_EX ? member->offset : -1;
}

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
    put(type->tp_setattro, writes.set_attribute);
    put(type->tp_as_number->nb_or, writes.bitwise_or);
    put(type->tp_as_number->nb_inplace_or, writes.inplace_or);
    PyType_Modified(type);
}

}  // namespace capi
