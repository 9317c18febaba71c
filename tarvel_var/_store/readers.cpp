// The native readers' part of the module, and native_readers(), which says which there are.
#include "readers.hpp"

#include "methods.hpp"

#include <datetime.h>

namespace store {

capi::Ref made_or_general_way(PyObject* made, PyObject* refused) {
    if (made == nullptr) {
        if (!PyErr_ExceptionMatches(refused)) capi::throw_error();
        PyErr_Clear();
        throw GeneralWay{};
    }
    return capi::Ref::steal(made);
}

std::optional<std::string_view> utf8_of(PyObject* text) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
    if (utf8 == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) capi::throw_error();
        PyErr_Clear();
        return std::nullopt;
    }
    return std::string_view(utf8, static_cast<std::size_t>(size));
}

capi::Ref decoded(std::string_view utf8) {
    return made_or_general_way(PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), nullptr),
                               PyExc_UnicodeDecodeError);
}

namespace {

// The datetime module's C interface, imported on first use.
const PyDateTime_CAPI& datetime_api() {
    if (PyDateTimeAPI == nullptr) {
        PyDateTime_IMPORT;
        if (PyDateTimeAPI == nullptr) capi::throw_error();
    }
    return *PyDateTimeAPI;
}

capi::Ref datetime_made(PyObject* made) { return made_or_general_way(made, PyExc_ValueError); }

}  // namespace

capi::Ref date_made(int year, int month, int day) {
    const PyDateTime_CAPI& api = datetime_api();
    return datetime_made(api.Date_FromDate(year, month, day, api.DateType));
}

capi::Ref time_made(int hour, int minute, int second, int microsecond) {
    const PyDateTime_CAPI& api = datetime_api();
    return datetime_made(api.Time_FromTime(hour, minute, second, microsecond, Py_None, api.TimeType));
}

capi::Ref date_time_made(int year, int month, int day, int hour, int minute, int second, int microsecond,
                         std::optional<int> offset_minutes) {
    const PyDateTime_CAPI& api = datetime_api();
    capi::Ref zone = capi::Ref::borrow(Py_None);
    if (offset_minutes) {
        capi::Ref offset = datetime_made(api.Delta_FromDelta(0, *offset_minutes * 60, 0, 1, api.DeltaType));
        zone = datetime_made(api.TimeZone_FromTimeZone(offset.get(), nullptr));
    }
    return datetime_made(api.DateTime_FromDateAndTime(year, month, day, hour, minute, second, microsecond, zone.get(),
                                                      api.DateTimeType));
}

namespace {

// native_readers(): the formats read natively, as "format: library version" texts.
PyObject* native_readers(PyObject*, PyObject*) {
    return entry([&] {
        Ref readers = capi::require(PyList_New(0));
        for (const std::string& library : {json_reader_library(), yaml_reader_library(), toml_reader_library()}) {
            if (library.empty()) continue;
            Ref text = capi::require(PyUnicode_FromStringAndSize(library.data(), static_cast<Py_ssize_t>(library.size())));
            capi::require_status(PyList_Append(readers.get(), text.get()));
        }
        return capi::require(PyList_AsTuple(readers.get())).release();
    });
}

PyMethodDef readers_functions[] = {
    {"native_readers", as_cfunction(native_readers), METH_NOARGS,
     "native_readers()\n--\n\nThe formats this build reads natively, as 'format: library version'."},
};

}  // namespace

bool ready_readers(PyObject* module) {
    if (!ready_json_reader(module) || !ready_yaml_reader(module) || !ready_toml_reader(module)) return false;
    return capi::at_boundary<bool>(false, [&] {
        add_functions(module, readers_functions);
        return true;
    });
}

}  // namespace store
