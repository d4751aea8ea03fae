"""Bad calls: binding and conversion errors, their messages and precedence."""

import re

import numpy as np
import pytest

import _lib_vexlume as vx

W = np.linspace(1.0, 2.0, 4)
S1 = np.ones(4, complex)
S2 = np.ones((2, 4), complex)
M2 = np.ones((1, 4))
ARRAY_LABEL = "'numpy.ndarray[dtype, ndim]'"


@pytest.mark.parametrize("call, message", [
    (lambda: vx.noise_signal(S2, W), "noise_signal() missing 1 required positional argument: 'masks'"),
    (lambda: vx.noise_signal(), "noise_signal() missing 3 required positional arguments: 'spectra', 'w', and 'masks'"),
    (lambda: vx.jitter_signal(S2), "jitter_signal() missing 2 required positional arguments: 'w' and 'masks'"),
    (lambda: vx.shot_noise(W, None), "shot_noise() missing 1 required positional argument: 'seed'"),
    (lambda: vx.shot_noise(seed=1, kind=None), "shot_noise() missing 1 required positional argument: 'w'"),
    (lambda: vx.mask_noise(W, S1, W, W), "mask_noise() takes 3 positional arguments but 4 were given"),
    (lambda: vx.jitter_signal(S2, W, M2, spectra=S2), "jitter_signal() got multiple values for argument 'spectra'"),
    (lambda: vx.shot_noise(w=W, kind=None, seed=1, extra=2), "shot_noise() got an unexpected keyword argument 'extra'"),
    # precedence: positional count before keywords, keywords in order before missing ones
    (lambda: vx.mask_noise(W, S1, W, W, bogus=1), "mask_noise() takes 3 positional arguments but 4 were given"),
    (lambda: vx.mask_noise(W, bogus=1, w=W), "mask_noise() got an unexpected keyword argument 'bogus'"),
    (lambda: vx.mask_noise(W, w=W, bogus=1), "mask_noise() got multiple values for argument 'w'"),
    (lambda: vx.mask_noise(W, spectrum=S1, mask=W, w=W), "mask_noise() got multiple values for argument 'w'"),
    # a keyword that differs from a parameter name only in case is unknown
    (lambda: vx.shot_noise(W, None, Seed=1), "shot_noise() got an unexpected keyword argument 'Seed'"),
])
def test_binding_errors(call, message):
    with pytest.raises(TypeError) as caught:
        call()
    assert caught.type is TypeError
    assert str(caught.value) == message


def test_keywords_bind_like_positions():
    mask = np.array([1.0, -1.0, 1.0, -1.0])
    assert np.array_equal(vx.mask_noise(mask=mask, spectrum=S1, w=W), vx.mask_noise(W, S1, mask))
    assert np.array_equal(vx.shot_noise(seed=5, w=W, kind="variable_both"),
                          vx.shot_noise(W, "variable_both", 5))
    assert np.array_equal(vx.shot_noise(W, kind=None, seed=5), vx.shot_noise(W, None, 5))


@pytest.mark.parametrize("bad_w, type_name", [
    (W.astype(np.float32), "ndarray"),
    (np.ones((2, 4)), "ndarray"),
    (W.astype(">f8"), "ndarray"),
    (W.astype(np.int64), "ndarray"),
    (list(W), "list"),
    (None, "NoneType"),
    (np.float64(1.0), "float64"),
    (np.ma.MaskedArray(np.ones((2, 2))), "MaskedArray"),
])
def test_array_conversion_errors_name_parameter_and_type(bad_w, type_name):
    with pytest.raises(TypeError) as caught:
        vx.shot_noise(bad_w, None, 1)
    assert str(caught.value) == f"argument 'w': '{type_name}' object cannot be converted to {ARRAY_LABEL}"
    assert caught.value.__cause__ is None


