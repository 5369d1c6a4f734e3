"""What the binding adds to the plug-in: types, layout, lending, errors, threads, leaks."""

import threading

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings, strategies as st
from hypothesis.extra import numpy as hnp

import zorvan

DTYPES = [np.int8, np.uint8, np.int16, np.uint16, np.int32, np.uint32, np.float32, np.float64,
          np.complex64, np.complex128, np.bool_]
SHAPES = [(5,), (3, 4), (2, 3, 4)]


@pytest.fixture(autouse=True)
def no_leaks():
    before = zorvan._object_counts()
    yield
    assert zorvan._object_counts() == before


@pytest.mark.parametrize("dtype", DTYPES)
@pytest.mark.parametrize("shape", SHAPES)
def test_every_dtype_and_shape_round_trips_unchanged(dtype, shape):
    a = (np.arange(np.prod(shape)) % 7).astype(dtype).reshape(shape)
    # A copy-like call: radius 0; the maximum filter reads the first plane only.
    copy = zorvan.moving_average if a.dtype.kind == "c" else zorvan.maximum_filter
    plane = slice(None) if a.dtype.kind == "c" else 0 if a.ndim == 3 else slice(None)
    out = np.zeros_like(a)
    assert copy(a, 0, out=out) is out  # lent: the plug-in wrote the caller's array
    for got in (out, copy(a, 0)):
        assert got.dtype == a.dtype and got.shape == a.shape
        np.testing.assert_array_equal(got[plane], a[plane])
    if a.dtype == np.float32:
        assert zorvan.diff_h(a, 0) is a  # n <= 0 returns the source image itself


def test_results_own_the_host_images_memory():
    a = np.arange(12, dtype=np.float32).reshape(3, 4)
    out = zorvan.moving_average(a, 0)
    assert type(out.base).__name__ == "PyCapsule" and not out.flags.owndata and out.flags.writeable
    out[0, 0] = 42  # the image lives as long as the array
    del out


def unaligned(a):
    b = np.ndarray(a.shape, a.dtype, bytearray(a.nbytes + 1), offset=1)
    b[...] = a
    return b


@pytest.mark.parametrize("make", [
    unaligned,
    lambda a: a[:, ::2],                     # not contiguous
    lambda a: np.asfortranarray(a),          # Fortran order
    lambda a: a.astype(a.dtype.newbyteorder(">")),  # foreign byte order
    lambda a: np.frombuffer(a.tobytes(), a.dtype).reshape(a.shape),  # read-only
])
def test_arrays_that_cannot_be_lent_are_copied_and_cannot_be_targets(make):
    a = np.arange(24, dtype=np.float32).reshape(4, 6)
    b = make(a.copy())
    np.testing.assert_array_equal(zorvan.moving_average(b, 1), zorvan.moving_average(np.array(b), 1))
    with pytest.raises(ValueError, match="changed in place"):
        zorvan.moving_average(a, 1, out=b)
    with pytest.raises(ValueError, match="changed in place"):
        zorvan.add_complex(make(np.ones((2, 2), np.complex64)), np.ones((2, 2), np.complex64))


def test_in_place_arguments_change_the_callers_array():
    a = np.array([[1, 9, 2]], np.float32)
    out = np.zeros((1, 3), np.float32)
    assert zorvan.median_filter(a, 1, out=out) is out
    np.testing.assert_array_equal(out, [[5, 2, 5.5]])
    assert zorvan.moving_average(a, 1, out=a) is a
    np.testing.assert_array_equal(a, [[5, 4, 5.5]])
    amplitude = np.array([[2.0, 0.0]])
    np.testing.assert_array_equal(zorvan.wiener_mask(amplitude, np.array([[1.0, 1.0]])), [[0.75, 0.0]])
    np.testing.assert_array_equal(amplitude, [[2.0, 1.0]])
    target = np.array([1 + 1j, 2], np.complex128)
    assert zorvan.add_complex(target, np.array([1j, 1], np.complex128)) is None
    np.testing.assert_array_equal(target, [1 + 2j, 3])
    big = np.zeros((4, 4), np.float32)
    assert zorvan.rescale(np.array([[0, 1], [2, 3]], np.float32), 2.0, 2.0, big) is big
    np.testing.assert_array_equal(big[0], [0, 0.5, 1, 1.5])
    mean, mean_sq = np.zeros((2, 2), np.float32), np.zeros((2, 2), np.float32)
    pair = zorvan.moving_average_pair(np.array([[1, 3], [5, 7]], np.float32), 0, mean, mean_sq)
    assert pair[0] is mean and pair[1] is mean_sq
    np.testing.assert_array_equal(mean_sq, [[1, 9], [25, 49]])


def test_values_against_numpy():
    rng = np.random.default_rng(7)
    a = rng.standard_normal((5, 6))
    s = zorvan.survey(a)
    np.testing.assert_allclose(s, (a.min(), a.max(), a.sum(), (a * a).sum()))
    f = (rng.standard_normal((3, 4)) + 1j * rng.standard_normal((3, 4))).astype(np.complex64)
    np.testing.assert_allclose(zorvan.power_spectrum(f), np.log(f.real ** 2 + f.imag ** 2), rtol=1e-5)
    assert zorvan.mean_complex(f) == pytest.approx(complex(f.real.mean(), f.imag.mean()), rel=1e-6)
    np.testing.assert_array_equal(zorvan.multiply_complex_by_real(f, a[:3, :4]), f * a[:3, :4].astype(np.float32))
    np.testing.assert_allclose(zorvan.diff_h(a.astype(np.float32), 2), np.diff(a.astype(np.float32), 2), atol=1e-6)
    np.testing.assert_array_equal(zorvan.invert_rotate(np.arange(5.0)), [4, 3, 2, 1, 0])
    d = np.diff(np.eye(5), 2, axis=0)
    np.testing.assert_allclose(zorvan.penalty_matrix(5, 2.0), 2.0 * d.T @ d)
    spot = np.zeros((9, 9))
    spot[4, 5] = 1
    assert zorvan.center_of_mass(spot, 4.0, 4.0, 3.0, 50, 0.1) == (2, 5.0, 4.0)


