// The module entry of _lib_vexlume, its function table and the four handlers.
//
// Each handler binds its arguments, converts them in parameter order, runs
// one computation on read-only views and publishes the owned results. The
// inputs are held by HeldArray objects, so they are released on every path,
// in the reverse order of acceptance, before an InternalError is raised.
#include "interface/py_ref.hpp"

#include <atomic>
#include <cstdint>
#include <optional>

#include "core/error.hpp"
#include "interface/binding.hpp"
#include "interface/call.hpp"
#include "interface/numpy_bridge.hpp"
#include "noise/mask_noise.hpp"
#include "noise/shot_noise.hpp"
#include "statistics/signals.hpp"

namespace vexlume {
namespace {

using SpectraArray = HeldArray<Complex, 2>;
using SpectrumArray = HeldArray<Complex, 1>;
using RealVector = HeldArray<double, 1>;
using RealMatrix = HeldArray<double, 2>;

// Accepts one array argument, naming the parameter in a bad-call TypeError.
template <class Held>
std::optional<Held> accept(PyObject* object, const char* parameter) {
    std::optional<Held> held = Held::accept(object);
    if (!held) {
        name_parameter_in_type_error(parameter);
    }
    return held;
}

PyObject* pair(PyRef first, PyRef second) {
    PyRef tuple = PyRef::steal(PyTuple_New(2));
    if (!tuple) {
        python_api_failed();
    }
    PyTuple_SetItem(tuple.get(), 0, first.release());
    PyTuple_SetItem(tuple.get(), 1, second.release());
    return tuple.release();
}

constexpr FunctionDescription noise_signal_description{"noise_signal", {"spectra", "w", "masks"}};
constexpr FunctionDescription jitter_signal_description{"jitter_signal",
                                                        {"spectra", "w", "masks"}};
constexpr FunctionDescription shot_noise_description{"shot_noise", {"w", "kind", "seed"}};
constexpr FunctionDescription mask_noise_description{"mask_noise", {"w", "spectrum", "mask"}};

template <SignalResults (*compute)(View2<Complex>, View1<double>, View2<double>)>
PyObject* signal_handler(const FunctionDescription& description, PyObject* const* args,
                         Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* slots[3];
    if (!bind_arguments(description, args, nargs, kwnames, slots)) return nullptr;
    std::optional<SpectraArray> spectra = accept<SpectraArray>(slots[0], "spectra");
    if (!spectra) return nullptr;
    std::optional<RealVector> w = accept<RealVector>(slots[1], "w");
    if (!w) return nullptr;
    std::optional<RealMatrix> masks = accept<RealMatrix>(slots[2], "masks");
    if (!masks) return nullptr;

    SignalResults results = compute(spectra->view(), w->view(), masks->view());
    PyRef statistics = publish(std::move(results.statistics));
    PyRef examples = publish(std::move(results.examples));
    masks.reset();
    w.reset();
    spectra.reset();
    return pair(std::move(statistics), std::move(examples));
}

PyObject* py_energy_signal(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return signal_handler<energy_signals>(noise_signal_description, args, nargs, kwnames);
}

PyObject* py_jitter_signal(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return signal_handler<jitter_signals>(jitter_signal_description, args, nargs, kwnames);
}

PyObject* py_shot_noise(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* slots[3];
    if (!bind_arguments(shot_noise_description, args, nargs, kwnames, slots)) return nullptr;
    std::optional<RealVector> w = accept<RealVector>(slots[0], "w");
    if (!w) return nullptr;
    ShotNoiseKind kind{};
    if (!convert_kind(slots[1], kind)) {
        name_parameter_in_type_error("kind");
        return nullptr;
    }
    std::optional<std::uint64_t> seed;
    if (!convert_seed(slots[2], seed)) {
        name_parameter_in_type_error("seed");
        return nullptr;
    }
    return publish(shot_noise(w->view(), kind, seed)).release();
}

PyObject* py_mask_noise(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* slots[3];
    if (!bind_arguments(mask_noise_description, args, nargs, kwnames, slots)) return nullptr;
    std::optional<RealVector> w = accept<RealVector>(slots[0], "w");
    if (!w) return nullptr;
    std::optional<SpectrumArray> spectrum = accept<SpectrumArray>(slots[1], "spectrum");
    if (!spectrum) return nullptr;
    std::optional<RealVector> mask = accept<RealVector>(slots[2], "mask");
    if (!mask) return nullptr;
    return publish(mask_noise(w->view(), spectrum->view(), mask->view())).release();
}

// The doc strings carry only the text signature, so __doc__ is None.
PyMethodDef function_table[] = {
    {"noise_signal", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(
                         call_wrapper<py_energy_signal>)),
     METH_FASTCALL | METH_KEYWORDS, "noise_signal(spectra, w, masks)\n--\n\n"},
    {"jitter_signal", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(
                          call_wrapper<py_jitter_signal>)),
     METH_FASTCALL | METH_KEYWORDS, "jitter_signal(spectra, w, masks)\n--\n\n"},
    {"shot_noise", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(
                       call_wrapper<py_shot_noise>)),
     METH_FASTCALL | METH_KEYWORDS, "shot_noise(w, kind, seed)\n--\n\n"},
    {"mask_noise", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(
                       call_wrapper<py_mask_noise>)),
     METH_FASTCALL | METH_KEYWORDS, "mask_noise(w, spectrum, mask)\n--\n\n"},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "_lib_vexlume", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

