# Type information for the compiled module _near_interface_accel (C++, pybind11,
# OpenMP). It is shipped as a stub-only package next to the module, the form in
# which type checkers find types for a top-level extension module.

from typing import Final

import numpy as np
from numpy.typing import ArrayLike, NDArray

near_interface_680: Final[bool]
__version__: Final[str]

def near_interface_six_batch(
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
) -> NDArray[np.complex128]:
    """Six Sommerfeld-type integrals for each (rho, z, zp) triple.

    The three point arrays are one-dimensional and of equal length n (converted
    to contiguous float64); the result is a new (n, 6) complex128 array whose
    column c is integral c. Invalid input raises ValueError before any work;
    a tail that does not converge raises RuntimeError after the parallel loop.
    """
