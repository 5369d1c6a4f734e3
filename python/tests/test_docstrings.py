"""Every example in the package's docstrings runs as written."""

import doctest
import shutil

import numpy as np
import pytest

import zorvan


# A real image of the host application's, as hyperspy's tests ship it.
STEM = "/usr/lib/python3/dist-packages/hyperspy/tests/io/dm3_2D_data/test_STEM_image.dm3"


@pytest.mark.parametrize("module", ["zorvan", "zorvan.dask", "zorvan.io"])
def test_docstring_examples_run(module, tmp_path, monkeypatch):
    extra = {"np": np, "zorvan": zorvan}
    shutil.copy(STEM, tmp_path / "stem.dm3")  # the file the examples read
    monkeypatch.chdir(tmp_path)
    if module == "zorvan.dask":
        da = pytest.importorskip("dask.array")
        mrcfile = pytest.importorskip("mrcfile")
        series = np.random.default_rng(1).random((3, 16, 16), dtype=np.float32)
        mrcfile.write(tmp_path / "series.mrc", series)  # the file the examples open
        extra["stack"] = da.from_array(series, chunks=(1, 16, 16))
    imported = __import__(module, fromlist=["_"])
    result = doctest.testmod(imported, extraglobs=extra, optionflags=doctest.NORMALIZE_WHITESPACE | doctest.ELLIPSIS)
    assert result.attempted > 0 and result.failed == 0
