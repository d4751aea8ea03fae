#include "noise/mask_noise.hpp"

#include <utility>

#include "noise/shot_noise.hpp"

namespace vexlume {

OwnedArray<Complex> vacuum_noise_field(View1<double> w) {
    // Seeding comes before the grid check: an entropy failure wins over a
    // short grid.
    NoiseRng rng = NoiseRng::from_entropy();
    const double dw = grid_step(w);
    return shot_noise_field(w, dw, ShotNoiseKind::VariablePhaseOnly, std::move(rng));
}

OwnedArray<Complex> mask_noise(View1<double> w, View1<Complex> spectrum, View1<double> mask) {
    const OwnedArray<Complex> noise = vacuum_noise_field(w);
    const View1<Complex> nu = noise.view();
    check(spectrum.size == nu.size, shape_mismatch);
    check(mask.size == nu.size, shape_mismatch);

    Buffer<Complex> result = Buffer<Complex>::uninitialized(nu.size);
    Complex* out = result.data();
    for (std::size_t i = 0; i < nu.size; ++i) {
        out[i] = mask_combine(nu[i], mask[i], spectrum[i]);
    }
    return OwnedArray<Complex>::vector(std::move(result));
}

}  // namespace vexlume
