"""ZorvanFilters64's 19 script functions for NumPy arrays, and the Wiener filter of `zorvan wiener`.

The plug-in is loaded into the embedded host once, at import, and shut down
at exit. Each function calls its script function through the host, so the
numbers are exactly a script's; what the Python layer adds is stated in each
docstring:

- Pixels: each function takes the dtypes its script function accepts as
  they are, and converts camera data (integer dtypes, float16) to a float
  dtype that holds it exactly where the function's result means something
  for integer pixels; the docstring says which and the result's dtype. Any
  other dtype raises TypeError naming the dtype given and those accepted.
- Stacks: an array of more than two axes is a stack of [y, x] planes; every
  function works on each plane and stacks the results, as zorvan.dask does.
  (A script function reads the first plane only, and the moving averages
  take a cubic window: moving_average(a, r, cube=True) keeps that.)
- Arguments: radii and counts must be integers (operator.index) and not
  negative; every argument is checked before the host is reached, and the
  error names it.

zorvan.call(name, ...) calls a script function by its name with nothing
added: its dtypes, its planes, its messages.

Arrays: C-contiguous, aligned, writeable arrays in native byte order are lent
to the host without a copy; any other array is copied once. An argument the
function changes in place (out=, and the targets named in each docstring)
must be lendable, or ValueError is raised. The result of a 2-D call is an
array over the host image's memory, not a copy.

Errors: ZorvanError (a ValueError) carries a function's own script error;
Refused (a ZorvanError) is a silent refusal of the Fourier-space family,
naming what the function accepts; TypeError is a wrong Python type or dtype
and ValueError a number out of range, both raised before the host is
reached; ValueError also what the host cannot hold (a 0-length axis, more
than 4 axes).

    >>> import numpy as np, zorvan
    >>> zorvan.moving_average(np.arange(4, dtype=np.float32), 1)
    array([0.5, 1. , 2. , 2.5], dtype=float32)
    >>> zorvan.median_filter(np.array([[10, 90, 20]], np.uint16), 1)
    array([[50., 20., 55.]], dtype=float32)
"""

import collections
import math
import numbers
import operator

import numpy as np

from . import _zorvan
from ._zorvan import ZorvanError
from .io import FileError, imread, imwrite, list_images

ZorvanError.__module__ = __name__
__version__ = _zorvan.__version__

__all__ = [
    "ZorvanError", "Refused", "Survey", "SURVEY", "CENTER_OF_MASS", "call", "functions", "counters",
    "moving_average_pair", "moving_average", "median_filter", "survey", "radial_survey", "center_of_mass",
    "weight", "ft_window", "maximum_filter", "invert_rotate", "radial_warp", "mean_complex", "penalty_matrix",
    "multiply_complex_by_real", "wiener_mask", "add_complex", "power_spectrum", "rescale", "diff_h",
    "wiener", "FileError", "imread", "imwrite", "list_images",
]


class Refused(ZorvanError):
    """A Fourier-space function refused its input silently (a null image or 0)."""


Survey = collections.namedtuple("Survey", "min max sum sqsum")
SURVEY = np.dtype([("min", "f8"), ("max", "f8"), ("sum", "f8"), ("sqsum", "f8")])  # survey of a stack, per plane
CENTER_OF_MASS = np.dtype([("cycles_done", "i8"), ("x", "f8"), ("y", "f8")])  # center_of_mass of a stack

# The script-function table, one row per function, read by field name.
_Row = collections.namedtuple("_Row", "name prototype python_name counter silent summary pixel_types sizes")
_ROWS = {row["name"]: _Row(**row) for row in _zorvan.table()}
_CODES = _zorvan.type_codes()
_LONG = 2 ** 31  # a script's long is 32-bit signed


# ---- pixels ----

_EXACT_IN_FLOAT32 = ("bool", "int8", "uint8", "int16", "uint16", "float16")
_EXACT_IN_FLOAT64 = ("int32", "uint32", "int64")  # int64 up to 2**53
_HOST_INTEGERS = ("bool", "int8", "uint8", "int16", "uint16", "int32", "uint32")
_REAL = ("float32", "float64")
_COMPLEX = ("complex64", "complex128")


class _Pixels:
    """The dtypes an image argument takes as they are, and the dtypes it converts (name -> name)."""

    def __init__(self, native, converted=()):
        self.native, self.converted = tuple(native), dict(converted)

    def accept(self, function, role, a):
        _array(function, role, a)
        name = a.dtype.name
        if name in self.native:
            return a
        if name in self.converted:
            return a.astype(self.converted[name])
        raise TypeError("zorvan.%s: %s has dtype %s; it accepts %s" % (function, role, name, self.describe()))

    def describe(self):
        text = ", ".join(self.native)
        targets = {}
        for source, target in self.converted.items():
            targets.setdefault(target, []).append(source)
        for target, sources in targets.items():
            text += "; %s converted to %s" % (", ".join(sources), target)
        return text


def _to(target, sources):
    return {source: target for source in sources}