def test_errors():
    a = np.ones((3, 3), np.float32)
    with pytest.raises(zorvan.ZorvanError, match="^All data type should be Real.$"):
        zorvan.median_filter(a.astype(np.int16), 1)
    with pytest.raises(zorvan.Refused, match=r"FPlusComplexImageDLL refused \(complex64 \[3, 3\], complex128 \[3, 3\]\): "
                                             "it accepts both complex of the same type"):
        zorvan.add_complex(a.astype(np.complex64), a.astype(np.complex128))
    assert issubclass(zorvan.Refused, zorvan.ZorvanError) and issubclass(zorvan.ZorvanError, ValueError)
    for bad in [lambda: zorvan.survey([1.0, 2.0]), lambda: zorvan.survey(a.astype(np.int64)),
                lambda: zorvan.moving_average(a, "1"), lambda: zorvan.moving_average(a, None),
                lambda: zorvan.moving_average(a, 1j), lambda: zorvan.call("FDiffH", a)]:
        with pytest.raises(TypeError):
            bad()
    with pytest.raises(ValueError, match="dimension cannot be 0"):
        zorvan.survey(np.ones((0, 3)))
    with pytest.raises(zorvan.ZorvanError, match="does not fit a long"):
        zorvan.moving_average(a, 2.0 ** 40)
    with pytest.raises(zorvan.ZorvanError, match="The function FNothing is not defined."):
        zorvan.call("FNothing")


def test_generic_call_and_tables():
    a = np.array([[1, 9, 2]], np.float32)
    np.testing.assert_array_equal(zorvan.call("FMedianFilter", a, 1, None), [[5, 2, 5.5]])
    assert zorvan.call("FSurvey", a, 0, 0, 0, 0) == (None, 1.0, 9.0, 12.0, 86.0)
    assert zorvan.call("FInvertRotateDLL", a.astype(np.int8)) is None  # refusals stay silent here
    assert len(zorvan.functions()) == 19 and zorvan.functions()[2].startswith("ImageRef FMedianFilter(")
    assert all(callable(getattr(zorvan, name)) for name in zorvan.__all__)
    additions = zorvan.counters().get("MedianFilterDM2", (0, 0))[0]
    zorvan.median_filter(a, 1)
    assert zorvan.counters()["MedianFilterDM2"][0] == additions + 1


def test_threads_give_the_single_thread_results():
    rng = np.random.default_rng(3)
    images = [rng.standard_normal((64, 64)).astype(np.float32) for _ in range(8)]
    expected = [zorvan.median_filter(image, 2) for image in images]
    results = [None] * 8

    def work(k):
        for _ in range(20):
            results[k] = zorvan.median_filter(images[k], 2)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for got, want in zip(results, expected):
        np.testing.assert_array_equal(got, want)


def test_no_growth_after_10000_calls():
    a = np.ones((4, 4), np.float32)
    for _ in range(10000):
        zorvan.moving_average(a, 1)
        zorvan.survey(a)
    for _ in range(10000):
        with pytest.raises(zorvan.ZorvanError):
            zorvan.median_filter(a.astype(np.int8), 1)
    # the autouse fixture checks the host's objects and data locks


numbers = st.one_of(st.integers(-2 ** 40, 2 ** 40), st.floats(allow_nan=True, allow_infinity=True))
IMAGES = {"a", "profile", "size_like", "c", "r", "amplitude", "base", "target", "plus", "f", "out", "mean", "mean_sq"}
shapes = st.one_of(*[hnp.array_shapes(min_dims=1, max_dims=4, min_side=1, max_side=5)] * 4,
                   hnp.array_shapes(min_dims=0, max_dims=5, min_side=0, max_side=3))  # some the host cannot hold
arrays = st.sampled_from(DTYPES).flatmap(lambda dtype: hnp.arrays(dtype, shapes))


@settings(max_examples=300, deadline=None, database=None, suppress_health_check=[HealthCheck.too_slow])
@given(name=st.sampled_from(zorvan.__all__[6:zorvan.__all__.index("wiener") + 1]), data=st.data())
def test_any_input_gives_a_result_or_a_python_exception(name, data):
    function = getattr(zorvan, name)
    code = function.__code__
    images = st.one_of(arrays, arrays.map(lambda a: a.T), st.none())

    def argument(parameter):  # mostly the right kind, so that most calls reach the plug-in
        right = images if parameter in IMAGES else numbers
        return st.one_of(right, right, right, images, numbers)

    args = [data.draw(argument(parameter)) for parameter in code.co_varnames[:code.co_argcount]]
    before = zorvan._object_counts()
    zorvan._zorvan.set_allocation_limit(1 << 24)  # huge sizes are refused, not allocated
    try:
        function(*args)
    except (TypeError, ValueError, OverflowError):
        pass
    finally:
        zorvan._zorvan.set_allocation_limit(8 << 30)
    assert zorvan._object_counts()["data_locks"] == before["data_locks"]
