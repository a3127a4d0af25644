"""Spreading a batch (six integrals, dipole fields, layered fields) over a Dask cluster, one
compiled call per block."""

from __future__ import annotations

import importlib
from typing import TYPE_CHECKING, Any, Literal, cast

import numpy as np
from numpy.typing import ArrayLike, NDArray

from ._batch import six_integrals
from ._engine import controls, count, flag, invalid_mode, media, real_array
from ._fields import _check_media, _direction, _height, _moment, _source, dipole_field
from ._layers import Stack, layered_field
from ._media import Medium

if TYPE_CHECKING:
    import dask.array

__all__ = ["six_integrals_dask", "dipole_field_dask", "layered_field_dask"]

# Block size for numpy inputs when no chunks are given: about this many points
# per block, a few seconds of work for one core.
_DEFAULT_BLOCK_POINTS = 4096


def _aligned_blocks(da: Any, names: tuple[str, ...], values: tuple[Any, ...],
                    chunks: Any) -> tuple[tuple[Any, ...], tuple[int, ...], bool]:
    """The coordinate operands (numpy-like or dask arrays) as dask arrays
    of one broadcast shape and one chunking, with that shape and whether the
    operands were a single point (then evaluated as a block of one)."""
    lazy = [isinstance(a, da.Array) for a in values]
    arrays: list[Any] = [a if is_lazy else real_array(name, a)
                         for name, a, is_lazy in zip(names, values, lazy)]
    for name, a, is_lazy in zip(names, arrays, lazy):
        if is_lazy and a.dtype.kind not in "biuf":
            raise TypeError(f"{name} must be real, got a dask array of dtype {a.dtype}")
    shape = np.broadcast_shapes(*(a.shape for a in arrays))
    if chunks is None and not any(lazy) and shape:
        chunks = da.core.normalize_chunks("auto", shape, limit=_DEFAULT_BLOCK_POINTS * 8,
                                          dtype=np.float64)
    point = len(shape) == 0
    if point:
        # A single point: evaluated as a block of one and reshaped back.
        arrays = [a.reshape((1,)) for a in arrays]
        shape = (1,)
    lazy_arrays = [a if is_lazy else da.from_array(np.broadcast_to(a, shape),
                                                   chunks=chunks if chunks is not None else -1)
                   for a, is_lazy in zip(arrays, lazy)]
    blocks = da.broadcast_arrays(*lazy_arrays)
    if chunks is not None:
        blocks = [v.rechunk(chunks) for v in blocks]
    index = "".join(chr(ord("a") + i) for i in range(len(shape)))
    _, unified = da.core.unify_chunks(*(x for v in blocks for x in (v, index)))
    return tuple(unified), shape, point


def _evaluate_block(rho: NDArray[np.float64], z: NDArray[np.float64], zp: NDArray[np.float64],
                    *, k_p: float, k_m: complex, options: dict[str, Any]) -> NDArray[np.complex128]:
    # Runs on a worker: one friendly call per block (distinct triples of the
    # block evaluated once, errors of the compiled module passed on).
    out: NDArray[np.complex128] = six_integrals(k_p, k_m, rho, z, zp, **options)
    return out