_FLOATS = _Pixels(_REAL, {**_to("float32", _EXACT_IN_FLOAT32), **_to("float64", _EXACT_IN_FLOAT64)})
_FLOATS_OR_COMPLEX = _Pixels(_REAL + _COMPLEX, _FLOATS.converted)
_FLOAT32 = _Pixels(("float32",), _to("float32", _EXACT_IN_FLOAT32 + _EXACT_IN_FLOAT64))
_ANY_REAL = _Pixels(_HOST_INTEGERS + _REAL, {"int64": "float64", "float16": "float32"})
_ONLY_COMPLEX = _Pixels(_COMPLEX)
_ONLY_REAL = _Pixels(_REAL)


def _array(function, role, a):
    if not isinstance(a, np.ndarray):
        raise TypeError("zorvan.%s: %s must be a NumPy array, not %s" % (function, role, type(a).__name__))


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


def _out(function, role, out, like, shape=None):
    """out= of a function whose result has like's dtype and shape (or `shape`)."""
    if out is None:
        return None
    _array(function, role, out)
    if out.dtype.name != like.dtype.name:
        raise TypeError("zorvan.%s: %s has dtype %s, but the result is %s; pass an array of dtype %s" %
                        (function, role, out.dtype.name, like.dtype.name, like.dtype.name))
    shape = like.shape if shape is None else shape
    if out.shape != shape:
        raise ValueError("zorvan.%s: %s has shape %s, but the result has shape %s" % (function, role, out.shape, shape))
    return _target(out, role)


def _same_dtype(function, roles, *arrays):
    if arrays[0].dtype.name != arrays[1].dtype.name:
        raise TypeError("zorvan.%s: %s is %s but %s is %s; both must have the same dtype" %
                        (function, roles[0], arrays[0].dtype.name, roles[1], arrays[1].dtype.name))


# ---- numbers ----

def _count(function, role, value, least=0):
    """An integer argument (radius, count, mode) >= least that fits a script's long."""
    try:
        n = operator.index(value)
    except TypeError:
        raise TypeError("zorvan.%s: %s must be an integer, not %s %r" %
                        (function, role, type(value).__name__, value)) from None
    if n < least:
        raise ValueError("zorvan.%s: %s must be >= %d, not %d" % (function, role, least, n))
    if n >= _LONG:
        raise ValueError("zorvan.%s: %s must be below 2**31, not %d" % (function, role, n))
    return n


def _real(function, role, value):
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Real):
        raise TypeError("zorvan.%s: %s must be a real number, not %s %r" %
                        (function, role, type(value).__name__, value))
    return float(value)


def _centre(function, role, value):
    """A centre coordinate: an integer as it is, a real number rounded to the nearest pixel (halves up)."""
    if not isinstance(value, (bool, np.bool_)) and isinstance(value, numbers.Integral):
        n = int(value)
    else:
        x = _real(function, role, value)
        if not math.isfinite(x):
            raise ValueError("zorvan.%s: %s must be finite, not %r" % (function, role, value))
        n = math.floor(x + 0.5)
    if not -_LONG <= n < _LONG:
        raise ValueError("zorvan.%s: %s must lie in [-2**31, 2**31), not %r" % (function, role, value))
    return n


# ---- stacks ----

def _planes(a):
    """The [y, x] planes of a stack (the index of each), or None for a 1-D or 2-D array or an empty stack."""
    return None if a.ndim < 3 or 0 in a.shape[:-2] else list(np.ndindex(a.shape[:-2]))


def _each_plane(a, out, filter_plane):
    """filter_plane(plane, out_plane) -> array, over every plane of a stack; a 2-D array in one call."""
    planes = _planes(a)
    if planes is None:
        return filter_plane(a, out)
    for k in planes:
        result = filter_plane(a[k], None if out is None else out[k])
        if out is None:
            out = np.empty(a.shape[:-2] + result.shape, result.dtype)
            out[k] = result
        elif not np.shares_memory(result, out[k]):
            out[k] = result
    return out


def _stacked(a, measure_plane, dtype):
    """measure_plane(plane) -> tuple per plane of a stack, as records of `dtype`; a 2-D array's tuple."""
    planes = _planes(a)
    if planes is None:
        return measure_plane(a)
    records = np.empty(a.shape[:-2], dtype)
    for k in planes:
        records[k] = tuple(measure_plane(a[k]))
    return records


# ---- calls ----

_LENDING = """
Arrays that are not C-contiguous, aligned, writeable and in native byte
order are copied once before the call; arguments changed in place must be
lendable (ValueError otherwise)."""


def _script(name, **pixels):
    """Appends the script function's name, summary, the pixel rules and the lending rule to the docstring."""
    row = _ROWS[name]

    def document(function):
        refusal = "raises Refused" if row.silent else "raises ZorvanError with its message"
        text = function.__doc__.rstrip() + "\n\n    Calls " + name + ": " + row.summary + ".\n"
        for role, rule in pixels.items():
            text += "    Pixels of %s: %s; any other dtype raises TypeError.\n" % (role, rule.describe())
        text += "    Otherwise the script function " + refusal + "."
        function.__doc__ = text + _LENDING.replace("\n", "\n    ") + "\n"
        function.script_name = name
        return function
    return document


