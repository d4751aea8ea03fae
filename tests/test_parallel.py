"""The worker pool and the progress bar, seen from Python."""

import os
import pty
import select
import subprocess
import sys
import textwrap

import pytest

ROW_ZERO_DIGEST = textwrap.dedent("""
    import hashlib, numpy as np, _lib_vexlume as vx
    rng = np.random.default_rng(11)
    spectra = rng.normal(size=(257, 33)) + 1j * rng.normal(size=(257, 33))
    w = np.linspace(1.0, 2.0, 33)
    masks = np.full((1, 33), 0.5)
    digest = hashlib.sha256()
    for signal in (vx.noise_signal, vx.jitter_signal):
        digest.update(signal(spectra, w, masks)[0][0].tobytes())
    print(digest.hexdigest())
""")


def test_row_zero_is_bit_identical_for_any_number_of_workers(python_subprocess):
    digests = set()
    for workers in ("1", "2", "7"):
        result = python_subprocess(ROW_ZERO_DIGEST, env={"VEXLUME_NUM_THREADS": workers})
        assert result.returncode == 0, result.stderr
        digests.add(result.stdout.strip())
    assert len(digests) == 1


@pytest.mark.parametrize("value", ["0", "-3", "many", "2.5"])
def test_bad_thread_count_is_an_internal_error_naming_the_variable(python_subprocess, value):
    code = textwrap.dedent("""
        import numpy as np, _lib_vexlume as vx
        try:
            vx.noise_signal(np.ones((2, 4), complex), np.linspace(1, 2, 4), np.ones((0, 4)))
        except BaseException as error:
            print(type(error).__name__, error)
    """)
    result = python_subprocess(code, env={"VEXLUME_NUM_THREADS": value})
    assert result.stdout.startswith("InternalError")
    assert "VEXLUME_NUM_THREADS" in result.stdout and value in result.stdout


def test_forked_child_gets_a_working_pool(python_subprocess):
    code = textwrap.dedent("""
        import os, numpy as np, _lib_vexlume as vx
        spectra = np.ones((64, 16), complex)
        w = np.linspace(1.0, 2.0, 16)
        masks = np.full((2, 16), 0.5)
        before = vx.noise_signal(spectra, w, masks)[0][0]
        pid = os.fork()
        if pid == 0:
            after = vx.jitter_signal(spectra, w, masks)[0]
            after = vx.noise_signal(spectra, w, masks)[0][0]
            os._exit(0 if np.array_equal(before, after) else 3)
        _, status = os.waitpid(pid, 0)
        print(os.waitstatus_to_exitcode(status))
    """)
    result = python_subprocess(code, timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "0"


PROGRESS = textwrap.dedent("""
    import sys, numpy as np, _lib_vexlume as vx
    masks = int(sys.argv[1])
    signal = getattr(vx, sys.argv[2])
    signal(np.ones((20, 8), complex), np.linspace(1, 2, 8), np.full((masks, 8), 0.5))
    print("done", flush=True)
""")


def run_on_terminal(args, columns=60):
    """Runs the progress script with standard error on a pseudo-terminal."""
    leader, follower = pty.openpty()
    import fcntl
    import struct
    import termios
    fcntl.ioctl(follower, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))
    process = subprocess.Popen([sys.executable, "-c", PROGRESS, *args], stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=follower)
    os.close(follower)
    captured = b""
    while True:
        ready, _, _ = select.select([leader], [], [], 60)
        if not ready:
            break
        try:
            chunk = os.read(leader, 4096)
        except OSError:  # the terminal closes when the child exits
            break
        if not chunk:
            break
        captured += chunk
    stdout, _ = process.communicate(timeout=60)
    os.close(leader)
    assert stdout.strip() == b"done"
    return captured.decode("utf-8")


@pytest.mark.parametrize("function", ["noise_signal", "jitter_signal"])
def test_progress_bar_on_a_terminal(function):
    drawn = run_on_terminal(["3", function], columns=60)
    final = drawn.replace("\r\n", "\n").split("\r")[-1].rstrip("\n")
    assert final.endswith(" 3/3")
    assert "░" not in final and final.count("█") >= 40
    assert len(final) <= 60
    assert drawn.endswith("\n")  # the finished bar stays on screen
    assert "jitter" not in drawn


@pytest.mark.parametrize("masks", ["0", "1"])
def test_no_progress_bar_for_fewer_than_two_masks(masks):
    assert run_on_terminal([masks, "noise_signal"]) == ""


def test_no_progress_output_when_stderr_is_not_a_terminal(tmp_path):
    log = tmp_path / "stderr.txt"
    with open(log, "w") as stderr:
        subprocess.run([sys.executable, "-c", PROGRESS, "4", "jitter_signal"], check=True,
                       stdout=subprocess.DEVNULL, stderr=stderr, timeout=60)
    assert log.read_text() == ""
    piped = subprocess.run([sys.executable, "-c", PROGRESS, "4", "noise_signal"],
                           capture_output=True, timeout=60)
    assert piped.stderr == b""
