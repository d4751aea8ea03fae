#include "statistics/signals.hpp"

#include <algorithm>
#include <cstddef>
#include <numbers>
#include <utility>

#include "noise/mask_noise.hpp"
#include "statistics/center_of_gravity.hpp"
#include "statistics/inverse_fft.hpp"
#include "statistics/progress_bar.hpp"
#include "statistics/reduce.hpp"

namespace vexlume {

namespace {

// The per-point loops of both signals live here, one function each, so that
// they can be vectorised without touching the drivers below.

double unmasked_energy(View1<Complex> row, double dw) {
    double energy = 0.0;
    for (std::size_t k = 0; k < row.size; ++k) {
        const Complex& e = row[k];
        energy += (e.re * e.re + e.im * e.im) * dw;
    }
    return energy;
}

// The energy of the filtered, noisy field, formed point by point and never
// stored; the shortest of the three operands ends the sum.
double masked_energy(View1<Complex> row, View1<double> mask, View1<Complex> noise, double dw) {
    const std::size_t points = std::min({row.size, mask.size, noise.size});
    double energy = 0.0;
    for (std::size_t k = 0; k < points; ++k) {
        const Complex f = mask_combine(noise[k], mask[k], row[k]);
        energy += (f.re * f.re + f.im * f.im) * dw;
    }
    return energy;
}

void copy_into(Complex* target, View1<Complex> source) {
    for (std::size_t k = 0; k < source.size; ++k) target[k] = source[k];
}

// The filtered, noisy field: what mask_noise returns for the same noise.
void combine_into(Complex* target, View1<Complex> row, View1<double> mask, View1<Complex> noise) {
    for (std::size_t k = 0; k < row.size; ++k) target[k] = mask_combine(noise[k], mask[k], row[k]);
}

// Row k of a statistic matrix as the contiguous output of one reduction.
double* statistic_row(OwnedArray<double>& matrix, std::size_t k) {
    if (matrix.ndim != 2 || (matrix.strides[1] != 1 && matrix.extents[1] > 1)) {
        fail(k == 0 ? "new array should be aligned" : "brand new array should be aligned");
    }
    return matrix.row(k);
}

// One filtered, noisy example of the example spectrum behind `mask`, stored
// in row j of the example fields.
void store_example(OwnedArray<Complex>& examples, std::size_t j, View1<double> w,
                   View1<Complex> example_spectrum, View1<double> mask) {
    const OwnedArray<Complex> field = mask_noise(w, example_spectrum, mask);
    check(field.extents[0] == examples.extents[1], "example field length == len(w)");
    copy_into(examples.row(j), field.view());
}

}  // namespace

SignalResults energy_signals(View2<Complex> spectra, View1<double> w, View2<double> masks) {
    const std::size_t realisations = spectra.rows;
    const std::size_t mask_count = masks.rows;

    OwnedArray<double> energies = OwnedArray<double>::zero_matrix(mask_count + 1, realisations);

    // The grid is checked per row, so an empty ensemble passes this step and
    // fails at taking its first row below.
    const auto unmasked = [w](View1<Complex> row) { return unmasked_energy(row, grid_step(w)); };
    complex_reduce_inplace(spectra, statistic_row(energies, 0), realisations, unmasked);

    const View1<Complex> example_spectrum = spectra.row(0);
    ProgressBar bar = ProgressBar::counting(mask_count);
    OwnedArray<Complex> examples = OwnedArray<Complex>::zero_matrix(mask_count, w.size);

    for (std::size_t j = 0; j < mask_count; ++j) {
        const View1<double> mask = masks.row(j);
        store_example(examples, j, w, example_spectrum, mask);

        const auto masked = [w, mask](View1<Complex> row) {
            const OwnedArray<Complex> noise = vacuum_noise_field(w);
            return masked_energy(row, mask, noise.view(), grid_step(w));
        };
        complex_reduce_inplace(spectra, statistic_row(energies, j + 1), realisations, masked);
        bar.advance(1);
    }
    bar.finish();
    return SignalResults{std::move(energies), std::move(examples)};
}

SignalResults jitter_signals(View2<Complex> spectra, View1<double> w, View2<double> masks) {
    const std::size_t realisations = spectra.rows;
    const std::size_t points = spectra.cols;
    const std::size_t mask_count = masks.rows;

    OwnedArray<double> centres = OwnedArray<double>::zero_matrix(mask_count + 1, realisations);
    const InverseFft transform(points);

    const double step = grid_step(w);
    const double dt = 1.0 / (static_cast<double>(w.size) * (step * 0.5 / std::numbers::pi));

    const View1<Complex> example_spectrum = spectra.row(0);
    ProgressBar bar = ProgressBar::counting(mask_count);
    bar.set_prefix("jitter");

    const auto unmasked = [&transform, dt](View1<Complex> row) {
        FftwBuffer trace(row.size);
        copy_into(trace.data(), row);
        transform.execute(trace);
        return _center_of_gravity(trace.view(), dt);
    };
    complex_reduce_inplace(spectra, statistic_row(centres, 0), realisations, unmasked);

    OwnedArray<Complex> examples = OwnedArray<Complex>::zero_matrix(mask_count, w.size);

    for (std::size_t j = 0; j < mask_count; ++j) {
        const View1<double> mask = masks.row(j);
        store_example(examples, j, w, example_spectrum, mask);
        {
            // Our own rows carry no alignment promise to FFTW: transform a copy.
            FftwBuffer scratch(w.size);
            copy_into(scratch.data(), View1<Complex>{examples.row(j), w.size, 1});
            transform.execute(scratch);
            std::copy_n(scratch.data(), w.size, examples.row(j));
        }

        const auto masked = [&transform, dt, w, mask](View1<Complex> row) {
            const OwnedArray<Complex> noise = vacuum_noise_field(w);
            if (row.size != mask.size || mask.size != noise.extents[0]) check(false, shape_mismatch);
            FftwBuffer filtered(row.size);
            combine_into(filtered.data(), row, mask, noise.view());
            transform.execute(filtered);
            return _center_of_gravity(filtered.view(), dt);
        };
        complex_reduce_inplace(spectra, statistic_row(centres, j + 1), realisations, masked);
        bar.advance(1);
    }
    bar.finish();
    return SignalResults{std::move(centres), std::move(examples)};
}

}  // namespace vexlume
