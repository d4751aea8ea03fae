"""Type stubs for _lib_vexlume: quantum-noise statistics of optical pulse ensembles."""

from typing import Literal, Optional, SupportsIndex

import numpy as np
import numpy.typing as npt

__all__ = ["noise_signal", "jitter_signal", "shot_noise", "mask_noise"]

ShotNoiseKindName = Literal[
    "variable_phase_only", "constant_phse_only", "variable_both", "constant_both"
]

def noise_signal(
    spectra: npt.NDArray[np.complex128],
    w: npt.NDArray[np.float64],
    masks: npt.NDArray[np.float64],
) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.complex128]]:
    """Energy of every realisation, unfiltered and behind every mask with its vacuum noise.

    spectra: (N, P) complex128, one realisation per row; w: (L,) float64 angular-frequency
    grid; masks: (M, Q) float64 amplitude transmissions. Returns the energies, shape
    (M + 1, N) with the unfiltered row first, and one noisy filtered example field per
    mask, shape (M, L). P, Q and L must agree when M >= 1.
    """

def jitter_signal(
    spectra: npt.NDArray[np.complex128],
    w: npt.NDArray[np.float64],
    masks: npt.NDArray[np.float64],
) -> tuple[npt.NDArray[np.float64], npt.NDArray[np.complex128]]:
    """Temporal centre of gravity of every realisation, unfiltered and behind every mask.

    Arguments as for noise_signal. Each field is taken to the time domain by an
    unnormalised inverse FFT (no shift); a centre is a time on the axis
    t_k = k dt - (P / 2) dt with dt = 2 pi / (L (w[1] - w[0])), so in seconds when w
    is in rad/s.
    Returns the centres, shape (M + 1, N), and one noisy filtered example field per mask
    in the time domain, shape (M, L).
    """

def shot_noise(
    w: npt.NDArray[np.float64],
    kind: Optional[ShotNoiseKindName],
    seed: Optional[SupportsIndex],
) -> npt.NDArray[np.complex128]:
    """A shot-noise field on the grid w (at least two points), one value per point.

    kind selects the amplitude (per point, or that of w[0] everywhere) and the random
    part (a random phase, or Gaussian real and imaginary parts); None means
    "variable_phase_only". seed, an integer in [0, 2**64), makes the field reproducible
    bit for bit; None draws the key from the operating system.
    """

def mask_noise(
    w: npt.NDArray[np.float64],
    spectrum: npt.NDArray[np.complex128],
    mask: npt.NDArray[np.float64],
) -> npt.NDArray[np.complex128]:
    """One spectrum through one mask, with the vacuum noise the mask lets in.

    Element i is sqrt(1 - m**2) * noise_i + m * spectrum_i, the noise having modulus
    sqrt(hbar |w_i| / (2 dw)) and a random phase. All three arrays have the same length.
    """
