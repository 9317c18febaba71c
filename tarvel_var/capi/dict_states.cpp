#include "capi/dict_states.hpp"

#include <array>

#include "capi/cpython_private.hpp"

namespace capi {
namespace {

enum class Means { Untracked, Versions, Watchers };
Means means = Means::Untracked;
bool chosen = false;

// A state no record was kept under: each failure to watch a dict gets its own.
std::uint64_t unmatched_state = std::uint64_t{1} << 63;

#if PY_VERSION_HEX >= 0x030C0000
int watcher_id = -1;

// The changes of the watched dicts, counted per address class. A dict's state is the count of
// its class: it moves with every change of the dict and with its release, so a record never
// matches a later dict at its address; a change of another dict of the class only drops the
// record early.
std::array<std::uint64_t, 256> change_counts{};

std::size_t address_class(PyObject* dict) noexcept {
    return (reinterpret_cast<std::uintptr_t>(dict) >> 4) % change_counts.size();
}

int count_change(PyDict_WatchEvent, PyObject* dict, PyObject*, PyObject*) {
    ++change_counts[address_class(dict)];
    return 0;
}
#endif

bool keys_all_exact_str(PyObject* dict) noexcept {
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(dict, &pos, &key, &value)) {
        if (!PyUnicode_CheckExact(key)) return false;
    }
    return true;
}

DictStateCache<bool, 64> keys_answers;  // whether all keys are exact str

// Below this size the walk costs less than asking for the dict's state.
constexpr Py_ssize_t kWalkedAlways = 8;

}  // namespace

bool walked_keys_all_exact_str(PyObject* dict) noexcept {
    if (PyDict_GET_SIZE(dict) <= kWalkedAlways) return keys_all_exact_str(dict);
    if (const bool* known = keys_answers.find(dict)) return *known;
    const std::uint64_t state = dict_state_to_record(dict);  // the walk runs no code
    const bool all_exact_str = keys_all_exact_str(dict);
    keys_answers.remember(dict, state, all_exact_str);
    return all_exact_str;
}

void track_dict_states() noexcept {
    if (chosen) return;
    chosen = true;
    calibrate_dict_versions();
    if (dict_versions_trusted()) {
        means = Means::Versions;
        return;
    }
#if PY_VERSION_HEX >= 0x030C0000
    watcher_id = PyDict_AddWatcher(count_change);
    if (watcher_id < 0) {  // all of the interpreter's watcher places are taken
        PyErr_Clear();
        return;
    }
    means = Means::Watchers;
#endif
}

bool dict_states_tracked() noexcept { return means != Means::Untracked; }

// A recorded state was read by dict_state_to_record(), which watched the dict: it stays watched
// for the rest of its life, so its state is read without watching it again.
std::uint64_t dict_state(PyObject* dict) noexcept {
    if (means == Means::Versions) return dict_version(dict);
#if PY_VERSION_HEX >= 0x030C0000
    if (means == Means::Watchers) return change_counts[address_class(dict)];
#endif
    return ++unmatched_state;
}

std::uint64_t dict_state_to_record(PyObject* dict) noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    if (means == Means::Watchers) {
        // watched before the count is read, so that no change after the reading goes uncounted
        if (PyDict_Watch(watcher_id, dict) == 0) return change_counts[address_class(dict)];
        PyErr_Clear();
        return ++unmatched_state;
    }
#endif
    return dict_state(dict);
}

}  // namespace capi
