"""What a caller sees of the module object itself."""

import importlib
import re
import sys

import numpy as np
import pytest

import _lib_vexlume as vx

SIGNATURES = {
    "noise_signal": "(spectra, w, masks)",
    "jitter_signal": "(spectra, w, masks)",
    "shot_noise": "(w, kind, seed)",
    "mask_noise": "(w, spectrum, mask)",
}


def test_module_attributes():
    assert vx.__all__ == ["noise_signal", "jitter_signal", "shot_noise", "mask_noise"]
    assert vx.__doc__ == ""
    for name, signature in SIGNATURES.items():
        function = getattr(vx, name)
        assert function.__name__ == name
        assert function.__text_signature__ == signature
        assert function.__doc__ is None
        assert function.__self__ is vx
        assert function.__module__ == "_lib_vexlume"
    assert not hasattr(vx, "InternalError")


def test_second_import_gives_the_same_module_object():
    first = sys.modules.pop("_lib_vexlume")
    try:
        second = importlib.import_module("_lib_vexlume")
        assert second is first
    finally:
        sys.modules["_lib_vexlume"] = first


def test_import_does_not_import_numpy(python_subprocess):
    result = python_subprocess(
        "import sys, _lib_vexlume; print('numpy' in sys.modules)")
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "False"


def test_first_call_without_numpy_fails_with_internal_error(python_subprocess):
    code = """
import sys
sys.modules['numpy'] = None  # makes 'import numpy' fail
import _lib_vexlume
try:
    _lib_vexlume.shot_noise([0.0, 1.0], None, 1)
except BaseException as error:
    print(type(error).__name__)
    print(error)
"""
    result = python_subprocess(code)
    assert result.returncode == 0, result.stderr
    name, message = result.stdout.splitlines()[:2]
    assert name == "InternalError"
    assert message.startswith("Failed to access NumPy array API capsule")


def test_internal_error_class_and_recovery():
    w = np.array([1.0])
    with pytest.raises(BaseException) as caught:
        try:
            vx.shot_noise(w, None, 1)
        except Exception:  # must not catch it
            pytest.fail("InternalError was caught as an Exception")
    error_type = caught.type
    assert error_type.__name__ == "InternalError"
    assert error_type.__bases__ == (BaseException,)
    assert error_type.__module__ != "_lib_vexlume"
    assert error_type.__doc__ and "BaseException" in error_type.__doc__
    assert "index out of bounds" in str(caught.value)
    assert len(caught.value.args) == 1
    # the same class every time, and the module stays usable
    with pytest.raises(error_type):
        vx.mask_noise(np.zeros(0), np.zeros(0, complex), np.zeros(0))
    assert vx.shot_noise(np.array([1.0, 2.0]), None, 1).shape == (2,)


def test_internal_error_writes_a_diagnostic_to_stderr(python_subprocess):
    code = """
import numpy as np, _lib_vexlume
try:
    _lib_vexlume.shot_noise(np.array([1.0]), None, 0)
except BaseException as error:
    print(type(error).__name__)
"""
    result = python_subprocess(code)
    assert result.stdout.strip() == "InternalError"
    diagnostic = result.stderr.strip().splitlines()
    assert len(diagnostic) == 1
    assert "index out of bounds" in diagnostic[0]
    assert re.search(r"src/noise/\w+\.cpp:\d+", diagnostic[0])


def test_failed_allocation_is_an_internal_error_naming_the_bytes():
    huge = np.broadcast_to(np.float64(1.0), (2**50,))
    with pytest.raises(BaseException) as caught:
        vx.shot_noise(huge, None, 0)
    assert type(caught.value).__name__ == "InternalError"
    assert str(2**50 * 16) in str(caught.value)
    assert vx.shot_noise(np.array([1.0, 2.0]), None, 1).shape == (2,)


def test_installed_type_stub_matches_the_functions():
    import ast
    import pathlib

    stubs = pathlib.Path(vx.__file__).parent / "_lib_vexlume-stubs"
    assert (stubs / "py.typed").exists()
    tree = ast.parse((stubs / "__init__.pyi").read_text())
    functions = {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}
    assert list(functions) == vx.__all__
    for name, node in functions.items():
        parameters = "(" + ", ".join(arg.arg for arg in node.args.args) + ")"
        assert parameters == SIGNATURES[name]
        assert ast.get_docstring(node)


def test_import_in_a_sub_interpreter_is_refused(python_subprocess):
    interpreters = pytest.importorskip("_xxsubinterpreters")
    del interpreters
    code = """
import _xxsubinterpreters as interpreters
import _lib_vexlume
interpreter = interpreters.create()
try:
    interpreters.run_string(interpreter, 'import _lib_vexlume')
except Exception as error:
    print(error)
"""
    result = python_subprocess(code)
    assert "ImportError" in result.stdout and "sub-interpreters" in result.stdout
