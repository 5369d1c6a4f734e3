"""zorvan's functions over dask arrays: chunked images, stacks of planes, stacks in files.

Every function here returns a lazy dask array; .compute() runs it on the
current scheduler, for instance a dask.distributed cluster of worker
processes. A task carries NumPy blocks, the function and its numbers only:
each worker process imports zorvan, which loads the plug-in into its own
embedded host once, on its first task.

Arrays are [y, x] images or [z, y, x] stacks. Each function follows the rule
of the zorvan function of its name (the table "Stacks" in the README): a
2-D function works on every plane of a stack; moving_average(a, r,
cube=True) averages over the cubic window across planes; camera dtypes are
converted as zorvan converts them.

What equals the one-piece result:
- median_filter, maximum_filter, diff_h over chunks of any size: bit for bit
  equal to the function on the whole plane. Each chunk is filtered with a
  halo of the radius (diff_h: n columns on the right) taken from its
  neighbours and no padding at the true image edges
  (dask.array.map_overlap with boundary="none", as dask-image does), so
  every window is the one-piece window, cut at the edges in the same way. The one freedom:
  where -0.0 and +0.0 tie in a window, the median and the maximum may
  return either zero, as the functions themselves may.
- Everything done on whole planes (map_planes, wiener, survey,
  radial_survey, center_of_mass, and the filters on stacks chunked by whole
  planes): bit for bit equal to the NumPy function on each plane.
- moving_average, moving_average_pair over chunks: equal within float
  rounding only. Their running sums start again at each chunk, so the sums
  are added in another order. Measured on float32 images of values in [0, 1),
  radii 1 to 16, chunks of 7 to 1000 pixels, the largest difference from the
  one-piece result was 3.0e-6 (25 float32 epsilons) up to 1024 x 1024 and
  6.3e-6 at 4096 x 4096 (float64: 4 epsilons): it grows with the plane,
  since the one-piece sums carry their rounding across it. MEAN_BOUND *
  max|a| is the stated bound for planes up to 4096 x 4096 (for the means of
  the squares, against max|a|^2). A NaN or infinite pixel spoils the running
  sums to the end of its chunk, not to the end of the plane.
"""

import os

import dask.array as da
import numpy as np
from dask.base import tokenize

import zorvan

__all__ = ["MEAN_BOUND", "SURVEY", "CENTER_OF_MASS", "median_filter", "maximum_filter", "moving_average",
           "moving_average_pair", "diff_h", "map_planes", "wiener", "survey", "radial_survey", "center_of_mass",
           "open_stack", "store_npy", "store_zarr", "store_image"]

MEAN_BOUND = 1e-5  # relative to max|a|: chunked moving averages against one piece
SURVEY = zorvan.SURVEY
CENTER_OF_MASS = zorvan.CENTER_OF_MASS


def _stack(a):
    a = a if isinstance(a, da.Array) else da.from_array(np.asarray(a), chunks=-1)
    if a.ndim not in (2, 3):
        raise ValueError("zorvan.dask: an image [y, x] or a stack [z, y, x], not %d-D" % a.ndim)
    return a


def _each_plane(block, function, *args):
    """function on every plane of a [y, x] or [z, y, x] block, stacked back."""
    if block.ndim == 2:
        return function(block, *args)
    first = function(block[0], *args)
    out = np.empty((len(block),) + first.shape, first.dtype)
    out[0] = first
    for k in range(1, len(block)):
        out[k] = function(block[k], *args)
    return out


# ---- neighbourhood filters over chunked images ----

def _at_least(chunks, minimum):
    """Chunk sizes along one axis merged with their neighbours until each is >= minimum,
    so that a chunk's halo comes from its two neighbours only."""
    merged = []
    for size in chunks:
        if merged and merged[-1] < minimum:
            merged[-1] += size
        else:
            merged.append(size)
    if len(merged) > 1 and merged[-1] < minimum:
        last = merged.pop()
        merged[-1] += last
    return tuple(merged)


