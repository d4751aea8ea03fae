#include "interface/call.hpp"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "core/error.hpp"

namespace vexlume {

namespace {

const char internal_error_doc[] =
    "Raised when the native code of _lib_vexlume fails unrecoverably.\n\n"
    "Like SystemExit it derives from BaseException, not Exception, so that it\n"
    "typically propagates all the way up and makes the interpreter exit.";

// Created at the first internal error and kept for the process.
PyObject* internal_error_class() {
    static PyObject* cls = nullptr;
    if (cls == nullptr) {
        cls = PyErr_NewExceptionWithDoc("vexlume_runtime.InternalError", internal_error_doc,
                                        PyExc_BaseException, nullptr);
    }
    return cls;
}

}  // namespace

void raise_internal_error(const std::string& message) {
    PyObject* cls = internal_error_class();
    if (cls == nullptr) {
        return;  // the failure to make the class is the pending exception
    }
    PyRef text = PyRef::steal(PyUnicode_DecodeUTF8(message.data(),
                                                   static_cast<Py_ssize_t>(message.size()),
                                                   "replace"));
    if (!text) {
        return;
    }
    PyErr_SetObject(cls, text.get());
}

void python_api_failed() {
    if (PyErr_Occurred() != nullptr) {
        PyErr_Print();
    }
    fail("Python API call failed");
}

PyObject* run_handler(Handler handler, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) noexcept {
    try {
        try {
            return handler(args, nargs, kwnames);
        } catch (const InternalFailure& failure) {
            raise_internal_error(failure.message());
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "_lib_vexlume: internal error: out of memory\n");
            raise_internal_error("out of memory");
        } catch (const std::exception& error) {
            std::fprintf(stderr, "_lib_vexlume: internal error: %s\n", error.what());
            raise_internal_error(error.what());
        } catch (...) {
            std::fprintf(stderr, "_lib_vexlume: internal error of unknown kind\n");
            raise_internal_error("native code failed without a message");
        }
    } catch (...) {
        std::fprintf(stderr, "_lib_vexlume: fatal: a failure escaped while it was being "
                             "reported to Python\n");
        std::abort();
    }
    return nullptr;
}

}  // namespace vexlume
