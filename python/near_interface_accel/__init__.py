"""Six Sommerfeld-type integrals near a planar interface between two media.

The friendly front of the compiled module ``_near_interface_accel``:

>>> import near_interface_accel as nia
>>> k_m = nia.wavenumber(1.0, 4 - 1j)                 # lossy ground, k0 = 1
>>> nia.six_integrals(1.0, k_m, rho=[0.0, 2.0], z=0.5, zp=-0.1).shape
(2, 6)

* :func:`six_integrals` broadcasts points of any shape, evaluates each
  distinct (rho, z, zp) once, with a Gauss rule built for you, optional thread
  limits, chunks and a progress bar.
* :func:`wavenumber` gives a medium's wavenumber on the branch the kernel
  expects (time convention exp(+j omega t), Im(k) <= 0 for a lossy medium);
  :func:`medium` does the same from SI quantities (Hz, S/m).
* :func:`dipole_field` gives E and H in the upper medium of a buried
  electric or magnetic dipole of any orientation, from integrals evaluated
  directly along the same path.
* :func:`stack` and :func:`layered_field` give E and H of an electric or
  magnetic dipole in any layer of a stack of planar layers, at points in any
  layer (an antenna over ground, a receiver below the surface, a layered
  ground).
* :func:`six_integrals_dask` and :func:`dipole_field_dask` spread a batch
  over a Dask cluster.
* Every row comes with a verdict: rows the integration did not resolve raise
  one :class:`UnresolvedRowWarning`; ``diagnostics=True`` returns the
  per-point figures as :class:`RowDiagnostics`.
"""

import importlib.metadata as _metadata

from ._batch import RTOL_FLOOR, gauss_rule, six_integrals
from ._dask import dipole_field_dask, layered_field_dask, six_integrals_dask
from ._fields import dipole_field
from ._layers import Stack, layered_field, stack
from ._media import EPSILON_0, SPEED_OF_LIGHT, Medium, medium, wavenumber
from ._verdict import RowDiagnostics, UnresolvedRowWarning, unresolved_threshold

try:
    __version__ = _metadata.version("near-interface-accel")
except _metadata.PackageNotFoundError:  # pragma: no cover - running from a source tree
    __version__ = "0+unknown"
del _metadata

__all__ = ["six_integrals", "six_integrals_dask", "dipole_field", "dipole_field_dask",
           "stack", "Stack", "layered_field", "layered_field_dask", "wavenumber", "medium",
           "Medium", "gauss_rule", "RTOL_FLOOR", "SPEED_OF_LIGHT",
           "EPSILON_0", "UnresolvedRowWarning", "RowDiagnostics", "unresolved_threshold",
           "__version__"]