def _depths(a, reach):
    """a rechunked so that an axis no larger than its reach is one chunk (no halo needed) and every other chunk
    holds at least its halo, and the depth of each axis: reach = (z, y, x) pixels, or (y, x)."""
    depths = ([0] * a.ndim + list(reach))[-a.ndim:]
    chunks = list(a.chunks)
    for axis, (size, depth) in enumerate(zip(a.shape, depths)):
        if depth and size <= depth:
            chunks[axis], depths[axis] = (size,), 0  # every window spans the whole axis
        elif depth:
            chunks[axis] = _at_least(chunks[axis], depth)
    return a.rechunk(tuple(chunks)), depths


def _overlapping(function, a, args, reach):
    """function(block, *args) over the chunks of a, each with a halo of `reach` pixels from its neighbours and
    none at the true edges; the output has the input's shape."""
    a = _stack(a)
    probe = function(np.zeros((1,) * a.ndim, a.dtype), *args)  # refuses bad dtypes and numbers now
    depths = ([0] * a.ndim + list(reach))[-a.ndim:]  # a [y, x] image has no z to reach along
    if any(depth >= size for depth, size in zip(depths, a.shape) if depth):
        a, depths = _depths(a, reach)  # map_overlap merges small chunks, but cannot take a halo wider than the axis
    return da.map_overlap(_apply, a, depth=dict(enumerate(depths)), boundary="none", dtype=probe.dtype,
                          meta=np.empty((0,) * a.ndim, probe.dtype), function=function, args=args)


def _apply(block, function, args):
    return function(block, *args)


def _halo_block(block, function, args, depths, narrower, block_info=None):
    """Filters a block that carries halos of `depths` on its inner sides, then cuts the halos off. The filter
    makes the block `narrower` columns narrower on the right (diff_h's n) or adds axes in front (the pair)."""
    out = function(block, *args)
    location, count = block_info[0]["chunk-location"], block_info[0]["num-chunks"]
    cut = [slice(None)] * out.ndim
    for axis, depth in enumerate(depths):
        last = location[axis] == count[axis] - 1
        right = 0 if last else depth - (narrower if axis == len(depths) - 1 else 0)
        out_axis = out.ndim - block.ndim + axis
        cut[out_axis] = slice(depth if location[axis] > 0 else 0, out.shape[out_axis] - right)
    return out[tuple(cut)]


def _halo(function, a, args, reach, narrower=0):
    """function over the chunks of a with a halo made here, for outputs map_overlap cannot trim: narrower
    ones (diff_h) and ones with an axis in front (the pair)."""
    a = _stack(a)
    probe = function(np.zeros((1,) * (a.ndim - 1) + (a.shape[-1],), a.dtype), *args)
    a, depths = _depths(a, reach)
    halos = da.overlap.overlap(a, depth=dict(enumerate(depths)), boundary="none")
    out_chunks = list(a.chunks)
    out_chunks[-1] = out_chunks[-1][:-1] + (out_chunks[-1][-1] - narrower,)
    added = probe.ndim - a.ndim
    out_chunks[0:0] = [(n,) for n in probe.shape[:added]]
    return halos.map_blocks(_halo_block, function, args, depths, narrower, chunks=tuple(out_chunks),
                            new_axis=list(range(added)) or None, dtype=probe.dtype,
                            meta=np.empty((0,) * len(out_chunks), probe.dtype))


def _moving_average(block, radius, cube):
    return zorvan.moving_average(block, radius, cube=cube)


def _pair(block, radius, cube):
    return np.stack(zorvan.moving_average_pair(block, radius, cube=cube))


_EXACT = """
    Bit for bit the NumPy function's result on each whole plane, for chunks of
    any size (a halo of the radius, no padding at the true image edges)."""

_ROUNDED = """
    Running sums start again at each chunk, so chunked results agree with the
    whole plane's within float rounding: |difference| <= MEAN_BOUND * max|a|
    (measured: up to 6.3e-6 * max|a| on 4096 x 4096 planes). A stack chunked by
    whole planes (cube=False) is bit for bit the per-plane result."""


def median_filter(a, radius):
    """median_filter(a, radius) -> dask array: zorvan.median_filter of every plane."""
    return _overlapping(zorvan.median_filter, a, (radius,), (radius, radius))


