"""noise_signal and jitter_signal: shapes, order of failures, physics."""

import numpy as np
import pytest

import _lib_vexlume as vx

HBAR = 2 * 5.272859085e-35
SIGNALS = [vx.noise_signal, vx.jitter_signal]


def grid(points, start=1.2e15, stop=1.3e15):
    return np.linspace(start, stop, points)


def internal_error_message(call):
    with pytest.raises(BaseException) as caught:
        call()
    assert type(caught.value).__name__ == "InternalError"
    return str(caught.value)


@pytest.mark.parametrize("signal", SIGNALS)
@pytest.mark.parametrize("n, m, p", [(3, 0, 8), (3, 1, 8), (1, 2, 5), (4, 3, 7)])
def test_result_shapes_and_layouts(signal, n, m, p):
    spectra = np.ones((n, p), complex)
    statistics, examples = signal(spectra, grid(p), np.full((m, p), 0.5))
    assert statistics.shape == (m + 1, n) and statistics.dtype == np.float64
    assert examples.shape == (m, p) and examples.dtype == np.complex128
    for array in (statistics, examples):
        assert array.flags.c_contiguous and array.flags.writeable and not array.flags.owndata


@pytest.mark.parametrize("signal", SIGNALS)
def test_without_masks_lengths_need_not_agree(signal):
    spectra = np.ones((2, 6), complex)
    statistics, examples = signal(spectra, grid(3), np.zeros((0, 11)))
    assert statistics.shape == (1, 2) and examples.shape == (0, 3)


@pytest.mark.parametrize("signal", SIGNALS)
@pytest.mark.parametrize("masks", [np.ones((0, 4)), np.ones((3, 4))])
def test_empty_ensemble_fails_at_the_example_spectrum(signal, masks):
    message = internal_error_message(lambda: signal(np.ones((0, 4), complex), grid(4), masks))
    assert message == "assertion failed: index < dim"


@pytest.mark.parametrize("signal", SIGNALS)
@pytest.mark.parametrize("w", [np.zeros(0), np.array([1.0])])
def test_short_grid_is_index_out_of_bounds(signal, w):
    message = internal_error_message(lambda: signal(np.ones((2, 4), complex), w, np.ones((0, 4))))
    assert message.startswith("index out of bounds")


def test_short_grid_precedence_differs_between_the_signals():
    # the energies check the grid per row, so an empty ensemble reaches row 0 first;
    # the centres check the grid before they take the example spectrum
    empty = np.ones((0, 4), complex)
    assert internal_error_message(lambda: vx.noise_signal(empty, np.ones(1), np.ones((0, 4)))) \
        == "assertion failed: index < dim"
    assert internal_error_message(
        lambda: vx.jitter_signal(empty, np.ones(1), np.ones((0, 4)))).startswith("index out of bounds")


@pytest.mark.parametrize("signal", SIGNALS)
@pytest.mark.parametrize("p, q, l", [(5, 4, 4), (4, 5, 4), (4, 4, 5)])
def test_length_mismatch_fails_at_the_first_mask(signal, p, q, l):
    message = internal_error_message(
        lambda: signal(np.ones((2, p), complex), grid(l), np.ones((2, q))))
    assert message == "assertion failed: part.equal_dim(dimension)"


def test_unfiltered_energy_is_the_plain_sum():
    rng = np.random.default_rng(1)
    spectra = rng.normal(size=(5, 9)) + 1j * rng.normal(size=(5, 9))
    w = grid(9)
    energies, _ = vx.noise_signal(spectra, w, np.ones((0, 9)))
    expected = (np.abs(spectra) ** 2).sum(axis=1) * (w[1] - w[0])
    assert np.allclose(energies[0], expected, rtol=1e-13, atol=0)
    falling, _ = vx.noise_signal(spectra, w[::-1].copy(), np.ones((0, 9)))
    assert np.allclose(falling[0], -expected, rtol=1e-13, atol=0)


def test_mask_of_ones_adds_nothing_and_mask_of_zeros_is_vacuum():
    rng = np.random.default_rng(2)
    w = grid(32)
    spectra = (rng.normal(size=(6, 32)) + 1j * rng.normal(size=(6, 32))) * 1e-8
    masks = np.stack([np.ones(32), np.zeros(32)])
    energies, examples = vx.noise_signal(spectra, w, masks)
    assert np.allclose(energies[1], energies[0], rtol=1e-13, atol=0)
    assert np.array_equal(examples[0], spectra[0])
    vacuum = np.sum(HBAR / 2 * np.abs(w))
    assert np.allclose(energies[2], vacuum, rtol=1e-12, atol=0)
    centres, time_examples = vx.jitter_signal(spectra, w, masks)
    assert np.array_equal(centres[1], centres[0])
    assert np.allclose(time_examples[0], np.fft.ifft(spectra[0]) * 32, rtol=1e-12, atol=1e-20)
    assert len(set(centres[2])) > 1


def test_noisy_rows_differ_between_calls_but_row_zero_does_not():
    w = grid(16)
    spectra = np.ones((4, 16), complex) * 1e-9
    masks = np.full((2, 16), 0.5)
    for signal in SIGNALS:
        first, first_examples = signal(spectra, w, masks)
        second, second_examples = signal(spectra, w, masks)
        assert np.array_equal(first[0], second[0])
        assert not np.array_equal(first[1:], second[1:])
        assert not np.array_equal(first_examples, second_examples)


