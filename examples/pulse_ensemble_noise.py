"""Quantum noise of a femtosecond pulse behind spectral filters.

An ensemble of 4000 realisations of a 100 fs sech² pulse at 1550 nm (2 pJ) is built on an
angular-frequency grid: every realisation is the same mean spectral field plus its own
shot noise, so the ensemble is exactly shot-noise limited. The ensemble is then sent
through a handful of spectral filters (super-Gaussian band-passes of 10, 3 and 1 nm, a
flat 50 % attenuator, a blocking filter); every filter lets in vacuum noise where it
removes light. For every filter the script prints

  * the mean pulse energy behind it,
  * the relative intensity noise RIN = σ_E / ⟨E⟩ and its ratio to the shot-noise limit,
  * the timing jitter (standard deviation of the temporal centre of gravity) in fs and
    its ratio to the quantum limit,

and draws the same in a PNG. Ratios near 1 say the filtered light is still shot-noise
limited: a filter removes photons, but the vacuum it lets in keeps the noise at exactly
the shot-noise level of what is left.

Conventions (those of _lib_vexlume):
  * w is angular frequency in rad/s on a uniform grid with step dw > 0;
  * a spectral field s carries the energy E = Σ |s_k|² dw (joules);
  * the shot noise of a grid point has modulus sqrt(ħ |w_k| / (2 dw)) and a random phase;
  * a mask is an amplitude transmission m: the field passes with m, vacuum with sqrt(1 - m²).

The shot noise of realisation r is seeded with r, so the ensemble is reproducible; the
vacuum the filters let in is drawn fresh on every run, so the filtered figures move within
their statistical error (about 1 % for 4000 realisations) from run to run.

Usage: python examples/pulse_ensemble_noise.py [output.png]
"""

import argparse
import math
import os
import time
from pathlib import Path

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import _lib_vexlume as vx  # noqa: E402

# Physical constants (SI). The module's vacuum amplitude uses ħ/2 = 5.272859085e-35 J s.
HBAR = 2 * 5.272859085e-35            # J s
SPEED_OF_LIGHT = 299_792_458.0        # m/s

# The pulse.
CENTRE_WAVELENGTH = 1550e-9           # m
PULSE_FWHM = 100e-15                  # s, full width at half maximum of the sech² intensity
PULSE_ENERGY = 2e-12                  # J

# The ensemble and the grid. The grid spans about 200 nm around 1550 nm: wide enough for
# the pulse's spectrum (about 25 nm FWHM) to fall to 1e-6 of its peak power at the edges,
# and fine enough (dw = 7.8e10 rad/s) to resolve a 1 nm filter with ten points.
REALISATIONS = 4000
GRID_POINTS = 2048
GRID_SPAN = 1.6e14                    # rad/s

# Super-Gaussian band-passes: power transmission exp(-ln 2 (2 (λ - λc) / FWHM)^(2 order)).
BAND_PASS_ORDER = 2
BAND_PASS_WIDTHS = (10e-9, 3e-9, 1e-9)  # m, FWHM of the power transmission
ATTENUATOR_TRANSMISSION = 0.5         # power transmission of the flat attenuator

DEFAULT_OUTPUT = Path(__file__).resolve().parent / "output" / "pulse_ensemble_noise.png"


