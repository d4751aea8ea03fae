"""Seeded shot noise is exactly the model's sequence; the kinds, grids and
non-finite rules."""

import math

import numpy as np
import pytest

import _lib_vexlume as vx
import noise_model as model

KINDS = ["variable_phase_only", "constant_phse_only", "variable_both", "constant_both"]


def test_model_block_function_matches_the_published_chacha20_vector():
    # RFC 7539, section 2.3.2: key 00..1f, block counter 1, nonce 00:00:00:09:00:00:00:4a:00:00:00:00
    words = [0x61707865, 0x3320646E, 0x79622D32, 0x6B206574,
             0x03020100, 0x07060504, 0x0B0A0908, 0x0F0E0D0C,
             0x13121110, 0x17161514, 0x1B1A1918, 0x1F1E1D1C,
             0x00000001, 0x09000000, 0x4A000000, 0x00000000]
    assert model.chacha_block(words, 20) == [
        0xE4E7F110, 0x15593BD1, 0x1FDD0F50, 0xC47120A3,
        0xC7F4D1C7, 0x0368C033, 0x9AAA2204, 0x4E6CD4C3,
        0x466482D2, 0x09AA9F07, 0x05D7C214, 0xA2028BD9,
        0xD19C12B5, 0xB94E16DE, 0xE883D0CB, 0x4E3C50A2]


def test_model_ziggurat_tables_telling_rows():
    assert model.ZIG_X[0] == 3.91075795953709
    assert model.ZIG_X[2] == 3.4492782985609645
    assert model.ZIG_X[255] == 0.2152418959132738
    assert model.ZIG_F[0] == 0.000477467764586655
    assert model.ZIG_F[1] == 0.001260285930498598
    assert model.ZIG_F[255] == 0.9771017012827313
    assert model.ZIG_X[256] == 0.0 and model.ZIG_F[256] == 1.0


GRIDS = {
    "two points": np.array([1.0e15, 1.1e15]),
    "rising, with a zero": np.linspace(-2.0e15, 3.0e15, 11),
    "long enough for several refills": np.linspace(1.0e14, 9.0e14, 150),
    "falling": np.linspace(2.0, 1.0, 7),
    "flat": np.full(5, 3.0),
    "zero first": np.linspace(0.0, 4.0, 6),
}


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("grid", GRIDS, ids=list(GRIDS))
@pytest.mark.parametrize("seed", [0, 1, 2**64 - 1])
def test_seeded_field_equals_the_model(kind, grid, seed):
    w = GRIDS[grid]
    expected = np.array(model.shot_noise_field(list(w), kind, seed), dtype=complex)
    result = vx.shot_noise(w, kind, seed)
    assert result.dtype == np.complex128 and result.shape == w.shape
    assert np.array_equal(result, expected, equal_nan=True)
    assert np.array_equal(vx.shot_noise(w, kind, seed), result, equal_nan=True)


def test_gaussian_tail_draws_match_the_model():
    # enough normal deviates that the Ziggurat's base layer and tail are exercised
    w = np.linspace(1.0, 2.0, 3000)
    result = vx.shot_noise(w, "constant_both", 12345)
    expected = np.array(model.shot_noise_field(list(w), "constant_both", 12345), dtype=complex)
    assert np.array_equal(result, expected)
    deviates = np.concatenate([result.real, result.imag]) / model.amplitude(1.0, w[1] - w[0])
    assert np.abs(deviates).max() > 3.0


def test_reversed_grid_view_draws_from_the_last_point():
    values = np.linspace(1.0e15, 2.0e15, 9)
    w = values[::-1].copy()[::-1]
    assert w.strides == (-8,)
    result = vx.shot_noise(w, "variable_both", 42)
    expected = model.shot_noise_field(list(values), "variable_both", 42, backwards=True)
    assert np.array_equal(result, np.array(expected))
    assert result.strides == (-16,)
    assert not np.array_equal(result, vx.shot_noise(values, "variable_both", 42))


def test_none_kind_is_variable_phase_only():
    w = np.linspace(1.0, 2.0, 33)
    assert np.array_equal(vx.shot_noise(w, None, 8), vx.shot_noise(w, "variable_phase_only", 8))


@pytest.mark.parametrize("kind", KINDS)
def test_unseeded_calls_differ_and_keep_moduli(kind):
    w = np.linspace(1.0e15, 2.0e15, 64)
    a, b = vx.shot_noise(w, kind, None), vx.shot_noise(w, kind, None)
    assert not np.array_equal(a, b)
    dw = w[1] - w[0]
    if "phse" in kind or "phase" in kind:
        amplitudes = np.sqrt(np.abs(w[0] if kind.startswith("constant") else w) / dw * model.HALF_HBAR)
        assert np.allclose(np.abs(a), amplitudes, rtol=1e-12, atol=0)


def test_gaussian_power_is_twice_the_phase_only_power():
    w = np.linspace(1.0, 2.0, 200_000)
    phase = vx.shot_noise(w, "constant_phse_only", 3)
    gauss = vx.shot_noise(w, "constant_both", 3)
    ratio = np.mean(np.abs(gauss) ** 2) / np.mean(np.abs(phase) ** 2)
    assert abs(ratio - 2.0) < 0.05


def test_zero_frequency_points_are_zero_but_consume_draws():
    w = np.linspace(-1.0, 1.0, 5)  # w[2] == 0
    field = vx.shot_noise(w, "variable_both", 11)
    assert field[2] == 0
    shifted = w.copy()
    shifted[2] = 0.25
    other = vx.shot_noise(shifted, "variable_both", 11)
    assert np.array_equal(np.delete(field, 2), np.delete(other, 2))
    zero_first = np.linspace(0.0, 1.0, 4)
    for kind in ("constant_phse_only", "constant_both"):
        assert np.all(vx.shot_noise(zero_first, kind, 1) == 0)


@pytest.mark.parametrize("w, finite_mask", [
    (np.array([2.0, 1.0, 0.0, -1.0]), [False, False, True, False]),   # falling: NaN but at zero
])
def test_falling_grid_is_nan_except_at_zero_frequency(w, finite_mask):
    field = vx.shot_noise(w, "variable_phase_only", 5)
    assert np.array_equal(np.isfinite(field), finite_mask)
    assert field[2] == 0


def test_flat_grid_amplitudes_are_infinite_or_nan():
    w = np.array([0.0, 0.0, 1.0])
    a = vx.shot_noise(w, "variable_both", 5)
    assert np.isnan(a[0].real) and np.isnan(a[1].real)
    assert np.isinf(a[2].real) or np.isnan(a[2].real)
    assert math.isinf(model.amplitude(1.0, 0.0))


@pytest.mark.parametrize("w", [np.zeros(0), np.array([1.0])])
def test_short_grid_is_an_internal_error(w):
    with pytest.raises(BaseException) as caught:
        vx.shot_noise(w, None, 1)
    assert type(caught.value).__name__ == "InternalError"
