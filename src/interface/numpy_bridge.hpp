// The NumPy array bridge: typed acceptance of input arrays, read-only strided
// views of them, and zero-copy publishing of owned result buffers.
//
// NumPy's C interface is loaded from its _ARRAY_API capsule at the first
// array conversion, so importing the module does not import NumPy.
#pragma once

#include "interface/py_ref.hpp"

#include <optional>

#include "core/buffer.hpp"
#include "core/view.hpp"

namespace vexlume {

// An input array held for one call: a reference of our own and a view of its
// elements. Arrays whose data or strides are not aligned to the element size
// are read through an aligned copy made here, since the view addresses whole
// elements only.
template <class T, int Dimensions>
class HeldArray {
public:
    using View = std::conditional_t<Dimensions == 1, View1<T>, View2<T>>;

    // Null with the bad-call TypeError set when `object` is not an ndarray of
    // element type T with `Dimensions` axes.
    static std::optional<HeldArray> accept(PyObject* object);

    const View& view() const { return view_; }

private:
    PyRef array_;
    Buffer<T> aligned_copy_;
    View view_;
};

// A new NumPy array over the result's buffer, which it keeps alive through a
// small owner object; the buffer is handed over, never copied.
PyRef publish(OwnedArray<double>&& result);
PyRef publish(OwnedArray<Complex>&& result);

}  // namespace vexlume
