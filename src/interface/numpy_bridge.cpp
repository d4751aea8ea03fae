#include "interface/numpy_bridge.hpp"

#include <cstdint>
#include <cstring>
#include <string>

#include "core/error.hpp"
#include "interface/binding.hpp"
#include "interface/call.hpp"

namespace vexlume {

namespace {

// NumPy's type numbers and flags, fixed by its C interface.
constexpr int npy_double = 12;
constexpr int npy_cdouble = 15;
constexpr int npy_array_writeable = 0x0400;

// The label that every failed array conversion names as its target.
constexpr const char* typed_array_label = "numpy.ndarray[dtype, ndim]";

// The leading fields of NumPy's array object, unchanged since NumPy 1.7.
struct ArrayFields {
    PyObject ob_base;
    char* data;
    int nd;
    Py_ssize_t* dimensions;
    Py_ssize_t* strides;
    PyObject* base;
    PyObject* descr;
    int flags;
};

ArrayFields* fields_of(PyObject* array) { return reinterpret_cast<ArrayFields*>(array); }

// The slots of NumPy's function table that the bridge uses.
struct NumpyApi {
    PyTypeObject* array_type;
    PyObject* (*descr_from_type)(int);
    PyObject* (*new_from_descr)(PyTypeObject*, PyObject*, int, const Py_ssize_t*,
                                const Py_ssize_t*, void*, int, PyObject*);
    unsigned char (*equiv_types)(PyObject*, PyObject*);
    int (*set_base_object)(PyObject*, PyObject*);
};

// The text of the pending Python error, which is cleared.
std::string take_python_error_text() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyRef held_type = PyRef::steal(type);
    PyRef held_value = PyRef::steal(value);
    PyRef held_traceback = PyRef::steal(traceback);
    if (!held_value) {
        return "no Python error was set";
    }
    PyRef text = PyRef::steal(PyObject_Str(held_value.get()));
    const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), nullptr) : nullptr;
    if (utf8 == nullptr) {
        PyErr_Clear();
        return "an error whose text cannot be read";
    }
    return utf8;
}

void** load_array_api_table() {
    auto failed = [] {
        fail("Failed to access NumPy array API capsule: " + take_python_error_text());
    };
    PyRef numpy = PyRef::steal(PyImport_ImportModule("numpy"));
    if (!numpy) failed();
    PyRef version = PyRef::steal(PyObject_GetAttrString(numpy.get(), "__version__"));
    if (!version) failed();
    PyRef numpy_lib = PyRef::steal(PyImport_ImportModule("numpy.lib"));
    if (!numpy_lib) failed();
    PyRef parsed = PyRef::steal(
        PyObject_CallMethod(numpy_lib.get(), "NumpyVersion", "O", version.get()));
    if (!parsed) failed();
    PyRef major_object = PyRef::steal(PyObject_GetAttrString(parsed.get(), "major"));
    if (!major_object) failed();
    const long major = PyLong_AsLong(major_object.get());
    if (major == -1 && PyErr_Occurred() != nullptr) failed();

    const char* multiarray_name =
        major >= 2 ? "numpy._core.multiarray" : "numpy.core.multiarray";
    PyRef multiarray = PyRef::steal(PyImport_ImportModule(multiarray_name));
    if (!multiarray) failed();
    PyRef capsule = PyRef::steal(PyObject_GetAttrString(multiarray.get(), "_ARRAY_API"));
    if (!capsule) failed();
    if (!PyCapsule_CheckExact(capsule.get())) {
        fail("Failed to access NumPy array API capsule: _ARRAY_API is not a capsule");
    }
    void* table = PyCapsule_GetPointer(capsule.get(), PyCapsule_GetName(capsule.get()));
    if (table == nullptr) failed();
    // NumPy keeps the table alive for the life of the process.
    return static_cast<void**>(table);
}

const NumpyApi& numpy_api() {
    static NumpyApi api;
    static bool loaded = false;
    if (!loaded) {
        void** table = load_array_api_table();
        api.array_type = static_cast<PyTypeObject*>(table[2]);
        api.descr_from_type = reinterpret_cast<decltype(api.descr_from_type)>(table[45]);
        api.new_from_descr = reinterpret_cast<decltype(api.new_from_descr)>(table[94]);
        api.equiv_types = reinterpret_cast<decltype(api.equiv_types)>(table[182]);
        api.set_base_object = reinterpret_cast<decltype(api.set_base_object)>(table[282]);
        loaded = true;
    }
    return api;
}

template <class T>
constexpr int type_number() {
    return std::is_same_v<T, double> ? npy_double : npy_cdouble;
}

template <class T>
bool has_element_type(const NumpyApi& api, PyObject* descr) {
    PyRef wanted = PyRef::steal(api.descr_from_type(type_number<T>()));
    if (!wanted) {
        python_api_failed();
    }
    return descr == wanted.get() || api.equiv_types(descr, wanted.get()) != 0;
}

// ---- the owner object that keeps a result buffer alive ----

struct BufferOwner {
    PyObject ob_base;
    void* buffer;
};

void buffer_owner_dealloc(PyObject* self) {
    std::free(reinterpret_cast<BufferOwner*>(self)->buffer);
    PyTypeObject* type = Py_TYPE(self);
    auto free_instance = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_instance(self);
    Py_DECREF(type);
}

PyTypeObject* buffer_owner_type() {
    static PyTypeObject* type = nullptr;
    if (type == nullptr) {
        static PyType_Slot slots[] = {
            {Py_tp_dealloc, reinterpret_cast<void*>(buffer_owner_dealloc)},
            {Py_tp_doc, const_cast<char*>("Keeps a buffer of the native code alive on the "
                                          "Python heap for as long as an array uses it.")},
            {0, nullptr},
        };
        static PyType_Spec spec = {
            "vexlume_runtime.BufferOwner", sizeof(BufferOwner), 0,
            Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};
        type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
    }
    return type;
}