def maximum_filter(a, radius):
    """maximum_filter(a, radius) -> dask array: zorvan.maximum_filter of every plane."""
    return _overlapping(zorvan.maximum_filter, a, (radius,), (radius, radius))


def moving_average(a, radius, cube=False):
    """moving_average(a, radius, cube=False) -> dask array: zorvan.moving_average of every plane, or over the
    cubic window across the planes of a stack with cube=True."""
    return _overlapping(_moving_average, a, (radius, cube), (radius,) * (3 if cube else 2))


def moving_average_pair(a, radius, cube=False):
    """moving_average_pair(a, radius, cube=False) -> (mean, mean_sq) dask arrays of every plane, or over the
    cubic window across the planes of a stack with cube=True."""
    both = _halo(_pair, a, (radius, cube), (radius,) * (3 if cube else 2))
    return both[0], both[1]


def diff_h(a, n=1):
    """diff_h(a, n=1) -> float32 dask array: zorvan.diff_h of every plane, n columns narrower; n = 0 returns a
    as float32."""
    if zorvan._count("diff_h", "n", n) == 0:
        a = _stack(a)
        return a if a.dtype == np.float32 else a.map_blocks(zorvan.diff_h, 0, dtype=np.float32)
    return _halo(zorvan.diff_h, a, (n,), (0, n), narrower=n)


for _function in (median_filter, maximum_filter, diff_h):
    _function.__doc__ += _EXACT
for _function in (moving_average, moving_average_pair):
    _function.__doc__ += _ROUNDED


# ---- functions of whole planes ----

def _whole_planes(a):
    a = _stack(a)
    return a.rechunk(a.chunks[:-2] + ((a.shape[-2],), (a.shape[-1],)))


def map_planes(function, a, *args, dtype=None, plane_shape=None):
    """map_planes(function, a, *args, dtype=None, plane_shape=None) -> dask array

    function(plane, *args) for every plane of a, as a stack: for the zorvan
    functions that take an image and return an array (ft_window, weight,
    power_spectrum, invert_rotate, radial_survey, ...) or any function of the
    kind. Chunks become whole planes. dtype and plane_shape of the result are
    taken from a call on a plane of zeros unless given. Bit for bit equal to
    a loop over the planes.

    >>> windowed = zorvan.dask.map_planes(zorvan.ft_window, stack, 1)
    >>> windowed.dtype, windowed.shape
    (dtype('float32'), (3, 16, 16))
    """
    a = _whole_planes(a)
    if a.ndim == 2:
        return map_planes(function, a[None], *args, dtype=dtype, plane_shape=plane_shape)[0]
    if dtype is None or plane_shape is None:
        probe = np.asarray(function(np.zeros(a.shape[-2:], a.dtype), *args))
        dtype, plane_shape = probe.dtype, probe.shape
    plane_shape = tuple(plane_shape)
    return a.map_blocks(_each_plane, function, *args, chunks=a.chunks[:1] + tuple((s,) for s in plane_shape),
                        dtype=dtype, drop_axis=[1, 2], new_axis=list(range(1, 1 + len(plane_shape))),
                        meta=np.empty((0,) * (1 + len(plane_shape)), dtype))


def _wiener_block(block, mode, margin, smoothing, window):
    return zorvan.wiener(block, mode, margin, smoothing, window)[0]


def wiener(a, mode="wiener", margin=None, smoothing=1000.0, window="hann"):
    """wiener(a, mode="wiener", margin=None, smoothing=1000.0, window="hann") -> float32 dask array

    zorvan.wiener of every plane (the filter of `zorvan wiener`), bit for bit;
    the details of each plane are left out. Types and numbers are checked
    now; a plane the filter refuses (constant, no finite pixel, under 16 x 16)
    raises ZorvanError at compute time.
    """
    a = _whole_planes(a)
    zorvan.wiener(np.arange(256).reshape(16, 16).astype(a.dtype), mode, margin, smoothing, window)
    return a.map_blocks(_wiener_block, mode, margin, smoothing, window, dtype=np.float32,
                        meta=np.empty((0,) * a.ndim, np.float32))


