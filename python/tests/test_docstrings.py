"""Every example in the package's docstrings runs as written."""

import doctest

import numpy as np
import pytest

import zorvan


@pytest.mark.parametrize("module", ["zorvan", "zorvan.dask"])
def test_docstring_examples_run(module):
    if module == "zorvan.dask":
        pytest.importorskip("dask.array")
    imported = __import__(module, fromlist=["_"])
    result = doctest.testmod(imported, extraglobs={"np": np, "zorvan": zorvan},
                             optionflags=doctest.NORMALIZE_WHITESPACE | doctest.ELLIPSIS)
    assert result.attempted > 0 and result.failed == 0
