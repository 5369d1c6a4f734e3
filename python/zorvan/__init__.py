"""ZorvanFilters64's 19 script functions for NumPy arrays, and the Wiener filter of `zorvan wiener`.

The plug-in is loaded into the embedded host once, at import, and shut down
at exit. Each function calls its script function through the host, so it
returns, changes and refuses exactly what a script would.

Arrays: dtypes int8, uint8, int16, uint16, int32, uint32, float32, float64,
complex64, complex128 and bool; shapes [x], [y, x] or [z, y, x] (and a 4th
axis in front). A C-contiguous, aligned, writeable array in native byte
order is lent to the host without a copy; any other array is copied once.
An argument the function changes in place (out=, and the targets named in
each docstring) must be lendable, or ValueError is raised. Results are
arrays over the host image's memory, not copies.

Errors: ZorvanError (a ValueError) carries a function's own script error;
Refused (a ZorvanError) is a silent refusal of the Fourier-space family,
naming what the function accepts; TypeError is a wrong Python type or dtype,
raised before the host is reached; ValueError what the host cannot hold
(a 0-length axis, more than 4 axes).

Example:
    >>> import numpy as np, zorvan
    >>> zorvan.moving_average(np.arange(4, dtype=np.float32), 1)
    array([0.5, 1. , 2. , 2.5], dtype=float32)
"""

import collections
import math

import numpy as np

from . import _zorvan
from ._zorvan import ZorvanError
from .io import FileError, imread, imwrite, list_images

ZorvanError.__module__ = __name__

__all__ = [
    "ZorvanError", "Refused", "Survey", "call", "functions", "counters",
    "moving_average_pair", "moving_average", "median_filter", "survey", "radial_survey", "center_of_mass",
    "weight", "ft_window", "maximum_filter", "invert_rotate", "radial_warp", "mean_complex", "penalty_matrix",
    "multiply_complex_by_real", "wiener_mask", "add_complex", "power_spectrum", "rescale", "diff_h",
    "wiener", "FileError", "imread", "imwrite", "list_images",
]


class Refused(ZorvanError):
    """A Fourier-space function refused its input silently (a null image or 0)."""


Survey = collections.namedtuple("Survey", "min max sum sqsum")

# name -> (prototype, counter, refuses silently, summary, pixel types)
_ROWS = {row[0]: row[1:] for row in _zorvan.table()}
_CODES = _zorvan.type_codes()

# What sizes the silent functions accept, beside their pixel types.
_SIZES = {
    "FInvertRotateDLL": "any size",
    "FRadialWarpDLL": "a 1-D or 2-D profile, any size image",
    "FMeanComplexDLL": "any size",
    "FCreateFwhitsmMatrixDLL": "width at least 3",
    "FElementWiseProductComplexByRealDLL": "the same width and height",
    "FCreateWienerMaskDLL": "the same width and height",
    "FPlusComplexImageDLL": "the same width and height",
    "FCalculatePowerSpectrumDLL": "any size",
    "FWarpLinear2DDLL": "source at least 2 x 2, factors > 0 that fit the destination",
}

_LENDING = """
Arrays that are not C-contiguous, aligned, writeable and in native byte
order are copied once before the call; arguments changed in place must be
lendable (ValueError otherwise)."""


def _script(name):
    """Appends the script function's name, summary and accepted types to the docstring."""
    _, _, silent, summary, pixel_types = _ROWS[name]

    def document(function):
        refusal = "raises Refused" if silent else "raises ZorvanError with its message"
        function.__doc__ = (function.__doc__.rstrip() + "\n\n    Calls " + name + ": " + summary + ".\n    Accepts: " +
                            pixel_types + "; otherwise " + refusal + "." + _LENDING.replace("\n", "\n    ") + "\n")
        function.script_name = name
        return function
    return document


def _dtype_check(a):
    if not isinstance(a, np.ndarray):
        raise TypeError("zorvan: an image must be a NumPy array, not " + type(a).__name__)
    if a.dtype.newbyteorder("=") not in _CODES:
        raise TypeError("zorvan: dtype %s is not a host pixel type (use one of %s)" %
                        (a.dtype, ", ".join(str(d) for d in _CODES)))


def _lendable(a):
    return a.flags.c_contiguous and a.flags.aligned and a.flags.writeable and a.dtype.isnative


def _image(a):
    """An image argument: the array itself when it can be lent, else a C-ordered native copy."""
    if a is None:
        return None
    _dtype_check(a)
    return a if _lendable(a) else np.array(a, dtype=a.dtype.newbyteorder("="), order="C")


def _target(a, role):
    """An argument the function changes in place: lent, never copied."""
    if a is None:
        return None
    _dtype_check(a)
    if not _lendable(a):
        raise ValueError("zorvan: %s is changed in place, so it must be a C-contiguous, aligned, writeable array "
                         "in native byte order" % role)
    return a


