// Read-only strided views: how every computation sees its inputs.
//
// A view is a pointer to the element with all indices 0, the extents and one
// signed stride per axis counted in elements. Strides may be negative, zero or
// larger than one; index i along an axis is always the caller's index i.
#pragma once

#include <cstddef>
#include <cstdint>
#include <source_location>
#include <string>

#include "core/error.hpp"

namespace vexlume {

// A complex value as NumPy's complex128 and FFTW's fftw_complex store it.
struct Complex {
    double re;
    double im;
};
static_assert(sizeof(Complex) == 16 && alignof(Complex) == 8);

template <class T>
struct View1 {
    const T* data = nullptr;
    std::size_t size = 0;
    std::ptrdiff_t stride = 1;

    const T& operator[](std::size_t i) const {
        return data[static_cast<std::ptrdiff_t>(i) * stride];
    }
};

template <class T>
struct View2 {
    const T* data = nullptr;
    std::size_t rows = 0;
    std::size_t cols = 0;
    std::ptrdiff_t row_stride = 0;
    std::ptrdiff_t col_stride = 1;

    const T& operator()(std::size_t i, std::size_t j) const {
        return data[static_cast<std::ptrdiff_t>(i) * row_stride +
                    static_cast<std::ptrdiff_t>(j) * col_stride];
    }
    View1<T> row(std::size_t i,
                 std::source_location where = std::source_location::current()) const {
        check(i < rows, "index < dim", where);
        return View1<T>{data + static_cast<std::ptrdiff_t>(i) * row_stride, cols, col_stride};
    }
};

// The step w[1] - w[0] of a frequency grid, sign kept. Every computation
// needs at least two grid points.
inline double grid_step(View1<double> w,
                        std::source_location where = std::source_location::current()) {
    if (w.size < 2) {
        fail("index out of bounds: the frequency grid w has " + std::to_string(w.size) +
                 (w.size == 1 ? " point" : " points") + " but at least 2 are needed",
             where);
    }
    return w[1] - w[0];
}

}  // namespace vexlume