def _describe(value):
    return "%s %s" % (value.dtype, list(value.shape)) if isinstance(value, np.ndarray) else repr(value)


def _run(name, *args):
    """Calls script function `name`; returns (result, outputs). A silent refusal raises Refused."""
    result, outputs = _zorvan.call(name, list(args))
    row = _ROWS[name]
    if row.silent and (result is None or isinstance(result, int) and result == 0):
        raise Refused("%s refused (%s): it accepts %s; sizes: %s" %
                      (name, ", ".join(_describe(a) for a in args), row.pixel_types, row.sizes))
    return result, outputs


def call(name, *args):
    """Calls a script function by its name with script arguments, exactly as a script would.

    Images are arrays of a host pixel type or None; `double *` arguments take
    their initial number; `ImageRef*` arguments an array or None. Returns the
    result, or (result, *outputs) when the function has `double *` or
    `ImageRef*` parameters. Nothing is converted or checked beyond what the
    host does: a script function's own dtypes, its first-plane and cubic
    rules for stacks, and its messages. A silent refusal comes back as None
    or 0 here, not as Refused.

    >>> zorvan.call("FMedianFilter", np.array([[1, 9, 2]], np.float32), 1, None)
    array([[5. , 2. , 5.5]], dtype=float32)
    >>> zorvan.call("FSurvey", np.array([1, 2], np.int16), 0, 0, 0, 0)
    (None, 1.0, 2.0, 3.0, 5.0)
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


_HELPERS = {"collections", "math", "numbers", "operator", "np"}


def __dir__():
    """The API: what the package defines and its submodules, not the modules it imports for its own use."""
    return sorted(name for name in globals()
                  if name not in _HELPERS and (not name.startswith("_") or name == "__version__"))


# ---- the neighbourhood filters ----

@_script("FMovingAverage2", a=_FLOATS_OR_COMPLEX)
def moving_average_pair(a, radius, mean=None, mean_sq=None, cube=False):
    """moving_average_pair(a, radius, mean=None, mean_sq=None, cube=False) -> (mean, mean_sq)

    Local mean and local mean of the squares (complex: v*v) over the
    (2*radius+1)^2 window of each plane, cut to the image at its edges.
    cube=True takes the (2*radius+1)^3 window across the planes of a stack,
    as the script function does. Arrays given as mean and mean_sq, of the
    result's dtype and a's shape, are overwritten in place and returned.

    NaN or infinity: the running sums carry a NaN (or an infinity once it has
    been subtracted) to every later window of its plane's rows and columns,
    not only the windows that hold it.

    >>> m, m2 = zorvan.moving_average_pair(np.array([[1, 3, 5]], np.uint8), 1)
    >>> m
    array([[2., 3., 4.]], dtype=float32)
    >>> m2.round(2)
    array([[ 5.  , 11.67, 17.  ]], dtype=float32)
    """
    radius = _count("moving_average_pair", "radius", radius)
    a = _FLOATS_OR_COMPLEX.accept("moving_average_pair", "a", a)
    mean = _out("moving_average_pair", "mean", mean, a)
    mean_sq = _out("moving_average_pair", "mean_sq", mean_sq, a)
    if _planes(a) is None:
        return tuple(_run("FMovingAverage2", _image(a), radius, mean, mean_sq)[1])
    if cube:
        if mean is None or mean_sq is None:  # a stack needs outputs of its depth
            mean, mean_sq = np.empty_like(a), np.empty_like(a)
        return tuple(_run("FMovingAverage2", _image(a), radius, mean, mean_sq)[1])
    if mean is None or mean_sq is None:
        mean, mean_sq = np.empty_like(a), np.empty_like(a)
    for k in _planes(a):
        _run("FMovingAverage2", _image(a[k]), radius, mean[k], mean_sq[k])
    return mean, mean_sq


@_script("FMovingAverage", a=_FLOATS_OR_COMPLEX)
def moving_average(a, radius, out=None, cube=False):
    """moving_average(a, radius, out=None, cube=False) -> array

    Mean over the (2*radius+1)^2 window of each plane, cut to the image at its
    edges, summed in the pixel's precision. cube=True takes the
    (2*radius+1)^3 window across the planes of a stack, as the script
    function does. out= (the result's dtype, a's shape) receives the result
    in place and is returned; out=a filters a in place.

    NaN or infinity: the running sums carry a NaN (or an infinity once it has
    been subtracted) to every later window of its plane's rows and columns,
    not only the windows that hold it.

    >>> zorvan.moving_average(np.arange(4, dtype=np.float32), 1)
    array([0.5, 1. , 2. , 2.5], dtype=float32)
    >>> zorvan.moving_average(np.array([[0, 3, 0]], np.int16), 1)
    array([[1.5, 1. , 1.5]], dtype=float32)
    """
    radius = _count("moving_average", "radius", radius)
    a = _FLOATS_OR_COMPLEX.accept("moving_average", "a", a)
    out = _out("moving_average", "out", out, a)
    if cube:
        return _run("FMovingAverage", _image(a), radius, out)[0]
    return _each_plane(a, out, lambda plane, out_plane: _run("FMovingAverage", _image(plane), radius, out_plane)[0])


@_script("FMedianFilter", a=_FLOATS)
def median_filter(a, radius, out=None):
    """median_filter(a, radius, out=None) -> array

    Median of the (2*radius+1)^2 window of each plane, cut to the image at its
    edges; an even count takes the mean of the middle two. NaN samples are
    left out; a window of NaN only gives NaN. out= (the result's dtype, a's
    shape) is written in place and returned; out=a filters in place, in the
    filter's visiting order, so later windows read values already filtered
    and the result differs from out=None's.

    >>> zorvan.median_filter(np.array([[1, 9, 2]], np.float32), 1)
    array([[5. , 2. , 5.5]], dtype=float32)
    >>> zorvan.median_filter(np.array([[1, np.nan, 3]]), 1)
    array([[1., 2., 3.]])
    """
    radius = _count("median_filter", "radius", radius)
    a = _FLOATS.accept("median_filter", "a", a)
    out = _out("median_filter", "out", out, a)
    return _each_plane(a, out, lambda plane, out_plane: _run("FMedianFilter", _image(plane), radius, out_plane)[0])


@_script("FMaximumFilter", a=_ANY_REAL)
def maximum_filter(a, radius, out=None):
    """maximum_filter(a, radius, out=None) -> array

    Largest value of the (2*radius+1)^2 window of each plane, cut to the image
    at its edges. NaN never wins: a window of NaN only gives the lowest finite
    value of the dtype (-3.4028235e+38 for float32). out= (the result's
    dtype, a's shape) is written and returned; it may not be a itself.

    >>> zorvan.maximum_filter(np.array([[1, 5, 2, 0]], np.uint8), 1)
    array([[5, 5, 5, 2]], dtype=uint8)
    >>> zorvan.maximum_filter(np.array([[np.nan, np.nan]], np.float32), 1)
    array([[-3.4028235e+38, -3.4028235e+38]], dtype=float32)
    """
    radius = _count("maximum_filter", "radius", radius)
    a = _ANY_REAL.accept("maximum_filter", "a", a)
    out = _out("maximum_filter", "out", out, a)
    return _each_plane(a, out, lambda plane, out_plane: _run("FMaximumFilter", _image(plane), radius, out_plane)[0])


@_script("FDiffH", a=_FLOAT32)
def diff_h(a, n=1):
    """diff_h(a, n=1) -> float32 array

    The n-th forward difference along x of each plane, n columns narrower,
    each order rounded to float32; n = 0 returns a itself (a float32 copy
    of other dtypes). A NaN spreads to the n + 1 differences it enters.

    >>> zorvan.diff_h(np.array([[1, 4, 9]], np.float32))
    array([[3., 5.]], dtype=float32)
    >>> zorvan.diff_h(np.array([[1, 4, 9]], np.uint16), 2)
    array([[2.]], dtype=float32)
    """
    n = _count("diff_h", "n", n)
    a = _FLOAT32.accept("diff_h", "a", a)
    if n == 0:
        return a
    return _each_plane(a, None, lambda plane, _: _run("FDiffH", _image(plane), n)[0])


# ---- the measurements ----

_SURVEY_PIXELS = _Pixels(_HOST_INTEGERS[1:] + _REAL, {"bool": "uint8", "int64": "float64", "float16": "float32"})


@_script("FSurvey", a=_SURVEY_PIXELS)
def survey(a):
    """survey(a) -> Survey(min, max, sum, sqsum); a stack: SURVEY records, one per plane

    Minimum, maximum, sum and sum of squares, accumulated in float64 in
    storage order. NaN pixels are never the minimum or maximum and make the
    sums NaN. A 1-D or 2-D array gives one Survey; a stack an array of
    SURVEY records (pandas.DataFrame(records) makes a table of it).

    >>> zorvan.survey(np.array([1, 2, 3], np.int16))
    Survey(min=1.0, max=3.0, sum=6.0, sqsum=14.0)
    >>> zorvan.survey(np.array([[[1, 2]], [[3, 4]]], np.uint16))["max"]
    array([2., 4.])
    """
    a = _SURVEY_PIXELS.accept("survey", "a", a)
    return _stacked(a, lambda plane: Survey(*_run("FSurvey", _image(plane), None, None, None, None)[1]), SURVEY)


@_script("FRadialSurvey", a=_FLOATS)
def radial_survey(a, cx, cy, scale_x=1.0, scale_y=1.0):
    """radial_survey(a, cx, cy, scale_x=1.0, scale_y=1.0) -> array of shape (5, rings); a stack: (z, 5, rings)

    Ring-by-ring profile of each plane around the pixel (cx, cy), which may
    lie outside the image. The centre is a whole pixel: a real cx or cy is
    rounded to the nearest integer (halves up). A pixel at x, y has the
    radius r = hypot(scale_x * (x - cx), scale_y * (y - cy)); it counts for
    the minimum and maximum of its nearest ring, int(r + 0.5), and is split
    between rings int(r) and int(r) + 1 with weights 1 - f and f,
    f = r - int(r), for the weight, mean and standard deviation. One column
    per ring, out to the farthest corner; rows: minimum, maximum, weight (a
    fractional pixel count), mean, standard deviation (divided by weight - 1,
    or by the weight when it is at most 1).

    Empty rings: a ring no pixel is nearest to keeps minimum 3.4028235e+38
    and maximum -3.4028235e+38 (float64: +-1.7976931348623157e+308), or 0
    and 0 past the last ring any pixel can be nearest to; a ring of weight 0
    has mean 0 and standard deviation NaN. A NaN pixel is never a minimum or
    maximum but makes the mean and deviation of its two rings NaN.

    >>> p = zorvan.radial_survey(np.ones((5, 5), np.float32), 2, 2)
    >>> p[2].round(3)
    array([ 1.   ,  6.343, 12.455,  5.202], dtype=float32)
    """
    cx, cy = _centre("radial_survey", "cx", cx), _centre("radial_survey", "cy", cy)
    scale_x, scale_y = _real("radial_survey", "scale_x", scale_x), _real("radial_survey", "scale_y", scale_y)
    a = _FLOATS.accept("radial_survey", "a", a)
    return _each_plane(a, None, lambda plane, _: _run("FRadialSurvey", _image(plane), cx, cy, scale_x, scale_y)[0])


_CENTER_OF_MASS_PIXELS = _Pixels(_HOST_INTEGERS + _REAL, {"int64": "float32", "float16": "float32"})


@_script("FGetCenterOfMass", a=_CENTER_OF_MASS_PIXELS)
def center_of_mass(a, x, y, radius, cycles=50, threshold=0.1):
    """center_of_mass(a, x, y, radius, cycles=50, threshold=0.1) -> (cycles_done, x, y); a stack: CENTER_OF_MASS records

    Refines the start position (x, y) (column, row; pixel centres at whole
    numbers) of a bright feature. Each cycle takes the pixels within
    `radius` of the current centre, subtracts threshold * (their maximum)
    from each (threshold is a fraction of the disc's maximum: 0 weighs the
    pixels as they are, 0.5 keeps what lies above half the peak), counts
    what stays above 0, and moves the centre to the centre of mass of that;
    it stops when the centre moves less than 0.1 pixel. cycles_done is the
    number of cycles run, or `cycles` when the budget ran out with a centre
    within `radius` of the start. 0 means not found: the disc left the image,
    the centre drifted `radius` or more from the start, or the start is not
    finite where the image has more than one line. NaN pixels weigh nothing.
    Integer and float16 pixels are read on a float32 copy, and the
    arithmetic is in float32 then; float64 pixels in float64. Each plane of a
    stack starts from (x, y).

    >>> spot = np.zeros((32, 32), np.uint16)
    >>> spot[12, 10] = 1000
    >>> zorvan.center_of_mass(spot, 11.0, 11.0, 3.0)
    (2, 10.0, 12.0)
    """
    x, y = _real("center_of_mass", "x", x), _real("center_of_mass", "y", y)
    radius = _real("center_of_mass", "radius", radius)
    if not radius >= 0:
        raise ValueError("zorvan.center_of_mass: radius must be >= 0, not %r" % radius)
    cycles = _count("center_of_mass", "cycles", cycles, least=1)
    threshold = _real("center_of_mass", "threshold", threshold)
    a = _CENTER_OF_MASS_PIXELS.accept("center_of_mass", "a", a)

    def refine(plane):
        done, (px, py) = _run("FGetCenterOfMass", _image(plane), x, y, radius, cycles, threshold)
        return done, px, py
    return _stacked(a, refine, CENTER_OF_MASS)


_WEIGHT_PIXELS = _Pixels(("float32", "complex64"), _FLOAT32.converted)
_PROFILE_PIXELS = _Pixels(("float32",), {**_FLOAT32.converted, "float64": "float32"})  # a weight table, not data


@_script("FWeight", a=_WEIGHT_PIXELS, profile=_PROFILE_PIXELS)
def weight(a, profile, cx, cy, scale_x, scale_y, mode, out=None):
    """weight(a, profile, cx, cy, scale_x, scale_y, mode, out=None) -> array

    Combines each pixel of each plane with the radial profile, linearly
    interpolated at the pixel's scaled distance from (cx, cy) (a real
    centre is rounded to the nearest pixel): mode 0 multiply, 1 add,
    2 subtract, 3 replace. out= (the result's dtype, a's shape) is written in place and
    returned; out=a works in place.

    >>> zorvan.weight(np.ones((1, 3), np.float32), np.array([1, 2, 3], np.float32), 0, 0, 1.0, 1.0, 0)
    array([[1., 2., 3.]], dtype=float32)
    """
    cx, cy = _centre("weight", "cx", cx), _centre("weight", "cy", cy)
    scale_x, scale_y = _real("weight", "scale_x", scale_x), _real("weight", "scale_y", scale_y)
    mode = _count("weight", "mode", mode)
    a = _WEIGHT_PIXELS.accept("weight", "a", a)
    profile = _PROFILE_PIXELS.accept("weight", "profile", profile)
    out = _out("weight", "out", out, a)
    return _each_plane(a, out, lambda plane, out_plane: _run(
        "FWeight", _image(plane), _image(profile), cx, cy, scale_x, scale_y, mode, out_plane)[0])


@_script("FFTWindow", a=_FLOAT32)
def ft_window(a, mode=0, out=None):
    """ft_window(a, mode=0, out=None) -> float32 array

    Multiplies each plane by a 2-D Hann (mode 0) or sine (mode 1) window:
    0 at the first row and column, 1 at the centre. out= (float32, a's
    shape) is written in place and returned; out=a works in place.

    >>> zorvan.ft_window(np.ones((4, 4), np.uint8))[2]
    array([0. , 0.5, 1. , 0.5], dtype=float32)
    """
    mode = _count("ft_window", "mode", mode)
    a = _FLOAT32.accept("ft_window", "a", a)
    out = _out("ft_window", "out", out, a)
    return _each_plane(a, out, lambda plane, out_plane: _run("FFTWindow", _image(plane), mode, out_plane)[0])


# ---- the Fourier-space family ----

@_script("FInvertRotateDLL", a=_FLOATS)
def invert_rotate(a):
    """invert_rotate(a) -> array

    A copy of each plane reflected through its centre pixel: even sizes
    k -> (n - k) mod n, odd sizes k -> n - 1 - k.

    >>> zorvan.invert_rotate(np.array([1, 2, 3, 4], np.float32))
    array([1., 4., 3., 2.], dtype=float32)
    """
    a = _FLOATS.accept("invert_rotate", "a", a)
    return _each_plane(a, None, lambda plane, _: _run("FInvertRotateDLL", _image(plane))[0])


@_script("FRadialWarpDLL", profile=_FLOATS)
def radial_warp(size_like, profile, aspect_x=1.0, aspect_y=1.0):
    """radial_warp(size_like, profile, aspect_x=1.0, aspect_y=1.0) -> array of size_like's [y, x] shape

    An image of size_like's last two axes (its pixels and dtype are not read)
    where each pixel takes the profile, linearly interpolated, at its
    aspect-scaled distance from the centre; samples beyond the profile count
    as 0. The result has the profile's dtype.

    >>> zorvan.radial_warp(np.zeros((1, 5)), np.array([1, 2, 3], np.float32))
    array([[3., 2., 1., 2., 3.]], dtype=float32)
    """
    _array("radial_warp", "size_like", size_like)
    aspect_x, aspect_y = _real("radial_warp", "aspect_x", aspect_x), _real("radial_warp", "aspect_y", aspect_y)
    profile = _FLOATS.accept("radial_warp", "profile", profile)
    shape = size_like.shape[-2:]
    if size_like.dtype.newbyteorder("=") not in _CODES or not _lendable(size_like) or size_like.ndim > 2:
        size_like = np.zeros(shape, np.uint8)
    return _run("FRadialWarpDLL", size_like, _image(profile), aspect_x, aspect_y)[0]


@_script("FMeanComplexDLL", a=_ONLY_COMPLEX)
def mean_complex(a):
    """mean_complex(a) -> complex; a stack: complex128 array, one per plane

    The mean of the real parts and of the imaginary parts.

    >>> zorvan.mean_complex(np.array([1+2j, 3+0j], np.complex64))
    (2+1j)
    """
    a = _ONLY_COMPLEX.accept("mean_complex", "a", a)

    def mean(plane):
        _, (real, imag) = _run("FMeanComplexDLL", _image(plane), None, None)
        return complex(real, imag)
    planes = _planes(a)
    if planes is None:
        return mean(a)
    means = np.empty(a.shape[:-2], np.complex128)
    for k in planes:
        means[k] = mean(a[k])
    return means


@_script("FCreateFwhitsmMatrixDLL")
def penalty_matrix(width, weight):
    """penalty_matrix(width, weight) -> float64 array of shape (width, width)

    weight * D^T D with D the second-difference matrix, for Whittaker
    smoothing; width at least 2.

    >>> zorvan.penalty_matrix(4, 1.0)
    array([[ 1., -2.,  1.,  0.],
           [-2.,  5., -4.,  1.],
           [ 1., -4.,  5., -2.],
           [ 0.,  1., -2.,  1.]])
    """
    width = _count("penalty_matrix", "width", width)
    return _run("FCreateFwhitsmMatrixDLL", width, _real("penalty_matrix", "weight", weight))[0]


def _each_pair(function, roles, a, b, pair_plane):
    """pair_plane(a_plane, b_plane) over the planes of stacks a and b (a 2-D one is used with every plane)."""
    if a.ndim < 3 and b.ndim < 3:
        return pair_plane(a, b)
    depth = a.shape[:-2] if a.ndim >= 3 else b.shape[:-2]
    for array, role in zip((a, b), roles):
        if array.ndim >= 3 and array.shape[:-2] != depth:
            raise ValueError("zorvan.%s: %s has planes %s, but %s has %s" %
                             (function, roles[0], a.shape[:-2], roles[1], b.shape[:-2]))
    if 0 in depth:
        return pair_plane(a, b)
    out = None
    for k in np.ndindex(depth):
        result = pair_plane(a[k] if a.ndim >= 3 else a, b[k] if b.ndim >= 3 else b)
        if result is None:
            continue
        if out is None:
            out = np.empty(depth + result.shape, result.dtype)
        out[k] = result
    return out


@_script("FElementWiseProductComplexByRealDLL", c=_ONLY_COMPLEX, r=_FLOATS)
def multiply_complex_by_real(c, r):
    """multiply_complex_by_real(c, r) -> array of c's dtype

    The element-wise product of a complex and a real array, plane by plane (a
    2-D r multiplies every plane of a stack c).

    >>> zorvan.multiply_complex_by_real(np.ones((1, 2), np.complex64), np.array([[2, 3]], np.uint8))
    array([[2.+0.j, 3.+0.j]], dtype=complex64)
    """
    c = _ONLY_COMPLEX.accept("multiply_complex_by_real", "c", c)
    r = _FLOATS.accept("multiply_complex_by_real", "r", r)
    return _each_pair("multiply_complex_by_real", ("c", "r"), c, r, lambda cp, rp: _run(
        "FElementWiseProductComplexByRealDLL", _image(cp), _image(rp))[0])


@_script("FCreateWienerMaskDLL", amplitude=_ONLY_REAL, base=_ONLY_REAL)
def wiener_mask(amplitude, base):
    """wiener_mask(amplitude, base) -> array

    The Wiener mask (A^2 - B^2) / A^2, clipped below at 0, of each plane.
    IN PLACE: zeros of `amplitude` are overwritten with 1 in the caller's
    array. Both arrays float32 or both float64.

    >>> zorvan.wiener_mask(np.array([[2.0, 0.0]]), np.array([[1.0, 1.0]]))
    array([[0.75, 0.  ]])
    """
    _ONLY_REAL.accept("wiener_mask", "amplitude", amplitude)
    _ONLY_REAL.accept("wiener_mask", "base", base)
    _same_dtype("wiener_mask", ("amplitude", "base"), amplitude, base)
    amplitude = _target(amplitude, "amplitude")
    return _each_pair("wiener_mask", ("amplitude", "base"), amplitude, base, lambda ap, bp: _run(
        "FCreateWienerMaskDLL", ap, _image(bp))[0])


@_script("FPlusComplexImageDLL", target=_ONLY_COMPLEX, plus=_ONLY_COMPLEX)
def add_complex(target, plus):
    """add_complex(target, plus) -> None

    IN PLACE: adds `plus` into `target`, the caller's array, plane by plane.
    Both complex64 or both complex128.

    >>> t = np.zeros(2, np.complex64)
    >>> zorvan.add_complex(t, np.array([1j, 2], np.complex64)); t
    array([0.+1.j, 2.+0.j], dtype=complex64)
    """
    _ONLY_COMPLEX.accept("add_complex", "target", target)
    _ONLY_COMPLEX.accept("add_complex", "plus", plus)
    _same_dtype("add_complex", ("target", "plus"), target, plus)
    target = _target(target, "target")
    _each_pair("add_complex", ("target", "plus"), target, plus, lambda tp, pp: _run(
        "FPlusComplexImageDLL", tp, _image(pp)) and None)


@_script("FCalculatePowerSpectrumDLL", f=_ONLY_COMPLEX)
def power_spectrum(f):
    """power_spectrum(f) -> real array

    ln(re^2 + im^2) of every element (float32 for complex64, float64 for
    complex128); a zero gives -inf.

    >>> zorvan.power_spectrum(np.array([[1+1j]], np.complex64))
    array([[0.6931472]], dtype=float32)
    """
    f = _ONLY_COMPLEX.accept("power_spectrum", "f", f)
    return _each_plane(f, None, lambda plane, _: _run("FCalculatePowerSpectrumDLL", _image(plane))[0])


@_script("FWarpLinear2DDLL", a=_FLOATS, out=_ONLY_REAL)
def rescale(a, fx, fy, out):
    """rescale(a, fx, fy, out) -> out

    Rescales each plane of a by fx, fy with linear interpolation (rows, then
    columns) into the existing array `out`, IN PLACE, and returns it; the
    last samples continue the slope of the last two. Integer and float16
    pixels of a are converted to out's dtype.

    >>> big = np.zeros((2, 4), np.float32)
    >>> zorvan.rescale(np.array([[0, 2], [4, 6]], np.uint8), 2.0, 1.0, big)
    array([[0., 1., 2., 3.],
           [4., 5., 6., 7.]], dtype=float32)
    """
    fx, fy = _real("rescale", "fx", fx), _real("rescale", "fy", fy)
    _ONLY_REAL.accept("rescale", "out", out)
    if a is not None and isinstance(a, np.ndarray) and a.dtype.name in _FLOATS.converted:
        a = a.astype(out.dtype)
    a = _ONLY_REAL.accept("rescale", "a", a)
    _same_dtype("rescale", ("a", "out"), a, out)
    out = _target(out, "out")
    if a.ndim >= 3 and out.ndim >= 3 and a.shape[:-2] != out.shape[:-2]:
        raise ValueError("zorvan.rescale: a has planes %s, but out has %s" % (a.shape[:-2], out.shape[:-2]))
    _each_pair("rescale", ("a", "out"), a, out, lambda ap, op: _run("FWarpLinear2DDLL", _image(ap), fx, fy, op) and None)
    return out


WienerDetails = collections.namedtuple(
    "WienerDetails", "stages planes replaced_pixels converted mask noise_power noise_variance kept_fraction "
                     "mask_passed profile")
WienerProfile = collections.namedtuple("WienerProfile", "ring_means background threshold noise rings_per_cycle")
_WIENER_MODES = ("wiener", "lattice")


def wiener(a, mode="wiener", margin=None, smoothing=1000.0, window="hann"):
    """wiener(a, mode="wiener", margin=None, smoothing=1000.0, window="hann") -> (filtered, details)

    The Wiener filter of `zorvan wiener`, by the same code: a 2-D image
    [y, x], or a stack [z, y, x] (or 4-D) filtered plane by plane. Pixels of
    any integer or real dtype are converted to float32 first; NaN and
    infinite pixels are replaced by the mean of their plane's finite pixels.

    mode "wiener" (for any image): the classical Wiener filter S / (S + N)
    of each ring of the spectrum, N the white noise power of its outermost
    rings, S the ring's smoothed mean power less N, together with the
    lattice mask. mode "lattice" (for crystal lattices): only the
    reflections standing `margin` times above their ring's mean power; it
    removes non-periodic detail. margin None: the mode's, 8 (wiener) or 4
    (lattice). `smoothing` is the Whittaker weight of the
    ring means; `window` the apodisation, "hann" or "sine".

    Returns the filtered float32 array of a's shape and WienerDetails:
    stages (each stage's milliseconds, summed over the planes), planes,
    replaced_pixels, converted (whether the pixels were converted to
    float32), and of the first plane: mask (float32 [y, x], the zero
    frequency at [h//2, w//2]), noise_power (N in the transform of the
    apodised plane), noise_variance (N as a white noise's variance per
    pixel), kept_fraction (of the power above N, the share the mask keeps),
    mask_passed (frequencies at 0.5 or more) and profile: WienerProfile of
    ring_means (mean ln power per ring), background (their smoothing),
    threshold (the lattice mask's level), noise (the mean ln power of noise
    alone) and rings_per_cycle (ring k is at k / rings_per_cycle cycles per
    pixel).

    Raises ZorvanError with the filter's message for what it refuses:
    complex pixels, a plane under 16 x 16 or of 2^31 pixels or more, a
    plane that is constant or has no finite pixel, and in wiener mode one
    whose outermost rings hold no power. Releases the GIL.

    >>> rng = np.random.default_rng(0)
    >>> filtered, details = zorvan.wiener(rng.poisson(10, (256, 256)).astype(np.uint16))
    >>> filtered.dtype, details.converted, round(details.noise_variance)
    (dtype('float32'), True, 10)
    """
    if not isinstance(a, np.ndarray):
        raise TypeError("zorvan: an image must be a NumPy array, not " + type(a).__name__)
    cast = a.dtype.newbyteorder("=") not in _CODES and a.dtype.kind in "iuf"
    if cast:
        a = a.astype(np.float32)  # int64, float16 and the like: what the command cannot read
    _dtype_check(a)
    if not 2 <= a.ndim <= 4:
        raise ValueError("zorvan: wiener takes a 2-D image or a stack of them, not %d-D" % a.ndim)
    if not isinstance(mode, str) or mode not in _WIENER_MODES:
        raise ValueError("zorvan: mode is \"wiener\" or \"lattice\", not %r" % (mode,))
    if not isinstance(window, str) or window not in ("hann", "sine"):
        raise ValueError("zorvan: window is \"hann\" or \"sine\", not %r" % (window,))
    for name, value in (("margin", 1.0 if margin is None else margin), ("smoothing", smoothing)):
        if isinstance(value, (bool, np.bool_)) or not isinstance(value, (int, float, np.integer, np.floating)) \
                or not (value > 0 and math.isfinite(value)):
            raise ValueError("zorvan: %s takes a positive number, not %r" % (name, value))
    filtered, d = _zorvan.wiener(np.ascontiguousarray(a, a.dtype.newbyteorder("=")), _WIENER_MODES.index(mode),
                                 math.nan if margin is None else float(margin), float(smoothing),
                                 int(window == "sine"))
    profile = WienerProfile(d["ring_means"], d["background"], d["threshold"], d["noise_ln_mean"],
                            d["rings_per_cycle"])
    return filtered, WienerDetails(dict(d["stages"]), d["planes"], d["replaced_pixels"], cast or d["converted"],
                                   d["mask"], d["noise_power"], d["noise_variance"], d["kept_fraction"],
                                   d["mask_passed"], profile)