def _describe(value):
    return "%s %s" % (value.dtype, list(value.shape)) if isinstance(value, np.ndarray) else repr(value)


def _run(name, *args):
    """Calls script function `name`; returns (result, outputs). A silent refusal raises Refused."""
    result, outputs = _zorvan.call(name, list(args))
    if _ROWS[name][2] and (result is None or isinstance(result, int) and result == 0):
        raise Refused("%s refused (%s): it accepts %s; sizes: %s" %
                      (name, ", ".join(_describe(a) for a in args), _ROWS[name][4], _SIZES[name]))
    return result, outputs


def call(name, *args):
    """Calls a script function by its name with script arguments, as a script would.

    Images are arrays or None; `double *` arguments take their initial
    number; `ImageRef*` arguments an array or None. Returns the result, or
    (result, *outputs) when the function has `double *` or `ImageRef*`
    parameters. A silent refusal comes back as None or 0 here, not as Refused.

    >>> zorvan.call("FMedianFilter", a, 2, None)
    """
    args = [_image(a) if isinstance(a, np.ndarray) else a for a in args]
    result, outputs = _zorvan.call(name, args)
    return (result, *outputs) if outputs else result


def functions():
    """The prototypes of the published script functions, in order."""
    return _zorvan.functions()


def counters():
    """The timing counters: name -> (additions, total milliseconds)."""
    return _zorvan.counters()


def _object_counts():
    """Live host objects and data locks, by kind (for leak checks)."""
    return _zorvan.object_counts()


@_script("FMovingAverage2")
def moving_average_pair(a, radius, mean=None, mean_sq=None):
    """moving_average_pair(a, radius, mean=None, mean_sq=None) -> (mean, mean_sq)

    Local mean and local mean of the squares over a (2*radius+1)^2 window cut
    to the image at its edges. Arrays given as mean/mean_sq of a's type and
    width and height are overwritten in place and returned; otherwise new
    2-D arrays are returned.

    >>> m, m2 = zorvan.moving_average_pair(np.ones((3, 3), np.float32), 1)
    """
    return tuple(_run("FMovingAverage2", _image(a), radius, _target(mean, "mean"), _target(mean_sq, "mean_sq"))[1])


@_script("FMovingAverage")
def moving_average(a, radius, out=None):
    """moving_average(a, radius, out=None) -> array

    Mean over the (2*radius+1) square (3-D: cubic) window, cut to the image at
    its edges. out= receives the result in place and is returned; out=a
    filters a in place.

    >>> zorvan.moving_average(np.arange(4, dtype=np.float32), 1)
    array([0.5, 1. , 2. , 2.5], dtype=float32)
    """
    return _run("FMovingAverage", _image(a), radius, _target(out, "out"))[0]


@_script("FMedianFilter")
def median_filter(a, radius, out=None):
    """median_filter(a, radius, out=None) -> array

    Median of the (2*radius+1)^2 window cut to the image at its edges; an even
    count takes the mean of the middle two; NaN samples are left out. Only the
    first plane of a stack. out= (same dtype, width and height) is written in
    place and returned; out=a filters in place, in the filter's visiting order,
    so later windows read values already filtered and the result differs from
    out=None's.

    >>> zorvan.median_filter(np.array([[1, 9, 2]], np.float32), 1)
    array([[5. , 2. , 5.5]], dtype=float32)
    """
    return _run("FMedianFilter", _image(a), radius, _target(out, "out"))[0]


@_script("FSurvey")
def survey(a):
    """survey(a) -> Survey(min, max, sum, sqsum)

    Minimum, maximum, sum and sum of squares, accumulated in float64.

    >>> zorvan.survey(np.array([1, 2, 3], np.int16))
    Survey(min=1.0, max=3.0, sum=6.0, sqsum=14.0)
    """
    return Survey(*_run("FSurvey", _image(a), None, None, None, None)[1])


@_script("FRadialSurvey")
def radial_survey(a, cx, cy, scale_x=1.0, scale_y=1.0):
    """radial_survey(a, cx, cy, scale_x=1.0, scale_y=1.0) -> array of shape (5, rings)

    Ring-by-ring profile around (cx, cy), one column per ring one unit wide
    after scaling; rows: minimum, maximum, weight, mean, standard deviation.

    >>> profile = zorvan.radial_survey(np.ones((8, 8), np.float32), 4, 4)
    """
    return _run("FRadialSurvey", _image(a), cx, cy, scale_x, scale_y)[0]


