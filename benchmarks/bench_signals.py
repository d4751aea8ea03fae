"""Speed of noise_signal and jitter_signal against the same computation in NumPy.

For each case (realisations × grid points × masks) both functions are timed in
_lib_vexlume and in a vectorised NumPy reference that does the same work: row 0 is the
energy Σ |s|² dw (or the centre of gravity of the unnormalised inverse FFT) of every
realisation; row j + 1 is the same after F = sqrt(1 - m²) ν + m s with fresh vacuum
noise ν of modulus sqrt(ħ |w| / (2 dw)) and a uniform random phase, drawn per
realisation and mask. The reference uses NumPy's default generator and SciPy's FFT
(on all allowed cores) when SciPy is installed, NumPy's FFT otherwise, and works on
chunks of realisations to bound its memory.

Before timing, row 0 of both implementations is compared (it involves no randomness),
and the masked rows are compared in distribution (their means, in standard errors).

Every timing is the best of REPEATS runs. Ratio = NumPy time / vexlume time.

Usage: python benchmarks/bench_signals.py
"""

import math
import os
import platform
import time

import numpy as np

import _lib_vexlume as vx

try:
    import scipy.fft as scipy_fft
except ImportError:  # NumPy's FFT serves as well, on one core
    scipy_fft = None

HALF_HBAR = 5.272859085e-35  # J s, the module's vacuum amplitude constant
REPEATS = 3
CHUNK_ELEMENTS = 1 << 19     # grid points per chunk of the NumPy reference
CASES = [(2_000, 2_048, 8), (20_000, 64, 4)]  # realisations, grid points, masks


def processor_name():
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            for line in cpuinfo:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.machine()


def worker_threads():
    configured = os.environ.get("VEXLUME_NUM_THREADS")
    return int(configured) if configured else len(os.sched_getaffinity(0))


def inverse_fft(x):
    """Unnormalised inverse FFT along the last axis, no shift."""
    if scipy_fft is not None:
        return scipy_fft.ifft(x, axis=-1, norm="forward", workers=len(os.sched_getaffinity(0)))
    return np.fft.ifft(x, axis=-1, norm="forward")


def energies(fields, dw):
    return (fields.real**2 + fields.imag**2).sum(axis=1) * dw


def centres(fields, dt):
    intensity = np.abs(inverse_fft(fields)) ** 2
    points = fields.shape[1]
    times = np.arange(points) * dt - (points * 0.5) * dt
    return intensity @ times / intensity.sum(axis=1)


def numpy_signal(statistic, spectra, w, masks, rng):
    """The statistic matrix (M + 1) × N, computed chunk by chunk of realisations."""
    realisations, points = spectra.shape
    dw = w[1] - w[0]
    dt = 1 / (len(w) * (dw * 0.5 / math.pi))
    scale = dw if statistic is energies else dt
    amplitude = np.sqrt(np.abs(w) / dw * HALF_HBAR)
    transmitted = np.sqrt(1 - masks * masks)
    result = np.empty((len(masks) + 1, realisations))
    chunk = max(1, CHUNK_ELEMENTS // points)
    for start in range(0, realisations, chunk):
        block = spectra[start:start + chunk]
        result[0, start:start + chunk] = statistic(block, scale)
        for j, mask in enumerate(masks):
            phase = rng.random(block.shape) * (2 * math.pi)
            noise = amplitude * np.exp(1j * phase)
            filtered = transmitted[j] * noise + mask * block
            result[j + 1, start:start + chunk] = statistic(filtered, scale)
    return result


def problem(realisations, points, mask_count, rng):
    """A Gaussian pulse with shot noise on a grid around 1550 nm, and band-pass masks."""
    w = np.linspace(1.1e15, 1.33e15, points)
    dw = w[1] - w[0]
    centre = w[points // 2]
    mean = np.exp(-((w - centre) / (0.1 * (w[-1] - w[0]))) ** 2) * (-1.0) ** np.arange(points)
    mean *= math.sqrt(1e-12 / (np.sum(np.abs(mean) ** 2) * dw))  # 1 pJ
    amplitude = np.sqrt(np.abs(w) / dw * HALF_HBAR)
    spectra = mean + amplitude * np.exp(2j * math.pi * rng.random((realisations, points)))
    widths = np.geomspace(0.02, 0.5, mask_count) * (w[-1] - w[0])
    masks = np.exp(-(((w - centre) / widths[:, None]) ** 4))
    return spectra, w, masks


def best_time(function):
    best = math.inf
    for _ in range(REPEATS):
        started = time.perf_counter()
        function()
        best = min(best, time.perf_counter() - started)
    return best


def check_agreement(name, ours, reference, dt):
    tolerance = dict(rtol=1e-10, atol=0) if name == "noise_signal" else dict(rtol=0, atol=1e-9 * abs(dt))
    if not np.allclose(ours[0], reference[0], **tolerance):
        raise SystemExit(f"{name}: row 0 differs between vexlume and NumPy")
    # masked rows are random; their means must agree within their statistical error
    standard_error = np.hypot(ours[1:].std(axis=1), reference[1:].std(axis=1)) / math.sqrt(ours.shape[1])
    difference = np.abs(ours[1:].mean(axis=1) - reference[1:].mean(axis=1))
    return float(np.max(difference / np.where(standard_error > 0, standard_error, 1)))


def main():
    started = time.perf_counter()
    rng = np.random.default_rng(2024)
    fft_name = "scipy.fft" if scipy_fft is not None else "numpy.fft"
    print(f"vexlume worker threads: {worker_threads()}; CPUs allowed: {len(os.sched_getaffinity(0))};"
          f" {processor_name()}")
    print(f"NumPy {np.__version__}, reference FFT: {fft_name}; best of {REPEATS} runs each\n")

    header = (f"{'function':<14} {'realisations × points × masks':>30} {'vexlume [s]':>12} "
              f"{'NumPy [s]':>10} {'NumPy/vexlume':>14} {'masked Δ/σ':>11}")
    print(header)
    print("-" * len(header))
    for realisations, points, mask_count in CASES:
        spectra, w, masks = problem(realisations, points, mask_count, rng)
        dt = 1 / (len(w) * ((w[1] - w[0]) * 0.5 / math.pi))
        for name, function, statistic in (("noise_signal", vx.noise_signal, energies),
                                          ("jitter_signal", vx.jitter_signal, centres)):
            ours = function(spectra, w, masks)[0]
            reference = numpy_signal(statistic, spectra, w, masks, rng)
            deviation = check_agreement(name, ours, reference, dt)
            ours_time = best_time(lambda: function(spectra, w, masks))
            numpy_time = best_time(lambda: numpy_signal(statistic, spectra, w, masks, rng))
            size = f"{realisations:,} × {points:,} × {mask_count}"
            print(f"{name:<14} {size:>30} {ours_time:12.3f} {numpy_time:10.3f} "
                  f"{numpy_time / ours_time:14.2f} {deviation:11.1f}")
    print("\nRow 0 (no randomness) agrees with NumPy in every case. Masked Δ/σ: the largest")
    print("difference between the two implementations' mean of a masked row, in standard errors")
    print("(random rows; values up to about 3 are expected).")
    print(f"Total run time {time.perf_counter() - started:.0f} s.")


if __name__ == "__main__":
    main()
