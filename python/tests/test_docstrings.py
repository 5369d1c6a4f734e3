"""Every example in the package's docstrings runs as written."""

import doctest

import numpy as np
import pytest

import zorvan


@pytest.mark.parametrize("module", ["zorvan", "zorvan.dask"])
def test_docstring_examples_run(module, tmp_path, monkeypatch):
    extra = {"np": np, "zorvan": zorvan}
    if module == "zorvan.dask":
        da = pytest.importorskip("dask.array")
        mrcfile = pytest.importorskip("mrcfile")
        series = np.random.default_rng(1).random((3, 16, 16), dtype=np.float32)
        mrcfile.write(tmp_path / "series.mrc", series)  # the file the examples open
        monkeypatch.chdir(tmp_path)
        extra["stack"] = da.from_array(series, chunks=(1, 16, 16))
    imported = __import__(module, fromlist=["_"])
    result = doctest.testmod(imported, extraglobs=extra, optionflags=doctest.NORMALIZE_WHITESPACE | doctest.ELLIPSIS)
    assert result.attempted > 0 and result.failed == 0
