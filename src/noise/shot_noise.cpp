#include "noise/shot_noise.hpp"

#include <cmath>
#include <utility>

namespace vexlume {

std::optional<ShotNoiseKind> shot_noise_kind_from_name(std::string_view name) {
    // "phse" is the published spelling of that kind's name; callers depend on it.
    if (name == "variable_phase_only") return ShotNoiseKind::VariablePhaseOnly;
    if (name == "constant_phse_only") return ShotNoiseKind::ConstantPhaseOnly;
    if (name == "variable_both") return ShotNoiseKind::VariableBoth;
    if (name == "constant_both") return ShotNoiseKind::ConstantBoth;
    return std::nullopt;
}

OwnedArray<Complex> shot_noise_field(View1<double> w, double dw, ShotNoiseKind kind,
                                     NoiseRng rng) {
    const std::size_t n = w.size;
    // A grid running backwards through contiguous memory is walked in memory
    // order, and the result is laid out backwards the same way, so that
    // `points[j]` and `values[j]` always share a memory position.
    const bool backwards = w.stride == -1 && n > 1;
    const View1<double> points =
        backwards ? View1<double>{w.data - static_cast<std::ptrdiff_t>(n - 1), n, 1} : w;

    const bool variable = kind == ShotNoiseKind::VariablePhaseOnly ||
                          kind == ShotNoiseKind::VariableBoth;
    const bool gaussian = kind == ShotNoiseKind::VariableBoth ||
                          kind == ShotNoiseKind::ConstantBoth;
    const double constant_amplitude = n == 0 ? 0.0 : shot_noise_amplitude(w[0], dw);

    Buffer<Complex> values = Buffer<Complex>::uninitialized(n);
    Complex* out = values.data();
    for (std::size_t j = 0; j < n; ++j) {
        const double a = variable ? shot_noise_amplitude(points[j], dw) : constant_amplitude;
        if (gaussian) {
            const double re = rng.normal_deviate();
            const double im = rng.normal_deviate();
            out[j] = Complex{re * a, im * a};
        } else {
            // The full complex product (a + 0i)(cos + i sin): the zero terms are
            // kept so that an infinite or NaN amplitude propagates as it does
            // in complex multiplication.
            const double phi = rng.phase();
            const double c = std::cos(phi);
            const double s = std::sin(phi);
            out[j] = Complex{a * c - 0.0 * s, 0.0 * c + a * s};
        }
    }
    return backwards ? OwnedArray<Complex>::reversed_vector(std::move(values))
                     : OwnedArray<Complex>::vector(std::move(values));
}

OwnedArray<Complex> shot_noise(View1<double> w, ShotNoiseKind kind,
                               std::optional<std::uint64_t> seed) {
    const double dw = grid_step(w);
    NoiseRng rng = seed ? NoiseRng::with_seed(*seed) : NoiseRng::from_entropy();
    return shot_noise_field(w, dw, kind, std::move(rng));
}

}  // namespace vexlume