@_script("FGetCenterOfMass")
def center_of_mass(a, x, y, radius, cycles, threshold):
    """center_of_mass(a, x, y, radius, cycles, threshold) -> (cycles_done, x, y)

    Refines the start position (x, y) by the thresholded centre of mass of
    the disc of the given radius, for at most `cycles` cycles; cycles_done is
    0 when no position was found. Integer arrays are read on a float32 copy.

    >>> zorvan.center_of_mass(spot, 10.0, 12.0, 5.0, 50, 0.1)
    """
    done, (x, y) = _run("FGetCenterOfMass", _image(a), x, y, radius, cycles, threshold)
    return done, x, y


@_script("FWeight")
def weight(a, profile, cx, cy, scale_x, scale_y, mode, out=None):
    """weight(a, profile, cx, cy, scale_x, scale_y, mode, out=None) -> array

    Combines each pixel with the radial profile interpolated at its scaled
    distance from (cx, cy): mode 0 multiply, 1 add, 2 subtract, 3 replace.
    out= is written in place and returned; out=a works in place.

    >>> zorvan.weight(a, np.ones(16, np.float32), 8, 8, 1.0, 1.0, 0)
    """
    return _run("FWeight", _image(a), _image(profile), cx, cy, scale_x, scale_y, mode,
                _target(out, "out"))[0]


@_script("FFTWindow")
def ft_window(a, mode=0, out=None):
    """ft_window(a, mode=0, out=None) -> array

    Multiplies the first plane by a 2-D Hann (mode 0) or sine (mode 1)
    window: 0 at the first row and column, 1 at the centre. out= is written
    in place and returned; out=a works in place.

    >>> zorvan.ft_window(np.ones((4, 4), np.float32))
    """
    return _run("FFTWindow", _image(a), mode, _target(out, "out"))[0]


@_script("FMaximumFilter")
def maximum_filter(a, radius, out=None):
    """maximum_filter(a, radius, out=None) -> array

    Largest value of the (2*radius+1)^2 window cut to the image at its edges
    (NaN never wins); first plane only. out= (same dtype) is written and
    returned; it may not be a itself.

    >>> zorvan.maximum_filter(np.array([[1, 5, 2, 0]], np.uint8), 1)
    array([[5, 5, 5, 2]], dtype=uint8)
    """
    return _run("FMaximumFilter", _image(a), radius, _target(out, "out"))[0]


@_script("FInvertRotateDLL")
def invert_rotate(a):
    """invert_rotate(a) -> array

    A copy reflected through the centre pixel: even sizes k -> (n - k) mod n,
    odd sizes k -> n - 1 - k.

    >>> zorvan.invert_rotate(np.array([1, 2, 3, 4], np.float32))
    array([1., 4., 3., 2.], dtype=float32)
    """
    return _run("FInvertRotateDLL", _image(a))[0]


@_script("FRadialWarpDLL")
def radial_warp(size_like, profile, aspect_x=1.0, aspect_y=1.0):
    """radial_warp(size_like, profile, aspect_x=1.0, aspect_y=1.0) -> array

    An image of size_like's shape (its pixels are not read) where each pixel
    takes the profile, linearly interpolated, at its aspect-scaled distance
    from the centre.

    >>> zorvan.radial_warp(np.zeros((8, 8), np.float32), np.arange(8, dtype=np.float32))
    """
    return _run("FRadialWarpDLL", _image(size_like), _image(profile), aspect_x, aspect_y)[0]


@_script("FMeanComplexDLL")
def mean_complex(a):
    """mean_complex(a) -> complex

    The mean of the real parts and of the imaginary parts.

    >>> zorvan.mean_complex(np.array([1+2j, 3+0j], np.complex64))
    (2+1j)
    """
    _, (real, imag) = _run("FMeanComplexDLL", _image(a), None, None)
    return complex(real, imag)


@_script("FCreateFwhitsmMatrixDLL")
def penalty_matrix(width, weight):
    """penalty_matrix(width, weight) -> float64 array of shape (width, width)

    weight * D^T D with D the second-difference matrix, for Whittaker
    smoothing.

    >>> zorvan.penalty_matrix(4, 1.0)
    """
    return _run("FCreateFwhitsmMatrixDLL", width, weight)[0]


@_script("FElementWiseProductComplexByRealDLL")
def multiply_complex_by_real(c, r):
    """multiply_complex_by_real(c, r) -> array of c's dtype

    The element-wise product of a complex and a real array.

    >>> zorvan.multiply_complex_by_real(np.ones((2, 2), np.complex64), np.full((2, 2), 2.0))
    """
    return _run("FElementWiseProductComplexByRealDLL", _image(c), _image(r))[0]


