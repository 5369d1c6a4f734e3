"""Side-by-side benchmark: the plug-in's functions through the Python package
`zorvan` (the host's call path, call overhead included) against OpenCV,
scipy.ndimage and NumPy on the same arrays.

Each row times ours and every peer interleaved (ours, peer, peer, ours, ...)
and keeps the median of the repeats. The memory floor of a row is the bytes
the operation must read and write at the copy bandwidth measured in this run
(np.copyto of the same number of bytes; one thread for the filters and
measurements, two threads for the Fourier-space family, which runs its loops
in parallel).

Too slow for a size (estimated from a small probe): a row moves to a smaller
size, and a peer that would still take too long is left out; the row's note
says which.

    python3 bench/side_by_side.py [--quick] [--filter NAME] [--sizes 1024,4096] [--out bench-results]
"""

import argparse
import ctypes
import json
import math
import os
import statistics
import subprocess
import sys
import threading
import time

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")  # numpy's dot single-threaded, as the filters are

import cv2  # noqa: E402
import numpy as np  # noqa: E402
import scipy.ndimage as ndi  # noqa: E402

import zorvan  # noqa: E402

RADII = (1, 2, 3, 5, 10, 30)
QUICK_RADII = (1, 5, 30)
BUDGET = 3.0      # seconds one call may take at a row's size
SAMPLE = 0.02     # seconds one timed sample lasts at least (short calls are looped)
PROBE = 128       # probe size for the estimates
ROUNDS = 7        # most rounds of a row


# ---- timing ----

def _once(f):
    start = time.perf_counter()
    f()
    return time.perf_counter() - start


def _loops(f):
    """Calls per sample so that a sample lasts SAMPLE seconds; also the time of one call."""
    t = max(_once(f), 1e-7)
    return max(1, min(10000, int(SAMPLE / t))), t


def _sample(f, number):
    start = time.perf_counter()
    for _ in range(number):
        f()
    return (time.perf_counter() - start) / number


def interleaved(callables):
    """Median seconds per call of each callable, timed in turn round by round."""
    setup = [_loops(f) for f in callables]
    slowest = max(t for _, t in setup)
    repeats = min(ROUNDS, 7 if slowest < 0.1 else 5 if slowest < 0.5 else 3 if slowest < 1.5 else 1)
    samples = [[] for _ in callables]
    for _ in range(repeats):
        for i, f in enumerate(callables):
            samples[i].append(_sample(f, setup[i][0]))
    return [statistics.median(s) for s in samples]


_bandwidth = {}


