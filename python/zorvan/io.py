"""Image files with their calibration: ``imread``, ``imwrite``, ``list_images``.

TIFF, MRC, ``.npy``, grey PNG and the host application's ``.dm3``/``.dm4``
are read (and all but ``.dm3``/``.dm4`` written) by zorvan's own readers,
the ones the ``zorvan`` command uses. Other microscope formats (``.emd``,
``.ser``, ``.hdf5``, ...) are read through hyperspy when it is installed.

Example:
    >>> import zorvan
    >>> image, meta = zorvan.imread("stem.dm3")
    >>> image.dtype, image.shape, round(meta.pixel_size, 4), meta.unit
    (dtype('uint32'), (68, 68), 0.2485, 'nm')
    >>> zorvan.imwrite("filtered.tif", zorvan.median_filter(image, 2), meta.pixel_size, meta.unit)
"""

import dataclasses
import os
import warnings
from typing import Optional, Tuple

import numpy as np

from . import _zorvan

FileError = _zorvan.FileError
FileError.__module__ = "zorvan"

# Extensions zorvan reads itself (the rest goes to hyperspy).
_OURS = {".tif", ".tiff", ".png", ".npy", ".mrc", ".mrcs", ".map", ".st", ".ali", ".rec", ".dm3", ".dm4"}
_FORMATS = {".tif": "tiff", ".tiff": "tiff", ".png": "png", ".npy": "npy", ".dm3": "dm3", ".dm4": "dm4"}
_AXIS_NAMES = ("x", "y", "z", "t")


@dataclasses.dataclass(frozen=True)
class Axis:
    """One array axis as the file calibrates it: value(i) = offset + i * scale.

    ``offset`` is hyperspy's (-origin * scale for the host application's
    origin); ``unit`` is None when the file gives none.
    """
    name: str
    size: int
    scale: float = 1.0
    offset: float = 0.0
    unit: Optional[str] = None


@dataclasses.dataclass(frozen=True)
class Metadata:
    """What the file says of the image besides its pixels.

    pixel_size: the size of a pixel along x and y, in ``unit``; None when
        the file does not give one (never guessed).
    unit: "nm", or "1/nm" for diffraction patterns and other reciprocal
        calibrations; None without a pixel size.
    axes: one Axis per array axis, in NumPy's order ([z,] y, x).
    name: the image's own name, or "".
    voltage: the accelerating voltage in volts, or None.
    exposure: the exposure time in seconds, or None.
    format: "tiff", "mrc", "npy", "png", "dm3", "dm4", or "hyperspy" for
        files read through hyperspy.
    """
    pixel_size: Optional[float] = None
    unit: Optional[str] = None
    axes: Tuple[Axis, ...] = ()
    name: str = ""
    voltage: Optional[float] = None
    exposure: Optional[float] = None
    format: str = ""


@dataclasses.dataclass(frozen=True)
class ImageInfo:
    """One image of a file, as ``list_images`` gives it.

    ``index`` is what ``imread(path, index)`` (and ``path:index`` on the
    command line) takes; ``refusal`` says why it cannot be read ("" when it
    can); ``raw_data_offset`` is where its pixels lie raw (little-endian, C
    order of ``shape``) for ``np.memmap``, 0 when they cannot be mapped.
    """
    index: int
    name: str
    dtype: Optional[np.dtype]
    type_text: str
    shape: Tuple[int, ...]
    metadata: Metadata
    refusal: str
    raw_data_offset: int


def _extension(path):
    return os.path.splitext(os.fspath(path))[1].lower()


def _format(path):
    extension = _extension(path)
    return _FORMATS.get(extension, "mrc")


def _pixel(value, reciprocal):
    if not value > 0:
        return None, None
    return float(value), "1/nm" if reciprocal else "nm"


def _metadata(info, file_format):
    sizes = list(info["sizes"])
    axes = []
    for k in reversed(range(len(sizes))):
        name = _AXIS_NAMES[k] if k < len(_AXIS_NAMES) else "axis %d" % k
        if k < len(info["axes"]):
            scale, origin, unit = info["axes"][k]
            axes.append(Axis(name, int(sizes[k]), float(scale), float(-origin * scale), unit or None))
        else:
            axes.append(Axis(name, int(sizes[k])))
    pixel_size, unit = _pixel(info["pixel_size"], info["reciprocal"])
    return Metadata(pixel_size=pixel_size, unit=unit, axes=tuple(axes), name=info["name"],
                    voltage=info["voltage_v"] or None, exposure=info["exposure_s"] or None, format=file_format)


def _dtype(code):
    for dtype, known in _zorvan.type_codes().items():
        if known == code:
            return np.dtype(dtype)
    return None


def imread(path, index=None):
    """Read an image file: ``(array, Metadata)``.

    ``index`` picks one image of a file that holds several (the host
    application's files; see ``list_images``); by default the first that
    can be read. Arrays come in NumPy's order: a stack is [z, y, x].
    Formats zorvan does not read itself go through hyperspy, keeping its
    calibration; without hyperspy they raise FileError saying what to install.
    """
    path = os.fspath(path)
    if index is not None and (isinstance(index, bool) or not isinstance(index, (int, np.integer)) or index < 0):
        raise ValueError("index %r: an image index is a whole number from 0" % (index,))
    if _extension(path) in _OURS:
        name = path if index is None else "%s:%d" % (path, index)
        array, info = _zorvan.read_image(name)
        return array, _metadata(info, _format(path))
    return _read_with_hyperspy(path, index)