@_script("FCreateWienerMaskDLL")
def wiener_mask(amplitude, base):
    """wiener_mask(amplitude, base) -> array

    The Wiener mask (A^2 - B^2) / A^2, clipped below at 0. IN PLACE: zeros
    of `amplitude` are overwritten with 1 in the caller's array.

    >>> zorvan.wiener_mask(np.array([[2.0, 0.0]]), np.array([[1.0, 1.0]]))
    array([[0.75, 0.  ]])
    """
    return _run("FCreateWienerMaskDLL", _target(amplitude, "amplitude"), _image(base))[0]


@_script("FPlusComplexImageDLL")
def add_complex(target, plus):
    """add_complex(target, plus) -> None

    IN PLACE: adds `plus` into `target`, the caller's array.

    >>> t = np.zeros(2, np.complex64); zorvan.add_complex(t, np.ones(2, np.complex64))
    """
    _run("FPlusComplexImageDLL", _target(target, "target"), _image(plus))


@_script("FCalculatePowerSpectrumDLL")
def power_spectrum(f):
    """power_spectrum(f) -> real array

    ln(re^2 + im^2) of every element (float32 for complex64, float64 for
    complex128).

    >>> zorvan.power_spectrum(np.array([[1+1j]], np.complex64))
    array([[0.6931472]], dtype=float32)
    """
    return _run("FCalculatePowerSpectrumDLL", _image(f))[0]


@_script("FWarpLinear2DDLL")
def rescale(a, fx, fy, out):
    """rescale(a, fx, fy, out) -> out

    Rescales a by fx, fy with linear interpolation (rows, then columns) into
    the existing array `out` of a's dtype, IN PLACE, and returns it.

    >>> big = np.zeros((4, 4), np.float32); zorvan.rescale(small, 2.0, 2.0, big)
    """
    _run("FWarpLinear2DDLL", _image(a), fx, fy, _target(out, "out"))
    return out


@_script("FDiffH")
def diff_h(a, n=1):
    """diff_h(a, n=1) -> array

    The n-th forward difference along x, n columns narrower, each order
    rounded to float32; n <= 0 returns a itself.

    >>> zorvan.diff_h(np.array([[1, 4, 9]], np.float32))
    array([[3., 5.]], dtype=float32)
    """
    return _run("FDiffH", _image(a), n)[0]


WienerDetails = collections.namedtuple("WienerDetails", "stages planes replaced_pixels converted")


def wiener(a, margin=4.0, smoothing=1000.0, window="hann"):
    """wiener(a, margin=4.0, smoothing=1000.0, window="hann") -> (filtered, details)

    The Wiener filter of `zorvan wiener`, by the same code: a 2-D image
    [y, x], or a stack [z, y, x] (or 4-D) filtered plane by plane. Pixels of
    any integer or real dtype are converted to float32 first; NaN and
    infinite pixels are replaced by the mean of their plane's finite pixels.
    The mask passes the power above `margin` times the background, smoothed
    with weight `smoothing`; `window` is the apodisation, "hann" or "sine".

    Returns the filtered float32 array of a's shape and
    WienerDetails(stages, planes, replaced_pixels, converted): stages maps
    each stage to its milliseconds, summed over the planes; converted says
    whether the pixels were converted to float32.

    Raises ZorvanError with the filter's message for what it refuses:
    complex pixels, a plane under 16 x 16 or of 2^31 pixels or more, a
    plane that is constant or has no finite pixel. Releases the GIL.

    >>> rng = np.random.default_rng(0)
    >>> filtered, details = zorvan.wiener(rng.poisson(10, (256, 256)).astype(np.uint16))
    >>> filtered.dtype, details.converted
    (dtype('float32'), True)
    """
    if not isinstance(a, np.ndarray):
        raise TypeError("zorvan: an image must be a NumPy array, not " + type(a).__name__)
    converted = a.dtype.kind in "iubf" and a.dtype != np.float32
    if a.dtype.newbyteorder("=") not in _CODES and a.dtype.kind in "iuf":
        a = a.astype(np.float32)  # int64, float16 and the like: what the command cannot read
    _dtype_check(a)
    if not 2 <= a.ndim <= 4:
        raise ValueError("zorvan: wiener takes a 2-D image or a stack of them, not %d-D" % a.ndim)
    if not isinstance(window, str) or window not in ("hann", "sine"):
        raise ValueError("zorvan: window is \"hann\" or \"sine\", not %r" % (window,))
    for name, value in (("margin", margin), ("smoothing", smoothing)):
        if isinstance(value, (bool, np.bool_)) or not isinstance(value, (int, float, np.integer, np.floating)) \
                or not (value > 0 and math.isfinite(value)):
            raise ValueError("zorvan: %s takes a positive number, not %r" % (name, value))
    filtered, stages, planes, replaced = _zorvan.wiener(np.ascontiguousarray(a, a.dtype.newbyteorder("=")),
                                                        float(margin), float(smoothing), int(window == "sine"))
    return filtered, WienerDetails(dict(stages), planes, replaced, converted)