def _table_block(block, function, dtype, args):
    planes = block[None] if block.ndim == 2 else block
    return np.array([tuple(function(plane, *args)) for plane in planes], dtype)


def _table(function, dtype, a, args):
    a = _whole_planes(a)
    if a.ndim == 2:
        a = a[None]
    return a.map_blocks(_table_block, function, dtype, args, chunks=(a.chunks[0],), drop_axis=[1, 2], dtype=dtype,
                        meta=np.empty((0,), dtype))


def survey(a):
    """survey(a) -> dask array of SURVEY records (min, max, sum, sqsum), one per plane.

    zorvan.survey of each plane, bit for bit; pandas.DataFrame(result.compute())
    makes a table of it.
    """
    return _table(zorvan.survey, SURVEY, a, ())


def center_of_mass(a, x, y, radius, cycles=50, threshold=0.1):
    """center_of_mass(a, x, y, radius, cycles=50, threshold=0.1) -> dask array of CENTER_OF_MASS records

    zorvan.center_of_mass of each plane from the same start: (cycles_done, x, y).
    """
    zorvan.center_of_mass(np.zeros((1, 1), np.float32), x, y, radius, cycles, threshold)  # refuses bad numbers now
    return _table(zorvan.center_of_mass, CENTER_OF_MASS, a, (x, y, radius, cycles, threshold))


def radial_survey(a, cx, cy, scale_x=1.0, scale_y=1.0):
    """radial_survey(a, cx, cy, scale_x=1.0, scale_y=1.0) -> dask array [z, 5, rings]

    zorvan.radial_survey of each plane (rows: minimum, maximum, weight, mean,
    standard deviation), bit for bit.
    """
    return map_planes(zorvan.radial_survey, a, cx, cy, scale_x, scale_y)


# ---- stacks in files ----

class _MappedPlanes:
    """The planes of an uncompressed stack in a file. Only the file's name, offset, shape and dtype
    go to the workers; each read or write maps the file for that block alone, so a stack larger
    than memory streams through."""

    def __init__(self, path, offset, shape, dtype):
        self.path, self.offset, self.shape, self.dtype = path, offset, shape, np.dtype(dtype)
        self.ndim = len(shape)

    def __getitem__(self, key):
        # A copy: the map closes when the memmap object goes, at the end of this read.
        return np.array(np.memmap(self.path, self.dtype, "r", self.offset, self.shape)[key])

    def __setitem__(self, key, value):
        mapped = np.memmap(self.path, self.dtype, "r+", self.offset, self.shape)
        mapped[key] = value
        mapped.flush()


class _TiffPages:
    """The pages of a TIFF whose pixels are compressed or scattered: read page by page."""

    def __init__(self, path, shape, dtype):
        self.path, self.shape, self.dtype = path, shape, np.dtype(dtype)
        self.ndim = 3

    def __getitem__(self, key):
        import tifffile
        pages = range(*key[0].indices(self.shape[0]))  # dask asks for slices
        planes = tifffile.imread(self.path, key=list(pages)).reshape((len(pages),) + self.shape[1:])
        return planes[(slice(None),) + tuple(key[1:])]


def _dm_layout(path, index):
    """(offset, shape, dtype) of an image of a .dm3/.dm4 file; offset None when its pixels are not raw."""
    images = zorvan.list_images(path)
    if index is None:
        readable = [image for image in images if not image.refusal]
        if not readable:
            raise zorvan.FileError("%s: holds no image zorvan can read (%s)" % (
                path, "; ".join("%d: %s" % (image.index, image.refusal) for image in images) or "none"))
        image = readable[0]
    else:
        chosen = [image for image in images if image.index == index]
        if not chosen:
            raise zorvan.FileError("%s: holds images 0 to %d; there is no image %d" % (path, len(images) - 1, index))
        image = chosen[0]
        if image.refusal:
            raise zorvan.FileError("%s: image %d: %s" % (path, index, image.refusal))
    if len(image.shape) < 2:
        raise ValueError("zorvan.dask: %s: image %d is %d-D; open_stack opens images and stacks" % (
            path, image.index, len(image.shape)))
    return (image.raw_data_offset or None), image.shape, image.dtype


