// How a native failure reaches Python: the InternalError class and the call
// wrapper shared by the four functions.
#pragma once

#include "interface/py_ref.hpp"

#include <string>

namespace vexlume {

// Sets InternalError(message) as the current Python exception.
void raise_internal_error(const std::string& message);

// For a Python API call the computation cannot do without: prints the
// pending Python error and fails with "Python API call failed".
[[noreturn]] void python_api_failed();

// The result of a handler: a new reference, or null with a Python exception
// set (a bad call). Internal failures travel as C++ exceptions instead.
using Handler = PyObject* (*)(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// Runs a handler and turns any C++ exception escaping it into InternalError.
PyObject* run_handler(Handler handler, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) noexcept;

// The METH_FASTCALL | METH_KEYWORDS entry point around one handler.
template <Handler handler>
PyObject* call_wrapper(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) {
    return run_handler(handler, args, nargs, kwnames);
}

}  // namespace vexlume
