import os
import subprocess
import sys

import pytest


def run_python(code, env=None, timeout=120):
    """Runs `code` in a fresh interpreter; returns the completed process."""
    full_env = dict(os.environ)
    full_env.update(env or {})
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          env=full_env, timeout=timeout)


@pytest.fixture
def python_subprocess():
    return run_python