def six_integrals_dask(
    k_p: float,
    k_m: complex,
    rho: ArrayLike | dask.array.Array,
    z: ArrayLike | dask.array.Array,
    zp: ArrayLike | dask.array.Array,
    *,
    chunks: Any = None,
    rtol: float = 1e-8,
    gauss_nodes: int = 8,
    depth: int = 20,
    lam_mult: float = 10.0,
    detour: float = 0.1,
    omp_threads: int | None = None,
    invalid: Literal["raise", "nan"] = "raise",
    verdict: bool = True,
) -> dask.array.Array:
    """The six integrals as a lazy Dask array, one compiled call per block.

    Parameters
    ----------
    k_p, k_m, rtol, gauss_nodes, depth, lam_mult, detour, invalid, verdict
        As for :func:`six_integrals`; the wavenumbers and controls are checked
        here, before any task runs.
    rho, z, zp : dask arrays, numpy arrays or scalars
        Broadcast against each other; the blocks of the result follow the
        common chunks of the broadcast inputs.
    chunks : optional
        Block shape (any form ``dask.array`` accepts) for the broadcast
        points. Dask inputs keep their own chunks unless this is given; for
        numpy inputs the default is blocks of about 4096 points.
    omp_threads : int or None
        OpenMP threads of each block's compiled call. None keeps the worker's
        own setting: a ``dask.distributed`` worker process starts with
        OMP_NUM_THREADS=1.

    Returns
    -------
    dask.array.Array of complex128, shape ``broadcast shape + (6,)``
        Compute it with any Dask scheduler; each block is bit-identical to
        :func:`six_integrals` on the same points.

    Notes
    -----
    Thread rule: run either one OpenMP thread per Dask worker thread (many
    worker processes or threads, ``omp_threads=1`` or the distributed
    default), or one Dask worker thread per machine whose block uses all
    cores (``threads_per_worker=1`` and ``omp_threads`` = the number of
    cores), never both, which would start cores times cores threads.

    Distinct triples are found per block, not across blocks. An invalid point
    raises :func:`six_integrals`'s ValueError when its block is computed (the
    index it names is the point's index inside that block), unless
    ``invalid='nan'``, which gives it a row of NaN.

    The verdict is taken per block: each block with unresolved rows issues
    its own :class:`UnresolvedRowWarning` where the block runs (in the
    calling process with the synchronous and threaded schedulers, in the
    worker's log with ``dask.distributed``), naming indices inside the block.
    To act on it across a cluster, pass ``invalid='nan'`` and look for rows
    of NaN. The per-point figures (``diagnostics=True``) are not offered
    here; call :func:`six_integrals` on the points that need them.

    Examples
    --------
    >>> lazy = six_integrals_dask(1.0, 2 - 0.5j, [0.0, 1.0, 2.0, 3.0], 0.5, -0.1, chunks=2)
    >>> lazy.shape, lazy.numblocks
    ((4, 6), (2, 1))
    >>> lazy.compute(scheduler="synchronous").shape
    (4, 6)
    """
    # dask carries no complete annotations; its calls are typed here by the result
    da: Any = importlib.import_module("dask.array")

    kp, km = media(k_p, k_m)
    controls(rtol, gauss_nodes, depth, lam_mult, detour)
    omp_threads = count("omp_threads", omp_threads)
    invalid_mode(invalid)
    verdict = flag("verdict", verdict)
    options: dict[str, Any] = dict(rtol=rtol, gauss_nodes=gauss_nodes, depth=depth,
                                   lam_mult=lam_mult, detour=detour, workers=omp_threads,
                                   invalid=invalid, verdict=verdict)

    (r, h, hp), shape, point = _aligned_blocks(da, ("rho", "z", "zp"), (rho, z, zp), chunks)
    out: Any = da.map_blocks(
        _evaluate_block, r, h, hp,
        k_p=kp, k_m=km, options=options,
        new_axis=len(shape), chunks=r.chunks + ((6,),),
        dtype=np.complex128,
        meta=np.empty((0,) * (len(shape) + 1), dtype=np.complex128),
        token="six-integrals",
    )
    return cast("dask.array.Array", out.reshape((6,)) if point else out)


def _field_block(x: NDArray[np.float64], y: NDArray[np.float64], z: NDArray[np.float64],
                 zp: NDArray[np.float64], *, field: Any, media: tuple[Any, ...],
                 options: dict[str, Any]) -> NDArray[np.complex128]:
    # Runs on a worker: one field call per block, E and H stacked on a new axis
    e, h = field(*media, x, y, z, zp, **options)
    return np.stack([e, h], axis=-2)


def _field_options(source: Any, direction: Any, moment: Any, rtol: Any, gauss_nodes: Any,
                   depth: Any, lam_mult: Any, detour: Any, omp_threads: Any,
                   invalid: Any) -> dict[str, Any]:
    """The keywords of a field call, checked here before any task runs (the
    blocks' own calls check them again)."""
    _source(source)
    _direction(direction)
    _moment(moment)
    controls(rtol, gauss_nodes, depth, lam_mult, detour)
    invalid_mode(invalid)
    return dict(source=source, direction=direction, moment=moment, rtol=rtol,
                gauss_nodes=gauss_nodes, depth=depth, lam_mult=lam_mult, detour=detour,
                workers=count("omp_threads", omp_threads), invalid=invalid)


def _fields_dask(da: Any, field: Any, media: tuple[Any, ...], coordinates: tuple[Any, ...],
                 chunks: Any, options: dict[str, Any],
                 token: str) -> tuple[dask.array.Array, dask.array.Array]:
    """E and H of `field` (dipole_field or layered_field over `media`) as two
    views of one lazy array, one call per block of the aligned coordinates."""
    (xs, ys, zs, zps), shape, point = _aligned_blocks(da, ("x", "y", "z", "zp"), coordinates,
                                                      chunks)
    out: Any = da.map_blocks(
        _field_block, xs, ys, zs, zps,
        field=field, media=media, options=options,
        new_axis=[len(shape), len(shape) + 1], chunks=xs.chunks + ((2,), (3,)),
        dtype=np.complex128,
        meta=np.empty((0,) * (len(shape) + 2), dtype=np.complex128),
        token=token,
    )
    if point:
        out = out.reshape((2, 3))
    return cast("dask.array.Array", out[..., 0, :]), cast("dask.array.Array", out[..., 1, :])