def copy_bandwidth(nbytes, threads):
    """Bytes per second read plus written by np.copyto of nbytes, on one or two threads."""
    key = (nbytes, threads)
    if key not in _bandwidth:
        n = max(2, nbytes // 8)  # a copy of nbytes / 2 reads and writes nbytes
        src = np.ones(n, np.float32)
        dst = np.empty_like(src)
        halves = [(dst[:n // 2], src[:n // 2]), (dst[n // 2:], src[n // 2:])]

        def two():
            workers = [threading.Thread(target=np.copyto, args=h) for h in halves]
            for w in workers:
                w.start()
            for w in workers:
                w.join()

        copy = (lambda: np.copyto(dst, src)) if threads == 1 else two
        _bandwidth[key] = 2 * src.nbytes / interleaved([copy])[0]
    return _bandwidth[key]


# ---- inputs ----

_rng = np.random.default_rng(16)


def image(n, dtype, m=None):
    shape = (n, m or n)
    dtype = np.dtype(dtype)
    if dtype.kind == "c":
        return (_rng.random(shape, np.float32) + 1j * _rng.random(shape, np.float32)).astype(dtype)
    if dtype.kind in "iu":
        return _rng.integers(0, 200, shape).astype(dtype)
    return _rng.random(shape).astype(dtype) + dtype.type(0.01)


def _c_logf_loop():
    """ln(re^2 + im^2) by a plain scalar loop over the C library's logf, built beside the package."""
    path = os.environ.get("ZORVAN_LOGF_LOOP")
    if not path or not os.path.exists(path):
        return None
    lib = ctypes.CDLL(path)
    lib.log_power_loop.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_long]
    return lib.log_power_loop


# ---- the rows: each maker returns ours, the peers and the bytes moved for an n x n image ----

class Case:
    def __init__(self, op, dtype, radius, make, threads=1, note="", at_size=False, own_process=False):
        self.op, self.dtype, self.radius, self.make, self.threads, self.note = op, dtype, radius, make, threads, note
        self.at_size = at_size
        self.own_process = own_process  # timed in a process whose OpenMP regions have `threads` threads


def _kernel(k):
    return cv2.getStructuringElement(cv2.MORPH_RECT, (k, k))


def moving_average(dtype, r):
    def make(n):
        a = image(n, dtype)
        out = np.empty_like(a)
        k = 2 * r + 1
        peers = {"scipy uniform_filter": lambda: ndi.uniform_filter(a, k, output=out, mode="constant")}
        if np.dtype(dtype).kind == "f":
            peers["cv2 blur"] = lambda: cv2.blur(a, (k, k), dst=out)
        else:  # complex: OpenCV on the two parts as channels
            v = a.view(np.float32 if a.dtype == np.complex64 else np.float64).reshape(n, n, 2)
            w = np.empty_like(v)
            peers["cv2 blur"] = lambda: cv2.blur(v, (k, k), dst=w)
        return (lambda: zorvan.moving_average(a, r, out=out)), peers, 2 * a.nbytes
    return Case("FMovingAverage", dtype, r, make)


def moving_average_pair(dtype, r):
    def make(n):
        a = image(n, dtype)
        m, m2 = np.empty_like(a), np.empty_like(a)
        k = 2 * r + 1
        depth = cv2.CV_32F if a.dtype == np.float32 else cv2.CV_64F

        def cv():
            cv2.blur(a, (k, k), dst=m)
            cv2.sqrBoxFilter(a, depth, (k, k), dst=m2)

        def scipy():
            ndi.uniform_filter(a, k, output=m, mode="constant")
            np.multiply(a, a, out=m2)
            ndi.uniform_filter(m2, k, output=m2, mode="constant")

        return ((lambda: zorvan.moving_average_pair(a, r, mean=m, mean_sq=m2)),
                {"cv2 blur+sqrBoxFilter": cv, "scipy uniform_filter x2": scipy}, 3 * a.nbytes)
    return Case("FMovingAverage2", dtype, r, make)


def median(dtype, r):
    def make(n):
        a = image(n, dtype)
        out = np.empty_like(a)
        k = 2 * r + 1
        peers = {"scipy median_filter": lambda: ndi.median_filter(a, k, output=out, mode="constant")}
        if k <= 5 and a.dtype == np.float32:  # OpenCV's float median takes 3x3 and 5x5 only
            peers["cv2 medianBlur"] = lambda: cv2.medianBlur(a, k, dst=out)
        return (lambda: zorvan.median_filter(a, r, out=out)), peers, 2 * a.nbytes
    return Case("FMedianFilter", dtype, r, make)


def maximum(dtype, r):
    def make(n):
        a = image(n, dtype)
        out = np.empty_like(a)
        k = 2 * r + 1
        peers = {"scipy maximum_filter": lambda: ndi.maximum_filter(a, k, output=out, mode="constant",
                                                                    cval=-np.inf if a.dtype.kind == "f" else 0)}
        if a.dtype != np.int32:  # OpenCV's morphology has no 32-bit integers
            kernel = _kernel(k)
            peers["cv2 dilate"] = lambda: cv2.dilate(a, kernel, dst=out)
        return (lambda: zorvan.maximum_filter(a, r, out=out)), peers, 2 * a.nbytes
    return Case("FMaximumFilter", dtype, r, make)


def survey(dtype):
    def make(n):
        a = image(n, dtype)
        flat = a.ravel()
        wide = flat.astype(np.float64) if a.dtype.kind in "iu" else None

        def cv():
            cv2.minMaxLoc(a)
            cv2.sumElems(a)
            cv2.norm(a, cv2.NORM_L2SQR)

        def numpy():
            a.min()
            a.max()
            a.sum(dtype=np.float64)
            np.dot(flat, flat) if wide is None else np.dot(wide, wide)

        peers = {"numpy min/max/sum/dot": numpy, "cv2 minMaxLoc+sumElems+norm": cv}
        return (lambda: zorvan.survey(a)), peers, a.nbytes
    note = "numpy's dot on a float64 copy made beforehand" if np.dtype(dtype).kind in "iu" else ""
    return Case("FSurvey", dtype, None, make, note=note)


def radial_survey(dtype):
    def make(n):
        a = image(n, dtype)
        c = n // 2
        y, x = np.ogrid[-c:n - c, -c:n - c]
        rings = int(math.ceil(math.hypot(c, c))) + 2

        def numpy():
            r = np.hypot(x.astype(a.dtype), y.astype(a.dtype)).ravel()
            i0 = r.astype(np.intp)
            f = r - i0
            g = 1 - f
            p = a.ravel()
            w = np.bincount(i0, g, rings) + np.bincount(i0 + 1, f, rings + 1)[:rings]
            pf, pg = p * f, p * g
            s = np.bincount(i0, pg, rings) + np.bincount(i0 + 1, pf, rings + 1)[:rings]
            q = np.bincount(i0, p * pg, rings) + np.bincount(i0 + 1, p * pf, rings + 1)[:rings]
            k = (r + 0.5).astype(np.intp)
            order = np.argsort(k, kind="stable")
            starts = np.searchsorted(k[order], np.arange(rings))
            np.minimum.reduceat(p[order], starts[starts < p.size])
            np.maximum.reduceat(p[order], starts[starts < p.size])
            return w, s, q

        return (lambda: zorvan.radial_survey(a, c, c)), {"numpy hypot+bincount+reduceat": numpy}, a.nbytes
    return Case("FRadialSurvey", dtype, None, make)


def center_of_mass(dtype, r):
    def make(n):
        a = image(n, dtype)
        c = n // 2
        window = a[c - r:c + r + 1, c - r:c + r + 1]
        return ((lambda: zorvan.center_of_mass(a, float(c), float(c), float(r), 1, 0.5)),
                {"scipy center_of_mass": lambda: ndi.center_of_mass(window)}, window.nbytes)
    return Case("FGetCenterOfMass", dtype, r, make, note="one cycle; scipy on the disc's square window")


def weight(dtype):
    def make(n):
        a = image(n, dtype)
        out = np.empty_like(a)
        c = n // 2
        table = np.linspace(1, 0, n, dtype=np.float32)
        xp = np.arange(n, dtype=np.float32)
        y, x = np.ogrid[-c:n - c, -c:n - c]
        x, y = x.astype(np.float32), y.astype(np.float32)
        d = np.empty((n, n), np.float32)

        def numpy():
            np.hypot(x, y, out=d)
            np.multiply(a, np.interp(d, xp, table).astype(np.float32), out=out)

        return ((lambda: zorvan.weight(a, table, c, c, 1.0, 1.0, 0, out=out)), {"numpy hypot+interp+multiply": numpy},
                2 * a.nbytes)
    return Case("FWeight", dtype, None, make, note="mode 0 (multiply)")


def ft_window(dtype):
    def make(n):
        a = image(n, dtype)
        out = np.empty_like(a)
        i = np.arange(n, dtype=np.float32)

        def numpy():
            w = (1 - np.cos(i * np.float32(2 * np.pi / n))).astype(np.float32)
            np.multiply(a, w[:, None], out=out)
            np.multiply(out, w * np.float32(0.25), out=out)

        return (lambda: zorvan.ft_window(a, 0, out=out)), {"numpy outer window multiply": numpy}, 2 * a.nbytes
    return Case("FFTWindow", dtype, None, make, note="Hann")


def diff_h(dtype):
    def make(n):
        a = image(n, dtype)
        out = np.empty((n, n - 1), a.dtype)
        return ((lambda: zorvan.diff_h(a, 1)), {"numpy subtract out=": lambda: np.subtract(a[:, 1:], a[:, :-1], out=out)},
                a.nbytes + out.nbytes)
    return Case("FDiffH", dtype, None, make, note="n = 1; ours allocates its result")


def invert_rotate(dtype):
    def make(n):
        a = image(n, dtype)
        out = np.empty_like(a)

        def numpy():
            out[1:, 1:] = a[:0:-1, :0:-1]
            out[0, 1:] = a[0, :0:-1]
            out[1:, 0] = a[:0:-1, 0]
            out[0, 0] = a[0, 0]

        peers = {"numpy slices": numpy}
        if a.dtype == np.float32:
            peers["cv2 flip"] = lambda: cv2.flip(a, -1, dst=out)
        return (lambda: zorvan.invert_rotate(a)), peers, 2 * a.nbytes
    return Case("FInvertRotateDLL", dtype, None, make, threads=2, note="ours allocates its result")


def radial_warp(dtype):
    def make(n):
        size_like = np.empty((n, n), dtype)
        profile = np.linspace(1, 0, n // 2, dtype=dtype)
        xp = np.arange(n // 2, dtype=np.float64)
        c = n // 2
        y, x = np.ogrid[-c:n - c, -c:n - c]
        x, y = x.astype(np.float64), y.astype(np.float64)
        d = np.empty((n, n))
        out = np.empty((n, n), dtype)

        def numpy():
            np.hypot(x, y, out=d)
            out[...] = np.interp(d, xp, profile, right=0)

        return ((lambda: zorvan.radial_warp(size_like, profile)), {"numpy hypot+interp": numpy},
                out.nbytes)
    return Case("FRadialWarpDLL", dtype, None, make, threads=2, note="ours allocates its result")


def mean_complex(dtype):
    def make(n):
        a = image(n, dtype)
        parts = a.view(np.float32 if a.dtype == np.complex64 else np.float64).reshape(n, n, 2)
        return ((lambda: zorvan.mean_complex(a)), {"numpy mean": lambda: a.mean(), "cv2 mean": lambda: cv2.mean(parts)},
                a.nbytes)
    return Case("FMeanComplexDLL", dtype, None, make, threads=2)


def penalty_matrix(dtype):
    def make(n):
        out = np.empty((n, n))
        flat = out.reshape(-1)

        def numpy():  # weight * D^T D for weight 1: five diagonals
            out.fill(0)
            main = flat[::n + 1]
            main[:] = 6.0
            main[0] = main[-1] = 1.0
            main[1] = main[-2] = 5.0
            for first, length, value in ((1, n - 1, -4.0), (n, n - 1, -4.0), (2, n - 2, 1.0), (2 * n, n - 2, 1.0)):
                diagonal = flat[first::n + 1][:length]
                diagonal[:] = value
                if value < 0:
                    diagonal[0] = diagonal[-1] = -2.0

        return (lambda: zorvan.penalty_matrix(n, 1.0)), {"numpy zeros+diagonals": numpy}, out.nbytes
    return Case("FCreateFwhitsmMatrixDLL", dtype, None, make, threads=2, note="n x n float64")


def multiply_complex_by_real(dtype):
    def make(n):
        c = image(n, dtype)
        r = image(n, np.float32)
        out = np.empty_like(c)
        parts = c.view(np.float32).reshape(n, n, 2)
        out_parts = out.view(np.float32).reshape(n, n, 2)
        peers = {"numpy multiply out=": lambda: np.multiply(c, r, out=out),
                 "numpy multiply parts": lambda: np.multiply(parts, r[..., None], out=out_parts)}
        return (lambda: zorvan.multiply_complex_by_real(c, r)), peers, 2 * c.nbytes + r.nbytes
    return Case("FElementWiseProductComplexByRealDLL", dtype, None, make, threads=2, note="ours allocates its result")


def wiener_mask(dtype):
    def make(n):
        a = image(n, dtype) + 1
        b = image(n, dtype)
        out = np.empty_like(a)
        t = np.empty_like(a)

        def numpy():
            np.multiply(a, a, out=out)
            np.multiply(b, b, out=t)
            np.subtract(out, t, out=t)
            np.divide(t, out, out=out)
            np.maximum(out, 0, out=out)

        return (lambda: zorvan.wiener_mask(a, b)), {"numpy 5 ufuncs out=": numpy}, 3 * a.nbytes
    return Case("FCreateWienerMaskDLL", dtype, None, make, threads=2, note="ours allocates its result")


def add_complex(dtype):
    def make(n):
        t = image(n, dtype)
        p = image(n, dtype) * 0
        tv, pv = t.view(np.float32).reshape(n, 2 * n), p.view(np.float32).reshape(n, 2 * n)
        peers = {"numpy add out=": lambda: np.add(t, p, out=t), "cv2 add": lambda: cv2.add(tv, pv, dst=tv)}
        return (lambda: zorvan.add_complex(t, p)), peers, 3 * t.nbytes
    return Case("FPlusComplexImageDLL", dtype, None, make, threads=2)


def power_spectrum(dtype):
    def make(n):
        c = image(n, dtype)
        out = np.empty((n, n), np.float32)
        t = np.empty_like(out)
        re, im = c.real, c.imag

        def numpy():
            np.multiply(re, re, out=out)
            np.multiply(im, im, out=t)
            np.add(out, t, out=out)
            np.log(out, out=out)

        peers = {"numpy square+add+log out=": numpy}
        loop = _c_logf_loop()
        if loop is not None:
            peers["C logf loop"] = lambda: loop(c.ctypes.data, out.ctypes.data, c.size)
        return (lambda: zorvan.power_spectrum(c)), peers, c.nbytes + out.nbytes
    return Case("FCalculatePowerSpectrumDLL", dtype, None, make, threads=2, note="ours allocates its result")


def rescale(dtype):
    def make(n):
        a = image(n // 2, dtype)
        out = np.empty((n, n), dtype)
        return ((lambda: zorvan.rescale(a, 2.0, 2.0, out)),
                {"cv2 resize": lambda: cv2.resize(a, (n, n), dst=out, interpolation=cv2.INTER_LINEAR)},
                a.nbytes + out.nbytes)
    return Case("FWarpLinear2DDLL", dtype, None, make, threads=2, note="2x up to the size shown")


def _smooth_side(n):
    """The side `zorvan.wiener` transforms: n with 16 mirrored pixels or more a side, of factors 2, 3, 5, 7 alone."""
    m = n + 32
    while True:
        rest = m
        for f in (2, 3, 5, 7):
            while rest % f == 0:
                rest //= f
        if rest == 1:
            return m
        m += 1


def numpy_wiener(a, workers=1, smoothing=1000.0, margin=8.0):
    """The Wiener pipeline of `zorvan.wiener` (its default mode) written in NumPy/scipy: mirrored edges, Hann
    window, scipy.fft real transforms, ring means by np.bincount, Whittaker smoothing by a sparse banded solve,
    the noise from the outermost rings, both masks in NumPy, the product and the inverse transform."""
    import scipy.fft
    import scipy.sparse
    import scipy.sparse.linalg
    h0, w0 = a.shape
    h, w = _smooth_side(h0), _smooth_side(w0)
    top, left = (h - h0) // 2, (w - w0) // 2
    plane = np.pad(a, ((top, h - h0 - top), (left, w - w0 - left)), mode="symmetric")
    window = np.outer(np.hanning(h + 1)[:h], np.hanning(w + 1)[:w]).astype(np.float32)
    windowed = scipy.fft.rfft2(plane * window, workers=workers)
    raw = scipy.fft.rfft2(plane, workers=workers)
    power = windowed.real ** 2 + windowed.imag ** 2
    longer = max(w, h)
    fy = scipy.fft.fftfreq(h).astype(np.float32) * longer
    fx = scipy.fft.rfftfreq(w).astype(np.float32) * longer
    radius = np.sqrt(fy[:, None] ** 2 + fx[None, :] ** 2)
    ring = (radius + 0.5).astype(np.intp).ravel()
    rings = ring.max() + 1
    means = np.bincount(ring, power.ravel(), rings) / np.maximum(np.bincount(ring, None, rings), 1)
    y = np.log(np.maximum(means, 1e-30))
    y[:3] = y[3]
    d = scipy.sparse.diags([1.0, -2.0, 1.0], [0, 1, 2], shape=(rings - 2, rings))
    background = scipy.sparse.linalg.spsolve((scipy.sparse.identity(rings) + smoothing * (d.T @ d)).tocsc(), y)
    noise = np.exp(np.median(y[int(np.ceil(0.75 * longer / 2)):longer // 2 + 1]))
    ring_power = np.interp(radius, np.arange(rings), np.exp(background)).astype(np.float32)
    lattice = np.clip(1 - margin * ring_power / np.maximum(power, 1e-30), 0, 1)
    mask = np.maximum(lattice, np.clip(1 - noise / ring_power, 0, 1))
    out = scipy.fft.irfft2(raw * mask, s=(h, w), workers=workers)
    return out[top:top + h0, left:left + w0].astype(np.float32)


def wiener_end_to_end(dtype, threads):
    def make(n):
        a = (image(n, np.float32) * 100).astype(dtype)
        transforms = zorvan._zorvan.wiener_transforms(n, n)
        return ((lambda: zorvan.wiener(a)),
                {"numpy/scipy.fft pipeline": lambda: numpy_wiener(a, workers=threads),
                 "3 real FFTW transforms": transforms},
                a.nbytes * 2)
    return Case("zorvan.wiener (end to end)", dtype, None, make, threads=threads, at_size=True, own_process=True,
                note="OMP_NUM_THREADS=%d, scipy.fft workers=%d; the transforms: ours, reused plans, %s" % (
                    threads, threads, "1 thread" if threads == 1 else "%d threads" % threads))


def cases(radii):
    """The rows of the table: for each script function, in the order of the plug-in's table, its cases."""
    by_function = {
        "moving_average_pair": [moving_average_pair(np.float32, r) for r in radii] + [moving_average_pair(np.float64, 3)],
        "moving_average": ([moving_average(np.float32, r) for r in radii] +
                           [moving_average(np.float64, 3), moving_average(np.complex64, 3)]),
        "median_filter": [median(np.float32, r) for r in radii] + [median(np.float64, 3)],
        "survey": [survey(t) for t in (np.float32, np.float64, np.uint8, np.int32)],
        "radial_survey": [radial_survey(np.float32), radial_survey(np.float64)],
        "center_of_mass": [center_of_mass(np.float32, r) for r in (3, 30)],
        "weight": [weight(np.float32)],
        "ft_window": [ft_window(np.float32)],
        "maximum_filter": ([maximum(np.float32, r) for r in radii] +
                           [maximum(np.uint8, 3), maximum(np.uint16, 3), maximum(np.int16, 3), maximum(np.int32, 3),
                            maximum(np.uint8, 30)]),
        "invert_rotate": [invert_rotate(np.float32), invert_rotate(np.float64)],
        "radial_warp": [radial_warp(np.float32), radial_warp(np.float64)],
        "mean_complex": [mean_complex(np.complex64)],
        "penalty_matrix": [penalty_matrix(np.float64)],
        "multiply_complex_by_real": [multiply_complex_by_real(np.complex64)],
        "wiener_mask": [wiener_mask(np.float32), wiener_mask(np.float64)],
        "add_complex": [add_complex(np.complex64)],
        "power_spectrum": [power_spectrum(np.complex64)],
        "rescale": [rescale(np.float32)],
        "diff_h": [diff_h(np.float32)],
    }
    rows = []
    for function in zorvan._ROWS.values():
        rows += by_function.pop(function.python_name)  # a KeyError: a script function without a row here
    assert not by_function, "rows for functions the plug-in does not have: %s" % sorted(by_function)
    return rows + [wiener_end_to_end(np.float32, 1), wiener_end_to_end(np.float32, 2)]


# ---- running a row ----

def _estimate(f_at, n):
    """Seconds one call of f_at(size) would take at n, from probes growing from PROBE until n or too slow."""
    size = min(PROBE, n)
    while True:
        t = _once(f_at(size))
        if size >= n:
            return t, n
        guess = t * (n / size) ** 2
        if guess <= BUDGET / 4 or t * 4 > BUDGET:
            return guess, size
        size *= 2


def _fits(make, n, pick):
    """Largest size <= n (halving) at which pick(made) fits the budget, estimated by probes."""
    guess, _ = _estimate(lambda s: pick(make(s)), n)
    size = n
    while guess > BUDGET and size > PROBE:
        size //= 2
        guess /= 4
    return size, guess


def run_case(case, n):
    threads = case.threads
    cv2.setNumThreads(threads)
    notes = [case.note] if case.note else []
    # A row that must be timed at its size (the end-to-end filter: its targets are at 2048 and 4096).
    size = n if case.at_size else _fits(case.make, n, lambda made: made[0])[0]
    if size < n:
        notes.append("ours ~%.0f s at %d: timed at %d" % (_estimate(lambda s: case.make(s)[0], n)[0], n, size))
    names = list(case.make(PROBE)[1])
    fitting = {}
    for name in names:
        if case.at_size:
            fitting[name] = (size, 0.0)
            continue
        peer_size, guess = _fits(case.make, size, lambda made: made[1][name])
        fitting[name] = (peer_size, guess * 4 ** (math.log2(size / peer_size)))
    if fitting and all(s < size for s, _ in fitting.values()):  # no peer at this size: shrink the row
        best = max(s for s, _ in fitting.values())
        notes.append("peers too slow at %d: row timed at %d" % (size, best))
        size = best
    ours, peers, nbytes = case.make(size)
    skipped = [name for name, (s, _) in fitting.items() if s < size]
    for name in skipped:
        notes.append("%s ~%.0f s at %d: not timed" % (name, fitting[name][1], size))
        del peers[name]
    times = interleaved([ours] + list(peers.values()))
    ours_s, peer_s = times[0], dict(zip(peers, times[1:]))
    best = min(peer_s, key=peer_s.get) if peer_s else None
    if "C logf loop" in peer_s:
        notes.append("ours/C logf loop %.2f" % (ours_s / peer_s["C logf loop"]))
    if "numpy/scipy.fft pipeline" in peer_s:
        notes.append("ours/numpy-scipy pipeline %.3f" % (ours_s / peer_s["numpy/scipy.fft pipeline"]))
    if "3 real FFTW transforms" in peer_s:
        notes.append("ours/3 transforms %.2f" % (ours_s / peer_s["3 real FFTW transforms"]))
    floor = nbytes / copy_bandwidth(nbytes, threads)
    return {"op": case.op, "type": np.dtype(case.dtype).name, "size": size, "radius": case.radius,
            "ours": ours_s * 1e3, "peer": best, "peer_ms": peer_s[best] * 1e3 if best else None,
            "peers": {k: v * 1e3 for k, v in peer_s.items()}, "floor": ours_s / floor, "threads": threads,
            "note": "; ".join(notes)}


# ---- output ----

def _fmt(v):
    return "-" if v is None else "%.3f" % v if v < 1 else "%.2f" % v if v < 100 else "%.0f" % v


def markdown(rows, bw):
    lines = ["| operation | type | size | radius | ours ms | fastest peer | peer ms | ours/peer | ours/floor | note |",
             "|---|---|---|---|---|---|---|---|---|---|"]
    for r in rows:
        ratio = r["ours"] / r["peer_ms"] if r["peer_ms"] else None
        lines.append("| %s | %s | %d | %s | %s | %s | %s | %s | %s | %s |" % (
            r["op"], r["type"], r["size"], "-" if r["radius"] is None else r["radius"], _fmt(r["ours"]),
            r["peer"] or "-", _fmt(r["peer_ms"]), _fmt(ratio), _fmt(r["floor"]),
            ("%d threads; " % r["threads"] if r["threads"] > 1 else "") + r["note"]))
    head = ("Ours through the Python package `zorvan`; peers OpenCV %s, scipy, NumPy %s on the same arrays; "
            "medians of interleaved repeats. ours/peer < 1: ours is faster. ours/floor: ours against the time to "
            "read and write the operation's bytes at this run's copy bandwidth (1 thread: %.1f GB/s, 2 threads: "
            "%.1f GB/s at 64 MiB).\n\n" % (cv2.__version__, np.__version__, bw[0] / 1e9, bw[1] / 1e9))
    return head + "\n".join(lines) + "\n"


def svg(rows):
    """Horizontal bars of ours/peer on a log scale, 1 marked; green where ours is faster."""
    rows = [r for r in rows if r["peer_ms"]]
    bar_h, left, width = 16, 370, 460
    lo, hi = -4.0, 6.0  # log2 of the ratio
    height = 40 + bar_h * len(rows)

    def x(ratio):
        v = min(max(math.log2(ratio), lo), hi)
        return left + (v - lo) / (hi - lo) * width

    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" font-family="sans-serif" '
           'font-size="11">' % (left + width + 70, height),
           '<text x="4" y="14" font-size="13">ours / fastest peer (log scale; left of 1: ours faster)</text>']
    for k in range(int(lo), int(hi) + 1):
        gx = x(2.0 ** k)
        out.append('<line x1="%.1f" y1="24" x2="%.1f" y2="%d" stroke="%s"/>' %
                   (gx, gx, height - 4, "#000" if k == 0 else "#ddd"))
        out.append('<text x="%.1f" y="%d" text-anchor="middle" fill="#555">%g</text>' % (gx, height, 2.0 ** k))
    for i, r in enumerate(rows):
        y = 28 + i * bar_h
        ratio = r["ours"] / r["peer_ms"]
        label = "%s %s %d%s" % (r["op"], r["type"], r["size"], "" if r["radius"] is None else " r%d" % r["radius"])
        x0, x1 = sorted((x(1.0), x(ratio)))
        out.append('<text x="%d" y="%d" text-anchor="end">%s</text>' % (left - 6, y + 11, label))
        out.append('<rect x="%.1f" y="%d" width="%.1f" height="%d" fill="%s"/>' %
                   (x0, y + 2, max(x1 - x0, 1), bar_h - 4, "#3a3" if ratio <= 1 else "#c33"))
        out.append('<text x="%.1f" y="%d">%.2f</text>' % (max(x(ratio), x(1.0)) + 4, y + 11, ratio))
    out.append("</svg>")
    return "\n".join(out) + "\n"


def run_own_process(case, n):
    """run_case in a process of its own whose OpenMP regions have case.threads threads."""
    env = dict(os.environ, OMP_NUM_THREADS=str(case.threads))
    done = subprocess.run([sys.executable, os.path.abspath(__file__), "--own-process-row", case.op,
                           "--threads", str(case.threads), "--sizes", str(n)],
                          env=env, check=True, capture_output=True, text=True)
    return json.loads(done.stdout.strip().splitlines()[-1])


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true", help="1024 only, radii 1, 5, 30: a smoke test")
    parser.add_argument("--filter", default="", help="only operations whose name contains this (case-blind)")
    parser.add_argument("--sizes", default=None, help="comma-separated sizes (default 1024,4096; --quick 1024)")
    parser.add_argument("--out", default="bench-results", help="folder for bench.md and ratios.svg")
    parser.add_argument("--own-process-row", default=None, help=argparse.SUPPRESS)
    parser.add_argument("--threads", type=int, default=1, help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    sizes = [int(s) for s in (args.sizes or ("1024" if args.quick else "1024,4096")).split(",")]
    global PROBE
    PROBE = min(PROBE, min(sizes))
    selected = [c for c in cases(QUICK_RADII if args.quick else RADII) if args.filter.lower() in c.op.lower()]
    bw = (copy_bandwidth(128 << 20, 1), copy_bandwidth(128 << 20, 2))
    rows, started = [], time.perf_counter()
    if args.own_process_row:  # a row in a process of its own, run by run_own_process below
        case = next(c for c in selected if c.op == args.own_process_row and c.threads == args.threads)
        print(json.dumps(run_case(case, sizes[0])))
        return 0
    for n in sizes:
        for case in selected:
            row = run_own_process(case, n) if case.own_process else run_case(case, n)
            rows.append(row)
            ratio = row["ours"] / row["peer_ms"] if row["peer_ms"] else float("nan")
            print("%-36s %-9s %5d %4s  ours %9s ms  %-30s %9s ms  ours/peer %6.2f  ours/floor %6.2f  %s" % (
                row["op"], row["type"], row["size"], row["radius"] if row["radius"] is not None else "-",
                _fmt(row["ours"]), row["peer"] or "-", _fmt(row["peer_ms"]), ratio, row["floor"], row["note"]),
                flush=True)
    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "bench.md"), "w") as f:
        f.write("# Side-by-side benchmark\n\n" + markdown(rows, bw))
    with open(os.path.join(args.out, "ratios.svg"), "w") as f:
        f.write(svg(rows))
    print("\n%d rows in %.0f s; written to %s/bench.md and ratios.svg" % (len(rows), time.perf_counter() - started,
                                                                          args.out))


if __name__ == "__main__":
    sys.exit(main())