@pytest.mark.parametrize("call, parameter, type_name", [
    (lambda: vx.noise_signal([[1j]], "not checked", None), "spectra", "list"),
    (lambda: vx.noise_signal(S1, W, M2), "spectra", "ndarray"),
    (lambda: vx.noise_signal(S2, S1, M2), "w", "ndarray"),
    (lambda: vx.jitter_signal(S2, W, W), "masks", "ndarray"),
    (lambda: vx.jitter_signal(S2.astype(np.complex64), W, W), "spectra", "ndarray"),
    (lambda: vx.mask_noise(W, W, W), "spectrum", "ndarray"),
    (lambda: vx.mask_noise(W, S1, 3), "mask", "int"),
    (lambda: vx.shot_noise(W, 3, 1), "kind", "int"),
    (lambda: vx.shot_noise(W, b"variable_both", 1), "kind", "bytes"),
])
def test_first_failing_conversion_is_reported(call, parameter, type_name):
    with pytest.raises(TypeError) as caught:
        call()
    text = str(caught.value)
    assert text.startswith(f"argument '{parameter}': '{type_name}' object cannot be converted to '")


@pytest.mark.parametrize("kind", [
    "constant_phase_only", "Variable_phase_only", "variable_phase_only ", "", "VARIABLE_BOTH",
    "variable_both\0", "constant_both\u00e9",
])
def test_unknown_kind_is_a_value_error(kind):
    with pytest.raises(ValueError) as caught:
        vx.shot_noise(W, kind, 1)
    assert caught.type is ValueError
    assert str(caught.value) == "invalid shot noise kind"


def test_kind_that_cannot_be_encoded_passes_the_unicode_error():
    with pytest.raises(UnicodeEncodeError):
        vx.shot_noise(W, "\udc80", 1)


def test_kind_accepts_str_subclass_and_none():
    class Name(str):
        pass

    assert np.array_equal(vx.shot_noise(W, Name("variable_both"), 3),
                          vx.shot_noise(W, "variable_both", 3))
    assert np.array_equal(vx.shot_noise(W, None, 3), vx.shot_noise(W, "variable_phase_only", 3))


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


@pytest.mark.parametrize("seed, same_as", [
    (True, 1), (np.uint64(2**64 - 1), 2**64 - 1), (np.int8(7), 7), (Index(12), 12), (0, 0),
])
def test_seed_through_index(seed, same_as):
    assert np.array_equal(vx.shot_noise(W, None, seed), vx.shot_noise(W, None, same_as))


@pytest.mark.parametrize("seed, error, prefix", [
    (-1, OverflowError, None),
    (2**64, OverflowError, None),
    (Index(-5), OverflowError, None),
    (1.5, TypeError, "argument 'seed': "),
    ("1", TypeError, "argument 'seed': "),
    (np.float64(2.0), TypeError, "argument 'seed': "),
])
def test_seed_errors(seed, error, prefix):
    with pytest.raises(error) as caught:
        vx.shot_noise(W, None, seed)
    assert caught.type is error
    if prefix is None:
        assert not str(caught.value).startswith("argument")
    else:
        assert str(caught.value).startswith(prefix)


def test_type_error_rewriting_keeps_only_the_cause():
    class BadIndex:
        def __index__(self):
            raise TypeError("custom") from KeyError("root")

    with pytest.raises(TypeError) as caught:
        vx.shot_noise(W, None, BadIndex())
    assert str(caught.value) == "argument 'seed': custom"
    assert isinstance(caught.value.__cause__, KeyError)
    assert not isinstance(caught.value.__context__, TypeError)


def test_type_error_subclass_and_value_error_pass_unchanged():
    class Special(TypeError):
        pass

    class Raises:
        def __init__(self, error):
            self.error = error

        def __index__(self):
            raise self.error

    with pytest.raises(Special, match="^inner$"):
        vx.shot_noise(W, None, Raises(Special("inner")))
    with pytest.raises(ValueError, match="^inner$"):
        vx.shot_noise(W, None, Raises(ValueError("inner")))


def test_bad_calls_never_raise_internal_error():
    for call in (lambda: vx.noise_signal(1, 2, 3), lambda: vx.shot_noise(W, "x", 1)):
        with pytest.raises(Exception):
            call()
