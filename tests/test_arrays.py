"""Inputs are read in place whatever their layout; results are new arrays
handed over without a copy."""

import gc
import sys

import numpy as np
import pytest

import _lib_vexlume as vx

GRID = np.linspace(1.0e15, 2.0e15, 12)
SPECTRUM = (np.arange(12) + 1j * np.arange(12, 24)).astype(complex)


def misaligned(values, dtype):
    """A structured-array field: byte stride 1 + itemsize, data at an odd address."""
    record = np.zeros(len(values), dtype=[("pad", "u1"), ("value", dtype)])
    record["value"] = values
    field = record["value"]
    assert field.strides[0] % np.dtype(dtype).itemsize != 0
    return field


def layouts_1d(values, dtype):
    """(name, array) pairs that all read as `values` without being contiguous copies."""
    values = np.asarray(values, dtype=dtype)
    base = np.empty(3 * len(values), dtype=dtype)
    base[::3] = values
    read_only = values.copy()
    read_only.flags.writeable = False
    twice_reversed = values[::-1].copy()[::-1]
    backwards = np.empty(2 * len(values), dtype=dtype)
    negative_step = backwards[::-2]
    negative_step[:] = values
    return [
        ("contiguous", values.copy()),
        ("step 3", base[::3]),
        ("negative step -2", negative_step),
        ("reversed view", twice_reversed),
        ("read-only", read_only),
        ("masked array", np.ma.MaskedArray(values.copy(), mask=np.arange(len(values)) % 2 == 0)),
        ("misaligned field", misaligned(values, dtype)),
    ]


@pytest.mark.parametrize("name, spectrum", layouts_1d(SPECTRUM, complex))
@pytest.mark.parametrize("name_mask, mask", layouts_1d(np.where(np.arange(12) % 3 == 0, -1.0, 1.0), float))
def test_mask_noise_reads_every_layout(name, spectrum, name_mask, mask):
    # masks of +-1 admit no noise, so the result is exactly +-spectrum
    result = vx.mask_noise(GRID, spectrum, mask)
    expected = np.asarray(mask) * np.asarray(SPECTRUM)
    assert np.array_equal(result, expected)


@pytest.mark.parametrize("name, w", layouts_1d(GRID, float))
def test_shot_noise_reads_grid_values_of_every_layout(name, w):
    expected = vx.shot_noise(np.ascontiguousarray(np.asarray(w)), "variable_both", 99)
    if w.strides[0] == -8:
        # a backwards contiguous grid is visited in memory order: same values, other draws
        result = vx.shot_noise(w, "variable_both", 99)
        assert not np.array_equal(result, expected)
        assert result.strides == (-16,)
    else:
        assert np.array_equal(vx.shot_noise(w, "variable_both", 99), expected)


def test_broadcast_and_zero_strides():
    w = np.broadcast_to(np.float64(3.0), (5,))
    assert w.strides == (0,)
    # dw = 0: every amplitude is infinite, the phase-only values inf or nan
    assert not np.isfinite(vx.shot_noise(w, None, 1)).any()
    spectra = np.broadcast_to(SPECTRUM, (4, 12))
    masks = np.broadcast_to(np.ones(12), (3, 12))
    energies, examples = vx.noise_signal(spectra, GRID, masks)
    assert np.allclose(energies, energies[0, 0], rtol=1e-14, atol=0)
    assert np.array_equal(examples, np.broadcast_to(SPECTRUM, (3, 12)))


def test_two_dimensional_layouts_read_like_numpy_indexing():
    rng = np.random.default_rng(5)
    base = rng.normal(size=(9, 40)) + 1j * rng.normal(size=(9, 40))
    dense = base[::2, ::3].copy()
    w = np.linspace(1.0, 2.0, dense.shape[1])
    reference = vx.noise_signal(dense, w, np.zeros((0, 1)))[0]
    for name, spectra in [
        ("steps 2 and 3", base[::2, ::3]),
        ("reversed rows", dense[::-1][::-1]),
        ("transposed", dense.T.copy().T),
        ("fortran order", np.asfortranarray(dense)),
        ("misaligned field", misaligned(dense.ravel(), complex).reshape(dense.shape)),
    ]:
        energies = vx.noise_signal(spectra, w, np.zeros((0, 1)))[0]
        assert np.array_equal(energies, reference), name
    flipped = vx.noise_signal(dense[::-1, ::-1], w, np.zeros((0, 1)))[0]
    assert np.allclose(flipped[0], reference[0][::-1], rtol=1e-14, atol=0)


def test_inputs_are_never_written_and_keep_their_reference_counts():
    w = GRID.copy()
    spectrum = SPECTRUM.copy()
    mask = np.full(12, 0.5)
    spectra = np.tile(SPECTRUM, (3, 1))
    masks = np.full((2, 12), 0.5)
    arrays = [w, spectrum, mask, spectra, masks]
    copies = [a.copy() for a in arrays]
    counts = [sys.getrefcount(a) for a in arrays]
    calls = [
        lambda: vx.mask_noise(w, spectrum, mask),
        lambda: vx.shot_noise(w, "constant_both", 1),
        lambda: vx.noise_signal(spectra, w, masks),
        lambda: vx.jitter_signal(spectra, w, masks),
        # failures: a later conversion, the kind, an internal error, a shape mismatch
        lambda: vx.mask_noise(w, spectrum, [1.0]),
        lambda: vx.shot_noise(w, "nope", 1),
        lambda: vx.shot_noise(w[:1], None, 1),
        lambda: vx.mask_noise(w, spectrum, mask[:5]),
        lambda: vx.noise_signal(spectra, w, masks[:, :5]),
        lambda: vx.jitter_signal(spectra[:0], w, masks),
    ]
    for call in calls:
        try:
            call()
        except BaseException:
            pass
    gc.collect()
    assert [sys.getrefcount(a) for a in arrays] == counts
    for array, copy in zip(arrays, copies):
        assert np.array_equal(array, copy)


def test_same_array_for_two_parameters():
    w = np.linspace(1.0, 2.0, 8)
    result = vx.mask_noise(w, np.ones(8, complex), w)
    assert result.shape == (8,)


def test_results_are_new_writable_arrays_kept_alive_by_an_owner():
    result = vx.shot_noise(GRID, None, 4)
    assert result.dtype == np.complex128 and result.shape == (12,)
    assert result.flags.writeable and result.flags.c_contiguous and result.flags.aligned
    assert not result.flags.owndata
    owner = result.base
    assert type(owner).__name__ == "BufferOwner"
    assert not hasattr(sys.modules["_lib_vexlume"], type(owner).__name__)
    with pytest.raises(TypeError):
        type(owner)()
    expected = result.copy()
    view = result[::2]
    owner_count = sys.getrefcount(owner)
    del result
    gc.collect()
    assert sys.getrefcount(owner) == owner_count  # the view keeps the array, which keeps the owner
    assert np.array_equal(view, expected[::2])
    view[0] = 1.0  # writable through the view
    del view, owner
    gc.collect()


def test_reversed_grid_gives_a_backwards_result():
    w = np.linspace(1.0, 2.0, 6)[::-1]
    result = vx.shot_noise(w, None, 7)
    assert result.strides == (-16,)
    assert not result.flags.c_contiguous
    assert vx.shot_noise(np.ascontiguousarray(w), None, 7).strides == (16,)
    assert vx.shot_noise(np.linspace(1.0, 2.0, 12)[::-2], None, 7).strides == (16,)
