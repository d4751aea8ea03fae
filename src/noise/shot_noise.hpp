// Shot-noise fields on a frequency grid.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/buffer.hpp"
#include "core/view.hpp"
#include "noise/rng.hpp"

namespace vexlume {

// Half the reduced Planck constant in J s: the energy of half a photon per
// unit of angular frequency.
inline constexpr double half_hbar = 5.272859085e-35;

enum class ShotNoiseKind { VariablePhaseOnly, ConstantPhaseOnly, VariableBoth, ConstantBoth };

// The kind named exactly (byte for byte) by `name`, if any.
std::optional<ShotNoiseKind> shot_noise_kind_from_name(std::string_view name);

// a(x) = sqrt((|x| / dw) * half_hbar), in exactly this order of operations.
inline double shot_noise_amplitude(double x, double dw) {
    return std::sqrt((std::fabs(x) / dw) * half_hbar);
}

// One value per grid point. Points are visited in index order, or in memory
// order when the grid runs backwards through contiguous memory (stride -1);
// the result then runs backwards too, so logical index i is grid point i.
OwnedArray<Complex> shot_noise_field(View1<double> w, double dw, ShotNoiseKind kind,
                                     NoiseRng rng);

// The whole computation behind the Python function: grid check, step,
// generator (seeded, or from entropy when `seed` is empty), field.
OwnedArray<Complex> shot_noise(View1<double> w, ShotNoiseKind kind,
                               std::optional<std::uint64_t> seed);

}  // namespace vexlume
