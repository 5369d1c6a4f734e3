"""zorvan's functions on hyperspy signals: s.map in place keeps the signal's axes and calibration
(test_dm_files.py maps real files to new signals)."""

import numpy as np
import pytest

import zorvan

hs = pytest.importorskip("hyperspy.api")


@pytest.mark.parametrize("dtype", [np.float32, np.uint16])
@pytest.mark.parametrize("shape", [(20, 24), (3, 20, 24)])
def test_map_filters_each_image_and_keeps_the_axes(dtype, shape):
    data = (np.random.default_rng(8).random(shape) * 1000).astype(dtype)
    s = hs.signals.Signal2D(data.copy())
    for axis in s.axes_manager.signal_axes:
        axis.scale, axis.offset, axis.units = 0.0178, -0.5, "nm"
    s.map(zorvan.median_filter, radius=2, show_progressbar=False)
    expected = [zorvan.median_filter(plane, 2) for plane in data.reshape((-1,) + shape[-2:])]
    np.testing.assert_array_equal(s.data, np.reshape(expected, shape))
    assert s.data.dtype == np.float32  # camera pixels are filtered as float32, as the docstring says
    assert [(axis.scale, axis.offset, axis.units) for axis in s.axes_manager.signal_axes] == [(0.0178, -0.5, "nm")] * 2
    assert s.axes_manager.navigation_shape == shape[:-2][::-1]
