#include "statistics/center_of_gravity.hpp"

#include "core/buffer.hpp"

namespace vexlume {

double _center_of_gravity(View1<Complex> trace, double dt) {
    const std::size_t n = trace.size;
    Buffer<double> intensity = Buffer<double>::uninitialized(n);
    for (std::size_t k = 0; k < n; ++k) {
        const Complex& x = trace[k];
        intensity[k] = x.re * x.re + x.im * x.im;
    }

    const double origin = (static_cast<double>(n) * 0.5) * dt;
    // The weighted sum keeps one accumulator in sample order, so its rounding
    // is fixed; the plain sum below may be split into lanes when vectorised.
    double weighted = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        weighted += (static_cast<double>(k) * dt - origin) * intensity[k];
    }

    double total = 0.0;
    for (std::size_t k = 0; k < n; ++k) total += intensity[k];

    return weighted / total;
}

}  // namespace vexlume