def dipole_field_dask(
    upper: Medium,
    lower: Medium,
    x: ArrayLike | dask.array.Array,
    y: ArrayLike | dask.array.Array,
    z: ArrayLike | dask.array.Array,
    zp: ArrayLike | dask.array.Array,
    *,
    chunks: Any = None,
    source: Literal["electric", "magnetic"] = "electric",
    direction: ArrayLike = (0.0, 0.0, 1.0),
    moment: complex = 1.0,
    rtol: float = 1e-8,
    gauss_nodes: int = 8,
    depth: int = 20,
    lam_mult: float = 10.0,
    detour: float = 0.1,
    omp_threads: int | None = None,
    invalid: Literal["raise", "nan"] = "raise",
) -> tuple[dask.array.Array, dask.array.Array]:
    """E and H of a buried dipole as lazy Dask arrays, one compiled call per block.

    Parameters
    ----------
    upper, lower, source, direction, moment, rtol, gauss_nodes, depth, lam_mult, detour, invalid
        As for :func:`dipole_field`; the media, the source and the controls
        are checked here, before any task runs.
    x, y, z, zp : dask arrays, numpy arrays or scalars
        Field points and source heights, broadcast against each other; the
        blocks follow the common chunks of the broadcast inputs. A single
        ``zp`` is checked here; the heights of an array are checked per
        point when its block runs.
    chunks, omp_threads
        As for :func:`six_integrals_dask` (the same thread rule applies).

    Returns
    -------
    E, H : dask.array.Array of complex128, shape ``broadcast shape + (3,)``
        Two views of one lazy array (computing both together evaluates each
        block once); each block is bit-identical to :func:`dipole_field` on
        the same points.

    Examples
    --------
    >>> import near_interface_accel as nia
    >>> air, soil = nia.medium(1e6), nia.medium(1e6, eps_r=20, sigma=0.01)
    >>> E, H = dipole_field_dask(air, soil, [1.0, 2.0, 3.0, 4.0], 0.0, 0.5, -1.0, chunks=2)
    >>> E.shape, E.numblocks
    ((4, 3), (2, 1))
    >>> E.compute(scheduler="synchronous").shape
    (4, 3)
    """
    da: Any = importlib.import_module("dask.array")

    _check_media(upper, lower)
    height = zp if isinstance(zp, da.Array) else _height(zp)
    options = _field_options(source, direction, moment, rtol, gauss_nodes, depth, lam_mult,
                             detour, omp_threads, invalid)

    return _fields_dask(da, dipole_field, (upper, lower), (x, y, z, height), chunks, options,
                        "dipole-field")


def layered_field_dask(
    st: Stack,
    x: ArrayLike | dask.array.Array,
    y: ArrayLike | dask.array.Array,
    z: ArrayLike | dask.array.Array,
    zp: ArrayLike | dask.array.Array,
    *,
    chunks: Any = None,
    source: Literal["electric", "magnetic"] = "electric",
    direction: ArrayLike = (0.0, 0.0, 1.0),
    moment: complex = 1.0,
    rtol: float = 1e-8,
    gauss_nodes: int = 8,
    depth: int = 20,
    lam_mult: float = 10.0,
    detour: float = 0.1,
    omp_threads: int | None = None,
    invalid: Literal["raise", "nan"] = "raise",
) -> tuple[dask.array.Array, dask.array.Array]:
    """E and H of a dipole in a stack as lazy Dask arrays, one call per block.

    Parameters
    ----------
    st, source, direction, moment, rtol, gauss_nodes, depth, lam_mult, detour, invalid
        As for :func:`layered_field`; the stack, the source and the controls
        are checked here, before any task runs.
    x, y, z, zp : dask arrays, numpy arrays or scalars
        Field points and source heights, broadcast against each other; the
        blocks follow the common chunks of the broadcast inputs.
    chunks, omp_threads
        As for :func:`six_integrals_dask`.

    Returns
    -------
    E, H : dask.array.Array of complex128, shape ``broadcast shape + (3,)``
        Each block bit-identical to :func:`layered_field` on its points.

    Examples
    --------
    >>> import near_interface_accel as nia
    >>> f = 200e6
    >>> ground = nia.stack([nia.medium(f), nia.medium(f, eps_r=20, sigma=0.05)], [0.0])
    >>> E, H = layered_field_dask(ground, [1.0, 2.0, 3.0, 4.0], 0.0, -0.2, 0.5, chunks=2)
    >>> E.numblocks, E.compute(scheduler="synchronous").shape
    ((2, 1), (4, 3))
    """
    da: Any = importlib.import_module("dask.array")
    if not isinstance(st, Stack):
        raise TypeError(f"st must be a Stack from near_interface_accel.stack(), got "
                        f"{type(st).__name__}")
    options = _field_options(source, direction, moment, rtol, gauss_nodes, depth, lam_mult,
                             detour, omp_threads, invalid)
    return _fields_dask(da, layered_field, (st,), (x, y, z, zp), chunks, options,
                        "layered-field")