def frequency_grid():
    """Angular-frequency grid centred on the carrier, rising, in rad/s."""
    carrier = 2 * math.pi * SPEED_OF_LIGHT / CENTRE_WAVELENGTH
    step = GRID_SPAN / GRID_POINTS
    return carrier + (np.arange(GRID_POINTS) - GRID_POINTS // 2) * step


def mean_pulse_spectrum(w):
    """Spectral field of the noiseless sech² pulse, placed at the middle of the time window.

    The field sech(t/τ) has the spectrum sech(π τ (w - w0) / 2). The module takes a field
    to the time domain with an unnormalised inverse FFT and no shift, on a time axis whose
    origin is the middle of the trace. A flat spectral phase would put the pulse at
    sample 0, split across both ends of the trace; the linear phase (-1)^k delays it by
    half the window, to t = 0.
    """
    dw = w[1] - w[0]
    tau = PULSE_FWHM / (2 * math.acosh(math.sqrt(2)))
    amplitude = 1 / np.cosh(math.pi * tau * (w - w[GRID_POINTS // 2]) / 2)
    amplitude *= math.sqrt(PULSE_ENERGY / (np.sum(amplitude**2) * dw))
    return amplitude * (-1.0) ** np.arange(len(w))


def filters(w):
    """Amplitude masks, one row per filter, and their names."""
    wavelength = 2 * math.pi * SPEED_OF_LIGHT / w
    names, power_transmissions = [], []
    for width in BAND_PASS_WIDTHS:
        x = 2 * (wavelength - CENTRE_WAVELENGTH) / width
        names.append(f"band-pass {width * 1e9:g} nm")
        power_transmissions.append(np.exp(-math.log(2) * x ** (2 * BAND_PASS_ORDER)))
    names.append(f"attenuator {ATTENUATOR_TRANSMISSION:.0%}")
    power_transmissions.append(np.full(len(w), ATTENUATOR_TRANSMISSION))
    names.append("blocking")
    power_transmissions.append(np.zeros(len(w)))
    # the module wants amplitude transmissions
    return names, np.sqrt(np.array(power_transmissions))


def shot_noise_ensemble(mean_field, w):
    """REALISATIONS rows: the mean field plus shot noise seeded with the row index."""
    ensemble = np.empty((REALISATIONS, len(w)), dtype=np.complex128)
    for r in range(REALISATIONS):
        ensemble[r] = mean_field + vx.shot_noise(w, "variable_phase_only", seed=r)
    return ensemble


def shot_noise_rin(mean_field, mask, w, mean_energy):
    """RIN of a shot-noise-limited field behind a mask.

    Behind the mask the field is m s̄ + n, where n (the ensemble's shot noise times m plus
    the vacuum let in times sqrt(1 - m²)) has modulus² a² = ħ|w|/(2 dw) on average at
    every point. The energy fluctuates through the beat term 2 Re(m s̄* n) dw; with a
    uniform random phase Re(z e^{iφ}) has variance |z|²/2, so each point adds
    4 · m²|s̄|² · a²/2 · dw² = ħ m²|s̄|² |w| dw, and the points are independent:
        Var(E) = ħ Σ m² |s̄|² |w| dw.
    (The noise-by-noise term is smaller by the ratio of vacuum to pulse energy.)
    """
    dw = w[1] - w[0]
    variance = HBAR * np.sum(mask**2 * np.abs(mean_field) ** 2 * np.abs(w)) * dw
    return math.sqrt(variance) / mean_energy


def quantum_limited_jitter(mean_field, mask, w):
    """Standard deviation of the centre of gravity expected from vacuum noise alone, in s.

    The module's centre is C = Σ t_k I_k / Σ I_k over the inverse FFT of the field, with
    t_k = (k - L/2) dt. The noise adds to the mean trace x̄ a nearly white complex noise
    δx of power σ² = Σ ħ|w|/(2 dw) per sample (whatever the mask: m² a² + (1 - m²) a² = a²).
    To first order δC = Σ (t_k - C̄) δI_k / D, with D the mean of Σ I_k, and
        * the beat of the pulse with the noise, δI = 2 Re(x̄* δx): variance 2 σ² |x̄|²;
        * the noise with itself, |δx|² exponentially distributed: variance σ⁴.
    The first is the familiar τ_rms / sqrt(photon number); the second is the vacuum
    spread over the whole time window, which a centre of gravity taken over the whole
    trace also picks up (it grows with the window and is all there is behind a
    blocking filter).
    """
    points = len(w)
    dw = w[1] - w[0]
    dt = 2 * math.pi / (points * dw)
    trace = np.fft.ifft(mask * mean_field, norm="forward")
    intensity = np.abs(trace) ** 2
    sigma2 = np.sum(HBAR * np.abs(w) / (2 * dw))
    times = (np.arange(points) - points * 0.5) * dt
    denominator = intensity.sum() + points * sigma2
    centre = (np.sum(times * intensity) + np.sum(times) * sigma2) / denominator
    offsets2 = (times - centre) ** 2
    variance = (2 * sigma2 * np.sum(offsets2 * intensity) + sigma2**2 * np.sum(offsets2))
    return math.sqrt(variance) / denominator


def format_energy(joules):
    for unit, scale in (("nJ", 1e-9), ("pJ", 1e-12), ("fJ", 1e-15), ("aJ", 1e-18)):
        if abs(joules) >= scale:
            return f"{joules / scale:#.4g} {unit}"
    return f"{joules:10.3e} J"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", nargs="?", type=Path, default=DEFAULT_OUTPUT,
                        help=f"PNG to write (default: {DEFAULT_OUTPUT})")
    output = parser.parse_args().output

    started = time.perf_counter()
    w = frequency_grid()
    dw = w[1] - w[0]
    dt = 2 * math.pi / (GRID_POINTS * dw)
    mean_field = mean_pulse_spectrum(w)
    names, masks = filters(w)
    ensemble = shot_noise_ensemble(mean_field, w)

    # Row 0 is the ensemble as it is (its own shot noise, no filter); row j + 1 is the
    # ensemble behind mask j with the vacuum noise that mask lets in.
    energies, _ = vx.noise_signal(ensemble, w, masks)
    centres, _ = vx.jitter_signal(ensemble, w, masks)
    # The centres come back in seconds: the module's time axis is t_k = (k - L/2) dt with
    # dt = 2π / (L dw), so with w in rad/s they need no further scaling.

    all_names = ["unfiltered"] + names
    all_masks = np.vstack([np.ones(GRID_POINTS), masks])
    vacuum_energy = np.sum(HBAR * np.abs(w) / 2)  # every point carries |n|² dw = ħ|w|/2
    rows = []
    for name, mask, energy, centre in zip(all_names, all_masks, energies, centres):
        mean_energy = energy.mean()
        rin = energy.std() / mean_energy
        # Pure vacuum (blocking filter) has a fixed energy: no beat term, no RIN to speak of.
        passed = np.sum(mask**2 * np.abs(mean_field) ** 2) * dw
        rin_limit = shot_noise_rin(mean_field, mask, w, mean_energy) if passed > 0 else 0.0
        rows.append(dict(name=name, mask=mask, mean_energy=mean_energy, rin=rin,
                         rin_limit=rin_limit, jitter=centre.std(),
                         jitter_limit=quantum_limited_jitter(mean_field, mask, w),
                         mean_centre=centre.mean()))

    print(f"{REALISATIONS} realisations of a {PULSE_FWHM * 1e15:g} fs sech² pulse, "
          f"{PULSE_ENERGY * 1e12:g} pJ at {CENTRE_WAVELENGTH * 1e9:g} nm;\n"
          f"{GRID_POINTS} points, dw = {dw:.3g} rad/s, dt = {dt * 1e15:.1f} fs, "
          f"time window {GRID_POINTS * dt * 1e12:.1f} ps; "
          f"{len(os.sched_getaffinity(0))} CPUs")
    print()
    header = (f"{'filter':<17} {'mean energy':>11} {'RIN':>10} {'RIN (SNL)':>10} "
              f"{'RIN/SNL':>7} {'jitter [fs]':>11} {'limit [fs]':>10} {'ratio':>6}")
    print(header)
    print("-" * len(header))
    for row in rows:
        if row["rin_limit"] > 0:
            rin = f"{row['rin']:10.3e} {row['rin_limit']:10.3e} {row['rin'] / row['rin_limit']:7.3f}"
        else:
            rin = f"{'—':>10} {'—':>10} {'—':>7}"
        print(f"{row['name']:<17} {format_energy(row['mean_energy']):>11} {rin} "
              f"{row['jitter'] * 1e15:11.4f} {row['jitter_limit'] * 1e15:10.4f} "
              f"{row['jitter'] / row['jitter_limit']:6.3f}")
    print()
    print(f"Statistical error of each ratio: about {1 / math.sqrt(2 * REALISATIONS):.1%}.")
    blocked = rows[-1]
    print(f"Blocking filter: only vacuum passes, and its energy is the same for every realisation:\n"
          f"  {format_energy(blocked['mean_energy'])} measured, Σ ħ|w|/2 = {format_energy(vacuum_energy)},"
          f" σ_E/⟨E⟩ = {blocked['rin']:.1e} (rounding);\n"
          f"  its 'jitter' is the centre of gravity of vacuum noise spread over the whole window.")
    print(f"Mean centre of the unfiltered pulse: {rows[0]['mean_centre'] * 1e15:.3f} fs.")

    output.parent.mkdir(parents=True, exist_ok=True)
    plot(w, mean_field, rows, output)
    print(f"\nFigure written to {output}")
    print(f"Done in {time.perf_counter() - started:.1f} s.")


def plot(w, mean_field, rows, output):
    wavelength_nm = 2 * math.pi * SPEED_OF_LIGHT / w * 1e9
    power = np.abs(mean_field) ** 2
    filtered = rows[1:]
    colours = plt.rcParams["axes.prop_cycle"].by_key()["color"]

    figure, (spectrum_axes, rin_axes, jitter_axes) = plt.subplots(
        3, 1, figsize=(8, 10), gridspec_kw=dict(height_ratios=[1.3, 1, 1]))

    spectrum_axes.fill_between(wavelength_nm, power / power.max(), color="0.85",
                               label="mean spectrum (normalised)")
    for colour, row in zip(colours, filtered):
        spectrum_axes.plot(wavelength_nm, row["mask"] ** 2, color=colour, label=row["name"])
    spectrum_axes.set_xlim(1500, 1600)
    spectrum_axes.set_ylim(-0.03, 1.08)
    spectrum_axes.set_xlabel("wavelength [nm]")
    spectrum_axes.set_ylabel("power / transmission")
    spectrum_axes.set_title(f"{PULSE_FWHM * 1e15:g} fs sech² pulse, {PULSE_ENERGY * 1e12:g} pJ, "
                            f"{REALISATIONS} realisations, and the filters")
    spectrum_axes.legend(fontsize=8, loc="upper right")

    positions = np.arange(len(rows))
    labels = [row["name"].replace(" ", "\n", 1) for row in rows[:-1]] + ["blocking\n(vacuum)"]
    for axes, key, limit_key, ylabel, limit_label in (
            (rin_axes, "rin", "rin_limit", "RIN  σ_E / ⟨E⟩", "shot-noise limit"),
            (jitter_axes, "jitter", "jitter_limit", "timing jitter [fs]", "quantum limit")):
        scale = 1e15 if key == "jitter" else 1.0
        measured = np.array([row[key] for row in rows]) * scale
        limit = np.array([row[limit_key] for row in rows]) * scale
        shown = limit > 0  # pure vacuum (blocking filter) has no RIN limit to compare with
        bar_colours = np.array(["0.5"] + colours[: len(filtered)], dtype=object)
        axes.bar(positions[shown], measured[shown], width=0.6, color=list(bar_colours[shown]),
                 label="measured")
        axes.hlines(limit[shown], positions[shown] - 0.38, positions[shown] + 0.38,
                    color="black", linewidth=2, label=limit_label)
        for x, value, limit_value in zip(positions[shown], measured[shown], limit[shown]):
            axes.annotate(f"×{value / limit_value:.2f}", (x, max(value, limit_value)),
                          textcoords="offset points", xytext=(0, 4), ha="center", fontsize=8)
        for x in positions[~shown]:
            axes.annotate("vacuum only:\nthe same energy\nevery time", (x, 0.5),
                          xycoords=("data", "axes fraction"), ha="center", va="center",
                          fontsize=8, color="0.4")
        axes.set_yscale("log")
        axes.set_ylim(measured[shown].min() / 3, measured[shown].max() * 3)
        axes.set_xticks(positions, labels, fontsize=8)
        axes.set_ylabel(ylabel)
        axes.legend(fontsize=8, loc="upper left")
    rin_axes.set_title("relative intensity noise per filter")
    jitter_axes.set_title("timing jitter (std of the centre of gravity) per filter")

    figure.tight_layout()
    figure.savefig(output, dpi=120)
    plt.close(figure)


if __name__ == "__main__":
    main()
