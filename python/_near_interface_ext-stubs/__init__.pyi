# Type information for the compiled module _near_interface_ext (C++, pybind11,
# OpenMP): the batches beyond the six integrals of _near_interface_accel. It
# is shipped as a stub-only package next to the module, as the stubs of
# _near_interface_accel are.

from typing import Final

import numpy as np
from numpy.typing import ArrayLike, NDArray

__version__: Final[str]
ELECTRIC_COLUMNS: Final[int]
MAGNETIC_COLUMNS: Final[int]
LAYERED_COLUMNS: Final[int]

def six_batch_diagnostics(
    k_p: float,
    k_m: complex,
    rho: ArrayLike,
    z: ArrayLike,
    zp: ArrayLike,
    rtol: float,
    lam_mult: float,
    depth: int,
    detour: float,
    gx: ArrayLike,
    gw: ArrayLike,
) -> tuple[
    NDArray[np.complex128],
    NDArray[np.int64],
    NDArray[np.int64],
    NDArray[np.float64],
    NDArray[np.bool_],
    NDArray[np.float64],
]:
    """Rows of near_interface_six_batch with their per-row figures.

    Returns (rows, nodes, limit_panels, limit_error, all_quiet, condition): the
    (n, 6) rows, bit for bit those of near_interface_six_batch (complex NaN for a
    row whose tail ray did not go quiet, for which this call does not raise),
    the Gauss nodes used, the panels accepted at the depth limit with their
    two estimates apart by more than the tolerance, their summed error
    estimate over the row's largest channel, whether every tail ray went
    quiet, and the row's condition (the largest channel's summed modulus of
    the accepted panels over the row's largest channel modulus: >= 1, large
    where the integral cancels far below its integrand). Validation as
    near_interface_six_batch, ValueError before any work.
    """

def dipole_field_batch(
    k_p: float,
    k_m: complex,
    source: str | int,
    rho: ArrayLike,
    z: ArrayLike,
    zp: ArrayLike,
    rtol: float,
    lam_mult: float,
    depth: int,
    detour: float,
    gx: ArrayLike,
    gw: ArrayLike,
) -> tuple[NDArray[np.complex128], NDArray[np.int64], NDArray[np.int64], NDArray[np.float64],
           NDArray[np.bool_], NDArray[np.float64]]:
    """Field integrals of a buried dipole for each (rho, z, zp) triple.

    source is "electric" (0, ten columns) or "magnetic" (1, eleven columns), or
    one orientation of them alone: "electric vertical" (2), "electric
    horizontal" (3), "magnetic vertical" (4), "magnetic horizontal" (5).
    Returns (integrals (n, M), nodes, limit_panels, limit_error, all_quiet,
    condition), the last five per row; a row whose tail did not go quiet is
    complex NaN. condition is the largest column's summed modulus of the
    accepted panels over the row's largest integral (>= 1).
    """

def layered_field_batch(
    k0: float,
    k: ArrayLike,
    eps_r: ArrayLike,
    mu_r: ArrayLike,
    interfaces: ArrayLike,
    source: str | int,
    rho: ArrayLike,
    z: ArrayLike,
    zp: ArrayLike,
    rtol: float,
    lam_mult: float,
    depth: int,
    detour: float,
    gx: ArrayLike,
    gw: ArrayLike,
) -> tuple[NDArray[np.complex128], NDArray[np.int64], NDArray[np.int64], NDArray[np.float64],
           NDArray[np.bool_], NDArray[np.float64]]:
    """Layered field integrals of a dipole in a stack for each (rho, z, zp) triple.

    The stack is given by each medium's wavenumber, relative permittivity and
    permeability (top to bottom, 2 to 64 media) and the interface heights;
    source is "electric" or "magnetic" (eleven columns each), or one of them
    followed by " vertical" (columns 8 to 10 alone) or " horizontal" (0 to
    7 alone). Returns what
    dipole_field_batch returns; where source and field point share a layer
    the integrals leave out the direct field. "need R > 0" for a field point
    at the source itself.
    """
