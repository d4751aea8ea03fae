"""One spectrum through one mask, with the vacuum noise the mask admits."""

import numpy as np
import pytest

import _lib_vexlume as vx
import noise_model as model

W = np.linspace(1.0e15, 1.5e15, 16)
DW = W[1] - W[0]
AMPLITUDE = np.sqrt(np.abs(W) / DW * model.HALF_HBAR)
SPECTRUM = (np.cos(np.arange(16)) + 1j * np.sin(np.arange(16) * 0.3)) * AMPLITUDE * 50


def internal_error_message(call):
    with pytest.raises(BaseException) as caught:
        call()
    assert type(caught.value).__name__ == "InternalError"
    return str(caught.value)


def test_mask_values_pass_the_field_and_admit_noise():
    assert np.array_equal(vx.mask_noise(W, SPECTRUM, np.ones(16)), SPECTRUM)
    assert np.array_equal(vx.mask_noise(W, SPECTRUM, -np.ones(16)), -SPECTRUM)
    noise_only = vx.mask_noise(W, SPECTRUM, np.zeros(16))
    assert np.allclose(np.abs(noise_only), AMPLITUDE, rtol=1e-12, atol=0)
    mixed = vx.mask_noise(W, SPECTRUM, np.full(16, 0.6))
    noise = (mixed - 0.6 * SPECTRUM) / 0.8
    assert np.allclose(np.abs(noise), AMPLITUDE, rtol=1e-9, atol=0)
    assert not np.array_equal(vx.mask_noise(W, SPECTRUM, np.zeros(16)), noise_only)


def test_out_of_range_mask_value_is_nan_only_there():
    mask = np.ones(16)
    mask[3] = 1.5
    result = vx.mask_noise(W, SPECTRUM, mask)
    assert np.isnan(result[3].real) and np.isnan(result[3].imag)
    assert np.array_equal(np.delete(result, 3), np.delete(SPECTRUM, 3))


def test_mean_power_is_field_plus_admitted_vacuum():
    m = np.linspace(0.0, 1.0, 16)
    calls = 4000
    power = np.zeros(16)
    for _ in range(calls):
        power += np.abs(vx.mask_noise(W, SPECTRUM, m)) ** 2
    power /= calls
    expected = m**2 * np.abs(SPECTRUM) ** 2 + (1 - m**2) * AMPLITUDE**2
    # the field-noise cross term averages out with a standard error below 3 %
    assert np.allclose(power, expected, rtol=0.1, atol=0)


@pytest.mark.parametrize("spectrum_length, mask_length", [(15, 16), (16, 17), (17, 17), (2, 16)])
def test_length_mismatch_after_noise_is_drawn(spectrum_length, mask_length):
    message = internal_error_message(
        lambda: vx.mask_noise(W, SPECTRUM[:spectrum_length] if spectrum_length <= 16
                              else np.ones(spectrum_length, complex), np.ones(mask_length)))
    assert message == "assertion failed: part.equal_dim(dimension)"


@pytest.mark.parametrize("w", [np.zeros(0), np.array([1.0])])
def test_short_grid_fails_before_lengths_are_compared(w):
    message = internal_error_message(lambda: vx.mask_noise(w, np.ones(7, complex), np.ones(3)))
    assert message.startswith("index out of bounds")


def test_two_points_work():
    assert vx.mask_noise(np.array([1.0, 2.0]), np.ones(2, complex), np.ones(2)).shape == (2,)


def test_falling_and_flat_grids():
    falling = np.array([1.0, 0.0, -1.0])
    result = vx.mask_noise(falling, np.ones(3, complex), np.ones(3))
    assert np.isnan(result[0]) and np.isnan(result[2])
    assert result[1] == 1.0  # zero frequency: the noise is zero there, the field passes
    flat = np.array([2.0, 2.0, 0.0])
    result = vx.mask_noise(flat, np.ones(3, complex), np.array([1.0, 0.5, 0.5]))
    assert np.isnan(result[0])     # m = 1 times an infinite noise value
    assert not np.isfinite(result[1])
    assert np.isnan(result[2])     # zero frequency: 0 / 0
