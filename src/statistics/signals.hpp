// Ensemble statistics behind noise_signal and jitter_signal.
#pragma once

#include "core/buffer.hpp"
#include "core/view.hpp"

namespace vexlume {

// The two results of both signal functions: the statistic matrix,
// (M + 1) x N with the unfiltered row first, and one example field per mask,
// M x L, both C order.
struct SignalResults {
    OwnedArray<double> statistics;
    OwnedArray<Complex> examples;
};

// Energies: row 0 unfiltered, row j + 1 behind mask j with its vacuum noise.
SignalResults energy_signals(View2<Complex> spectra, View1<double> w, View2<double> masks);

// Temporal centres of gravity after an unnormalised inverse FFT; the example
// fields are in the time domain.
SignalResults jitter_signals(View2<Complex> spectra, View1<double> w, View2<double> masks);

}  // namespace vexlume