def _hyperspy_signals(path, lazy):
    try:
        import hyperspy.api as hs
    except ImportError:
        raise FileError("%s: zorvan reads .tif, .png, .npy, MRC, .dm3 and .dm4 itself; other microscope files "
                        "(.emd, .ser, .hdf5, ...) are read through hyperspy: apt-get install python3-hyperspy"
                        % path) from None
    if not os.path.exists(path):
        raise FileError("%s: No such file or directory" % path)
    signals = hs.load(path, lazy=lazy)
    return signals if isinstance(signals, list) else [signals]


def _read_with_hyperspy(path, index):
    signals = _hyperspy_signals(path, lazy=index is not None)
    chosen = 0 if index is None else index
    if not 0 <= chosen < len(signals):
        raise FileError("%s: holds %d signals; there is no signal %d" % (path, len(signals), chosen))
    return np.asarray(signals[chosen].data), _hyperspy_metadata(signals[chosen])


def _hyperspy_metadata(signal):
    # hyperspy lists the axes in array order.
    axes = []
    for axis in signal.axes_manager._axes:
        unit = axis.units if isinstance(axis.units, str) and axis.units not in ("", "<undefined>") else None
        axes.append(Axis(str(axis.name), int(axis.size), float(axis.scale), float(axis.offset), unit))
    pixel_size = unit = None
    if len(axes) >= 2 and axes[-1].unit == axes[-2].unit and axes[-1].scale == axes[-2].scale and axes[-1].unit:
        pixel_size, unit = _pixel(*_zorvan.pixel_size_from(axes[-1].scale, axes[-1].unit))
    general = signal.metadata.get_item("General", {})
    name = general.get_item("title", "") if hasattr(general, "get_item") else ""
    voltage = signal.metadata.get_item("Acquisition_instrument.TEM.beam_energy")
    exposure = (signal.metadata.get_item("Acquisition_instrument.TEM.Camera.exposure")
                or signal.metadata.get_item("Acquisition_instrument.TEM.Detector.Camera.exposure"))
    return Metadata(pixel_size=pixel_size, unit=unit, axes=tuple(axes), name=str(name),
                    voltage=float(voltage) * 1e3 if voltage else None, exposure=float(exposure) if exposure else None,
                    format="hyperspy")


def imwrite(path, array, pixel_size=None, unit="nm"):
    """Write an array to an image file, the format by extension.

    ``pixel_size`` in ``unit`` (any length unit: "nm", "µm", "Å", ... or a
    reciprocal one: "1/nm", "1/Å") is kept as the file can hold it: TIFF
    as hyperspy, ImageJ and tifffile read it, MRC in Å. Where the format
    cannot hold it (a reciprocal one in MRC, any in .npy and PNG) the image
    is written without one, with a warning.
    """
    path = os.fspath(path)
    array = np.ascontiguousarray(array)
    if array.dtype.byteorder == ">":
        array = array.astype(array.dtype.newbyteorder("="))
    value, reciprocal = 0.0, False
    if pixel_size is not None:
        value, reciprocal = _zorvan.pixel_size_from(float(pixel_size), unit)
        if not value > 0:
            raise ValueError("pixel_size %r %r: the pixel size must be a positive number and the unit one of length "
                             "or reciprocal length" % (pixel_size, unit))
        if not _zorvan.keeps_calibration(path, value, reciprocal):
            held = "MRC files hold no reciprocal" if _format(path) == "mrc" else ".npy and PNG files hold no"
            warnings.warn("%s: %s calibration; written without a pixel size" % (path, held), stacklevel=2)
    _zorvan.write_image(path, array, value, reciprocal)


def list_images(path):
    """Every image of a file as ``ImageInfo``, in order (one for most formats;
    the host application's files may hold several, the thumbnail left out;
    other formats as hyperspy lists their signals)."""
    path = os.fspath(path)
    if _extension(path) not in _OURS:
        return [ImageInfo(index=k, name=meta.name, dtype=np.dtype(signal.data.dtype), type_text=str(signal.data.dtype),
                          shape=tuple(signal.data.shape), metadata=meta, refusal="", raw_data_offset=0)
                for k, signal in enumerate(_hyperspy_signals(path, lazy=True))
                for meta in [_hyperspy_metadata(signal)]]
    infos = []
    for info in _zorvan.list_images(path):
        shape = tuple(int(size) for size in reversed(info["sizes"]))
        infos.append(ImageInfo(index=int(info["index"]), name=info["name"], dtype=_dtype(info["data_type"]),
                               type_text=info["type_text"], shape=shape, metadata=_metadata(info, _format(path)),
                               refusal=info["refusal"], raw_data_offset=int(info["raw_data_offset"])))
    return infos