template <class T>
PyRef make_owner(Buffer<T>& buffer) {
    PyTypeObject* type = buffer_owner_type();
    if (type == nullptr) {
        fail("Failed to create slice container: " + take_python_error_text());
    }
    auto allocate = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyRef owner = PyRef::steal(allocate(type, 0));
    if (!owner) {
        fail("Failed to create slice container: " + take_python_error_text());
    }
    auto* fields = reinterpret_cast<BufferOwner*>(owner.get());
    fields->buffer = buffer.release();
    return owner;
}

template <class T>
PyRef publish_array(OwnedArray<T>&& result) {
    const NumpyApi& api = numpy_api();
    T* data = result.buffer.data() + result.origin;
    Py_ssize_t dimensions[2];
    Py_ssize_t byte_strides[2];
    for (int axis = 0; axis < result.ndim; ++axis) {
        dimensions[axis] = static_cast<Py_ssize_t>(result.extents[axis]);
        byte_strides[axis] = result.strides[axis] * static_cast<Py_ssize_t>(sizeof(T));
    }
    PyRef owner = make_owner(result.buffer);  // frees the buffer if anything below fails
    PyObject* descr = api.descr_from_type(type_number<T>());
    if (descr == nullptr) {
        python_api_failed();
    }
    PyRef array = PyRef::steal(api.new_from_descr(api.array_type, descr, result.ndim, dimensions,
                                                  byte_strides, data, npy_array_writeable,
                                                  nullptr));
    if (!array) {
        python_api_failed();
    }
    if (api.set_base_object(array.get(), owner.release()) < 0) {
        python_api_failed();
    }
    return array;
}

}  // namespace

template <class T, int Dimensions>
std::optional<HeldArray<T, Dimensions>> HeldArray<T, Dimensions>::accept(PyObject* object) {
    const NumpyApi& api = numpy_api();
    if (!PyObject_TypeCheck(object, api.array_type) || fields_of(object)->nd != Dimensions ||
        !has_element_type<T>(api, fields_of(object)->descr)) {
        raise_conversion_error(object, typed_array_label);
        return std::nullopt;
    }

    const ArrayFields* array = fields_of(object);
    constexpr Py_ssize_t size = sizeof(T);
    std::size_t extents[2] = {1, 1};
    Py_ssize_t byte_strides[2] = {0, 0};
    bool empty = false;
    bool whole_elements = reinterpret_cast<std::uintptr_t>(array->data) % alignof(double) == 0;
    for (int axis = 0; axis < Dimensions; ++axis) {
        extents[axis] = static_cast<std::size_t>(array->dimensions[axis]);
        empty = empty || extents[axis] == 0;
        // The stride of an axis of length one is never used to address anything.
        byte_strides[axis] = extents[axis] > 1 ? array->strides[axis] : 0;
        whole_elements = whole_elements && byte_strides[axis] % size == 0;
    }

    HeldArray held;
    held.array_ = PyRef::borrow(object);
    const T* data = reinterpret_cast<const T*>(array->data);
    std::ptrdiff_t element_strides[2] = {byte_strides[0] / size, byte_strides[1] / size};

    if (!whole_elements && !empty) {
        // Copy into aligned memory, keeping the direction of every axis so that
        // computations walking memory order see the same order as before.
        const std::size_t rows = Dimensions == 2 ? extents[0] : 1;
        const std::size_t cols = Dimensions == 2 ? extents[1] : extents[0];
        const Py_ssize_t row_step = Dimensions == 2 ? byte_strides[0] : 0;
        const Py_ssize_t col_step = Dimensions == 2 ? byte_strides[1] : byte_strides[0];
        held.aligned_copy_ = Buffer<T>::uninitialized(rows * cols);
        const std::ptrdiff_t row_stride = row_step < 0 ? -static_cast<std::ptrdiff_t>(cols)
                                                       : static_cast<std::ptrdiff_t>(cols);
        const std::ptrdiff_t col_stride = col_step < 0 ? -1 : 1;
        const std::ptrdiff_t first = (row_step < 0 ? static_cast<std::ptrdiff_t>((rows - 1) * cols) : 0) +
                                     (col_step < 0 ? static_cast<std::ptrdiff_t>(cols - 1) : 0);
        T* copy = held.aligned_copy_.data() + first;
        for (std::size_t i = 0; i < rows; ++i) {
            for (std::size_t j = 0; j < cols; ++j) {
                const char* source = array->data + static_cast<Py_ssize_t>(i) * row_step +
                                     static_cast<Py_ssize_t>(j) * col_step;
                std::memcpy(copy + static_cast<std::ptrdiff_t>(i) * row_stride +
                                static_cast<std::ptrdiff_t>(j) * col_stride,
                            source, sizeof(T));
            }
        }
        data = copy;
        if constexpr (Dimensions == 2) {
            element_strides[0] = row_stride;
            element_strides[1] = col_stride;
        } else {
            element_strides[0] = col_stride;
        }
    }

    if constexpr (Dimensions == 1) {
        held.view_ = View1<T>{data, extents[0], element_strides[0]};
    } else {
        held.view_ = View2<T>{data, extents[0], extents[1], element_strides[0], element_strides[1]};
    }
    return held;
}

template class HeldArray<double, 1>;
template class HeldArray<double, 2>;
template class HeldArray<Complex, 1>;
template class HeldArray<Complex, 2>;

PyRef publish(OwnedArray<double>&& result) { return publish_array(std::move(result)); }
PyRef publish(OwnedArray<Complex>&& result) { return publish_array(std::move(result)); }

}  // namespace vexlume
