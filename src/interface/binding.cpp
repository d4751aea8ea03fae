#include "interface/binding.hpp"

#include <cstring>
#include <string>
#include <string_view>

namespace vexlume {

namespace {

constexpr Py_ssize_t parameter_count = 3;

// The UTF-8 bytes of a str, or nothing (with no exception left pending).
std::optional<std::string_view> utf8_of(PyObject* text) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (data == nullptr) {
        PyErr_Clear();
        return std::nullopt;
    }
    return std::string_view(data, static_cast<std::size_t>(size));
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'"
std::string quoted_list(const char* const* names, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            text += count > 2 ? ", " : " ";
            if (i == count - 1) text += "and ";
        }
        text += '\'';
        text += names[i];
        text += '\'';
    }
    return text;
}

}  // namespace

bool bind_arguments(const FunctionDescription& function, PyObject* const* args,
                    Py_ssize_t nargs, PyObject* kwnames, PyObject* slots[3]) {
    if (nargs > parameter_count) {
        PyErr_Format(PyExc_TypeError, "%s() takes %d positional arguments but %zd %s given",
                     function.name, static_cast<int>(parameter_count), nargs,
                     nargs == 1 ? "was" : "were");
        return false;
    }
    for (Py_ssize_t i = 0; i < parameter_count; ++i) {
        slots[i] = i < nargs ? args[i] : nullptr;
    }

    const Py_ssize_t keyword_count = kwnames == nullptr ? 0 : PyTuple_Size(kwnames);
    for (Py_ssize_t k = 0; k < keyword_count; ++k) {
        PyObject* keyword = PyTuple_GetItem(kwnames, k);
        if (keyword == nullptr) {
            return false;
        }
        std::optional<std::string_view> name = utf8_of(keyword);
        int matched = -1;
        for (int p = 0; name && p < parameter_count; ++p) {
            if (*name == function.parameters[p]) {
                matched = p;
                break;
            }
        }
        if (matched < 0) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'",
                         function.name, keyword);
            return false;
        }
        if (slots[matched] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'",
                         function.name, function.parameters[matched]);
            return false;
        }
        slots[matched] = args[nargs + k];
    }

    const char* missing[parameter_count];
    int missing_count = 0;
    for (int p = 0; p < parameter_count; ++p) {
        if (slots[p] == nullptr) missing[missing_count++] = function.parameters[p];
    }
    if (missing_count > 0) {
        PyErr_Format(PyExc_TypeError, "%s() missing %d required positional %s: %s",
                     function.name, missing_count,
                     missing_count == 1 ? "argument" : "arguments",
                     quoted_list(missing, missing_count).c_str());
        return false;
    }
    return true;
}

void raise_conversion_error(PyObject* object, const char* target) {
    PyRef type_name = PyRef::steal(PyType_GetQualName(Py_TYPE(object)));
    if (!type_name) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "'<failed to extract type name>' object cannot be "
                                      "converted to '%s'", target);
        return;
    }
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", type_name.get(),
                 target);
}

void name_parameter_in_type_error(const char* parameter) {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type != PyExc_TypeError) {
        PyErr_Restore(type, value, traceback);
        return;
    }
    PyErr_NormalizeException(&type, &value, &traceback);
    PyRef old_type = PyRef::steal(type);
    PyRef old_value = PyRef::steal(value);
    PyRef old_traceback = PyRef::steal(traceback);

    PyRef text = PyRef::steal(PyObject_Str(old_value.get()));
    if (!text) {
        return;  // the failure of str() is the exception the caller sees
    }
    PyRef cause = PyRef::steal(PyException_GetCause(old_value.get()));
    PyRef renamed = PyRef::steal(PyUnicode_FromFormat("argument '%s': %U", parameter,
                                                      text.get()));
    if (!renamed) {
        return;
    }
    PyRef replacement = PyRef::steal(PyObject_CallFunctionObjArgs(PyExc_TypeError, renamed.get(), nullptr));
    if (!replacement) {
        return;
    }
    if (cause) {
        PyException_SetCause(replacement.get(), cause.release());
    }
    PyErr_SetObject(PyExc_TypeError, replacement.get());
}

bool convert_kind(PyObject* object, ShotNoiseKind& kind) {
    if (object == Py_None) {
        kind = ShotNoiseKind::VariablePhaseOnly;
        return true;
    }
    if (!PyUnicode_Check(object)) {
        raise_conversion_error(object, "str");
        return false;
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(object, &size);
    if (data == nullptr) {
        return false;  // UnicodeEncodeError, passed on unchanged
    }
    std::optional<ShotNoiseKind> parsed =
        shot_noise_kind_from_name(std::string_view(data, static_cast<std::size_t>(size)));
    if (!parsed) {
        PyErr_SetString(PyExc_ValueError, "invalid shot noise kind");
        return false;
    }
    kind = *parsed;
    return true;
}

bool convert_seed(PyObject* object, std::optional<std::uint64_t>& seed) {
    if (object == Py_None) {
        seed.reset();
        return true;
    }
    PyRef integer = PyLong_Check(object) ? PyRef::borrow(object)
                                         : PyRef::steal(PyNumber_Index(object));
    if (!integer) {
        return false;
    }
    unsigned long long value = PyLong_AsUnsignedLongLong(integer.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) {
        return false;
    }
    seed = static_cast<std::uint64_t>(value);
    return true;
}

}  // namespace vexlume