def _layout(path):
    """(offset, shape, dtype) of the pixels of an .npy, .mrc or .tif stack; offset None when not contiguous."""
    suffix = os.path.splitext(path)[1].lower()
    if suffix == ".npy":
        mapped = np.load(path, mmap_mode="r")
        if not mapped.flags.c_contiguous:
            raise ValueError("zorvan.dask: %s is in Fortran order; save it in C order" % path)
        return mapped.offset, mapped.shape, mapped.dtype
    if suffix in (".mrc", ".mrcs", ".st", ".ali", ".rec", ".map"):
        import mrcfile
        with mrcfile.mmap(path, mode="r", permissive=True) as mrc:
            return mrc.data.offset, mrc.data.shape, mrc.data.dtype
    if suffix in (".tif", ".tiff"):
        import tifffile
        with tifffile.TiffFile(path) as tiff:
            series = tiff.series[0]
            if series.dataoffset is None and len(series.pages) != np.prod(series.shape[:-2], dtype=np.int64):
                raise ValueError("zorvan.dask: %s is compressed with several planes in a page; open_stack reads "
                                 "one plane per page" % path)
            return series.dataoffset, series.shape, series.dtype
    raise ValueError("zorvan.dask: open_stack reads .npy, .mrc (.mrcs, .st, .ali, .rec, .map) and .tif files, "
                     "not %s" % path)


def open_stack(path, planes_per_chunk=1, index=None):
    """open_stack(path, planes_per_chunk=1, index=None) -> dask array [z, y, x], read lazily

    A stack in an .npy, MRC, multi-page TIFF or .dm3/.dm4 file, chunked by
    whole planes. Uncompressed pixels are memory-mapped plane by plane in the
    tasks that read them, so a stack larger than memory streams through;
    compressed TIFF pages are read page by page; .dm3/.dm4 images whose pixels
    are not stored raw are read whole, now. A 2-D file is a stack of one plane.
    index picks one image of a .dm3/.dm4 file holding several (as
    zorvan.list_images lists them); by default the first that can be read.
    The calibration: zorvan.list_images(path)[0].metadata (pixel_size, unit).

    >>> stack = zorvan.dask.open_stack("series.mrc")
    >>> zorvan.dask.median_filter(stack, 2).shape
    (3, 16, 16)
    """
    path = os.path.abspath(path)
    if os.path.splitext(path)[1].lower() in (".dm3", ".dm4"):
        offset, shape, dtype = _dm_layout(path, index)
        if offset is None:
            whole = zorvan.imread(path, index)[0]
            whole = whole.reshape((-1,) + whole.shape[-2:])
            return da.from_array(whole, chunks=(planes_per_chunk,) + whole.shape[1:])
    elif index is not None:
        raise ValueError("zorvan.dask: index picks an image of a .dm3 or .dm4 file; %s holds one" % path)
    else:
        offset, shape, dtype = _layout(path)
    shape = (int(np.prod(shape[:-2], dtype=np.int64)),) + tuple(shape[-2:])
    planes = _MappedPlanes(path, offset, shape, dtype) if offset is not None else _TiffPages(path, shape, dtype)
    status = os.stat(path)
    name = "zorvan-stack-" + tokenize(path, status.st_size, status.st_mtime_ns, planes_per_chunk, index)
    return da.from_array(planes, chunks=(planes_per_chunk,) + shape[1:], name=name, asarray=True,
                         meta=np.empty((0, 0, 0), dtype))


def store_npy(a, path, compute=True):
    """store_npy(a, path, compute=True) -> None, or a dask object to compute when compute=False

    Writes the dask array a into a new .npy file, each block by the worker that
    made it, through a memory map of its part alone: a result larger than
    memory streams to disk. The workers must see the path (one machine, or a
    shared file system).

    >>> zorvan.dask.store_npy(zorvan.dask.wiener(stack), "filtered.npy")
    """
    a = da.asarray(a)
    path = os.path.abspath(path)
    header = np.lib.format.open_memmap(path, "w+", a.dtype, a.shape)
    target = _MappedPlanes(path, header.offset, a.shape, a.dtype)
    del header
    return da.store(a, target, lock=False, compute=compute)