def test_shot_noise_limited_ensemble_behind_any_filter():
    """Mean field plus shot noise per realisation: the energy variance behind
    mask m is hbar * sum(m^2 |mean|^2 |w|) * dw."""
    points, realisations = 48, 3000
    w = grid(points)
    dw = w[1] - w[0]
    mean = 3e-8 * np.exp(-((w - w.mean()) / (0.2 * (w[-1] - w[0]))) ** 2).astype(complex)
    spectra = np.stack([mean + vx.shot_noise(w, None, seed) for seed in range(realisations)])
    masks = np.stack([
        np.ones(points),
        np.full(points, np.sqrt(0.5)),
        np.where(np.abs(w - w.mean()) < 0.1 * (w[-1] - w[0]), 1.0, 0.0),
        np.linspace(0.2, 0.9, points),
    ])
    energies, _ = vx.noise_signal(spectra, w, masks)
    for j, m in enumerate(masks):
        expected = HBAR * np.sum(m**2 * np.abs(mean) ** 2 * np.abs(w)) * dw
        measured = np.var(energies[j + 1], ddof=1)
        # relative standard error of a sample variance: sqrt(2 / (N - 1)) ~ 2.6 %
        assert abs(measured / expected - 1) < 0.15, (j, measured / expected)


def centre(spectra, w, masks=None):
    masks = np.zeros((0, spectra.shape[1])) if masks is None else masks
    return vx.jitter_signal(spectra, w, masks)[0]


def test_centre_of_gravity_of_simple_traces():
    p = 16
    w = grid(p)
    dt = 1.0 / (p * ((w[1] - w[0]) * 0.5 / np.pi))
    spectra = np.stack([
        np.ones(p, complex),                      # all intensity in sample 0
        np.tile([1.0, -1.0], p // 2).astype(complex),  # all intensity in sample p/2
        np.exp(-2j * np.pi * np.arange(p) * 3 / p),    # sample p - 3
        np.zeros(p, complex),
    ])
    centres = centre(spectra, w)[0]
    assert np.isclose(centres[0], -np.pi / (w[1] - w[0]), rtol=1e-12)
    assert np.isclose(centres[0], -(p * 0.5) * dt, rtol=1e-12)
    assert abs(centres[1]) < 1e-12 * abs(centres[0])
    assert np.isclose(centres[2], (p - 3) * dt - (p * 0.5) * dt, rtol=1e-12)
    assert np.isnan(centres[3])
    falling = centre(spectra[:3], w[::-1].copy())[0]
    assert np.allclose(falling, -centres[:3], rtol=1e-12, atol=1e-12 * abs(centres[0]))


def test_centre_takes_dt_from_the_grid_and_the_origin_from_the_row():
    p, l = 8, 5
    w = grid(l)
    dt = 1.0 / (l * ((w[1] - w[0]) * 0.5 / np.pi))
    result = centre(np.ones((1, p), complex), w)[0, 0]
    assert np.isclose(result, -(p * 0.5) * dt, rtol=1e-12)


def test_centre_handles_odd_and_prime_lengths():
    rng = np.random.default_rng(3)
    for p in (7, 13, 97, 100):
        w = grid(p)
        spectra = rng.normal(size=(4, p)) + 1j * rng.normal(size=(4, p))
        dt = 1.0 / (p * ((w[1] - w[0]) * 0.5 / np.pi))
        trace = np.fft.ifft(spectra, axis=1) * p
        intensity = np.abs(trace) ** 2
        t = np.arange(p) * dt - (p * 0.5) * dt
        expected = (intensity * t).sum(axis=1) / intensity.sum(axis=1)
        assert np.allclose(centre(spectra, w)[0], expected, rtol=1e-10, atol=1e-10 * dt)


def test_jitter_behind_a_filter_grows_with_the_noise_it_admits():
    points, realisations = 64, 400
    w = grid(points)
    mean = 1e-9 * np.exp(-((w - w.mean()) / (0.15 * (w[-1] - w[0]))) ** 2).astype(complex)
    spectra = np.stack([mean + vx.shot_noise(w, None, None) for _ in range(realisations)])
    masks = np.stack([np.ones(points), np.full(points, 0.3)])
    centres, _ = vx.jitter_signal(spectra, w, masks)
    assert np.array_equal(centres[1], centres[0])
    assert np.std(centres[2]) > np.std(centres[0])


@pytest.mark.parametrize("signal", SIGNALS)
def test_falling_grid_makes_noisy_rows_nan(signal):
    w = grid(8)[::-1].copy()
    statistics, examples = signal(np.ones((3, 8), complex), w, np.full((2, 8), 0.5))
    assert np.all(np.isfinite(statistics[0]))
    assert np.all(np.isnan(statistics[1:]))
    assert np.all(np.isnan(examples))


@pytest.mark.parametrize("signal", SIGNALS)
def test_out_of_range_mask_value_makes_the_row_nan(signal):
    masks = np.ones((2, 8))
    masks[1, 4] = 1.01
    statistics, _ = signal(np.ones((3, 8), complex), grid(8), masks)
    assert np.all(np.isfinite(statistics[:2])) and np.all(np.isnan(statistics[2]))
