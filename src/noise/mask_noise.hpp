// The vacuum noise a lossy spectral mask lets in.
//
// A mask value m is an amplitude transmission: the field passes with factor
// m and a fresh noise field enters with factor sqrt(1 - m*m).
#pragma once

#include <cmath>

#include "core/buffer.hpp"
#include "core/view.hpp"

namespace vexlume {

// The noise of one filtering: a generator seeded from the operating system
// (before any check), then a variable-amplitude, random-phase shot-noise field
// over the grid. Safe to call from many threads at once.
OwnedArray<Complex> vacuum_noise_field(View1<double> w);

// The mask combination rule, in its exact order of operations.
inline Complex mask_combine(Complex noise, double m, Complex s) {
    const double c = std::sqrt(1.0 - m * m);
    return Complex{c * noise.re + m * s.re, c * noise.im + m * s.im};
}

// The message of a length mismatch between spectrum, mask and noise field.
inline constexpr const char* shape_mismatch = "part.equal_dim(dimension)";

// One spectrum through one mask with fresh vacuum noise; the noise is drawn
// before the lengths are compared. The result is contiguous.
OwnedArray<Complex> mask_noise(View1<double> w, View1<Complex> spectrum, View1<double> mask);

}  // namespace vexlume