def _axes(shape, pixel_size, unit):
    """Each axis of an [y, x] or [z, y, x] array in hyperspy's terms (its axes_manager dictionaries),
    z first: the planes are the navigation axis, x and y carry the pixel size (1 and no unit when unknown)."""
    scale, units = (float(pixel_size), unit) if pixel_size else (1.0, "")
    names = ("z", "y", "x")[3 - len(shape):]
    return [{"name": name, "size": int(size), "scale": scale if name != "z" else 1.0, "offset": 0.0,
             "units": units if name != "z" else "", "navigate": name == "z"} for name, size in zip(names, shape)]


def _finish_zarr(_stored, temporary, path):
    """Moves the complete store into place: a reader never sees half a result."""
    import shutil
    if os.path.isdir(path):
        shutil.rmtree(path)
    os.rename(temporary, path)


def store_zarr(a, path, pixel_size=None, unit="nm", compute=True):
    """store_zarr(a, path, pixel_size=None, unit="nm", compute=True) -> None, or a dask object to compute

    Writes the dask array a (an image [y, x] or a stack [z, y, x]) into a new
    zarr array, a folder at path, chunked as a (made regular), each block by
    the worker that made it: a result larger than memory streams to disk. The
    calibration goes into the array's attributes: pixel_size (a number, or None
    when unknown), unit ("nm", or "1/nm" for a diffraction pattern), and axes,
    each axis as hyperspy describes it (name, size, scale, offset, units,
    navigate). The store is written beside path and moved there when complete,
    so a reader never sees half of it; an existing store at path is replaced.
    The workers must see the path (one machine, or a shared file system).

    >>> import zarr
    >>> zorvan.dask.store_zarr(zorvan.dask.wiener(stack), "filtered.zarr", 0.0178)
    >>> zarr.open("filtered.zarr").attrs["pixel_size"]
    0.0178
    """
    import uuid

    import dask
    import zarr

    a = _stack(a)
    if pixel_size is not None and not (np.isfinite(pixel_size) and pixel_size > 0):
        raise ValueError("zorvan.dask: pixel_size is a positive number, or None when unknown, not %r" % (pixel_size,))
    if pixel_size is not None and unit not in ("nm", "1/nm"):
        raise ValueError("zorvan.dask: unit is \"nm\" or \"1/nm\", not %r" % (unit,))
    a = a.rechunk(a.chunksize)  # zarr's chunks are all alike but the last
    path = os.path.abspath(os.fspath(path))
    temporary = "%s.tmp-%s" % (path, uuid.uuid4().hex)
    target = zarr.open_array(temporary, mode="w", shape=a.shape, chunks=a.chunksize, dtype=a.dtype)
    target.attrs.update({"pixel_size": None if pixel_size is None else float(pixel_size),
                         "unit": unit if pixel_size is not None else None, "axes": _axes(a.shape, pixel_size, unit)})
    stored = da.store(a, target, lock=False, compute=False)
    done = dask.delayed(_finish_zarr)(stored, temporary, path)
    if not compute:
        return done
    try:
        done.compute()
    except BaseException:
        import shutil
        shutil.rmtree(temporary, ignore_errors=True)  # nothing half-written left behind
        raise


def store_image(a, path, pixel_size=None, unit="nm"):
    """store_image(a, path, pixel_size=None, unit="nm") -> None

    Computes a and writes it with zorvan.imwrite, the writers of the zorvan
    command: a TIFF stack (a page per plane; the pixel size as ImageJ, hyperspy
    and tifffile read it) or an MRC stack of images (in nm only: MRC holds no
    reciprocal calibration), .npy, by extension. The whole result is held in
    this process's memory once; for a result larger than memory use store_zarr
    or store_npy.

    >>> meta = zorvan.list_images("stem.dm3")[0].metadata
    >>> zorvan.dask.store_image(zorvan.dask.wiener(stack), "filtered.tif", meta.pixel_size, meta.unit)
    """
    zorvan.imwrite(path, np.asarray(_stack(a).compute()), pixel_size, unit)