std::atomic<std::int64_t> creating_interpreter{-1};
PyObject* cached_module = nullptr;

// Adds the four functions and __all__. Returns false with an exception set.
bool initialize(PyObject* module) {
    PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
    if (!module_name) return false;
    for (PyMethodDef& entry : function_table) {
        PyRef function = PyRef::steal(PyCFunction_NewEx(&entry, module, module_name.get()));
        if (!function) return false;
        PyRef name = PyRef::steal(PyObject_GetAttrString(function.get(), "__name__"));
        if (!name) return false;
        if (!PyUnicode_Check(name.get())) {
            PyErr_SetString(PyExc_TypeError, "__name__ of a function must be a str");
            return false;
        }
        PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
        if (!all) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
            PyErr_Clear();
            all = PyRef::steal(PyList_New(0));
            if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
        }
        if (!PyList_Check(all.get()) || PyList_Append(all.get(), name.get()) < 0) {
            PyErr_Clear();
            fail("could not append __name__ to __all__");
        }
        if (PyObject_SetAttr(module, name.get(), function.get()) < 0) return false;
    }
    return true;
}

PyObject* create_module() {
    PyInterpreterState* interpreter = PyInterpreterState_Get();
    const std::int64_t id = PyInterpreterState_GetID(interpreter);
    if (id == -1) {
        if (PyErr_Occurred() == nullptr) {
            PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        }
        return nullptr;
    }
    std::int64_t expected = -1;
    if (!creating_interpreter.compare_exchange_strong(expected, id) && expected != id) {
        PyErr_SetString(PyExc_ImportError,
                        "_lib_vexlume does not support sub-interpreters: it can be imported "
                        "only in the interpreter that imported it first");
        return nullptr;
    }
    if (cached_module != nullptr) {
        Py_INCREF(cached_module);
        return cached_module;
    }
    PyRef module = PyRef::steal(PyModule_Create2(&module_definition, 3));
    if (!module) return nullptr;
    try {
        if (!initialize(module.get())) return nullptr;
    } catch (const InternalFailure& failure) {
        raise_internal_error(failure.message());
        return nullptr;
    }
    cached_module = module.get();
    Py_INCREF(cached_module);
    return module.release();
}

}  // namespace
}  // namespace vexlume

extern "C" PyMODINIT_FUNC PyInit__lib_vexlume() { return vexlume::create_module(); }
