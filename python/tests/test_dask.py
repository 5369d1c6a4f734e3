"""zorvan.dask on a two-worker cluster on loopback: chunks against one piece, planes against a loop,
stacks streamed from files, and a worker killed mid-run."""

import os
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

import zorvan

da = pytest.importorskip("dask.array")
distributed = pytest.importorskip("distributed")
import zorvan.dask as zd  # noqa: E402  (after the skip: needs dask)
from zorvan._memory import worker_memory  # noqa: E402


@pytest.fixture(scope="module")
def client(tmp_path_factory):
    """A cluster started as a deployment starts one: a scheduler and two worker processes, each under its
    nanny, on loopback."""
    address = tmp_path_factory.mktemp("cluster") / "scheduler.json"
    scheduler = [sys.executable, "-m", "dask", "scheduler"]  # `dask scheduler`, by this interpreter
    worker = [sys.executable, "-m", "dask", "worker", "--scheduler-file", str(address), "--nthreads", "1",
              "--host", "127.0.0.1", "--no-dashboard", "--memory-limit", "0"]
    processes = [subprocess.Popen(scheduler + ["--host", "127.0.0.1", "--port", "0", "--no-dashboard",
                                               "--scheduler-file", str(address)], stderr=subprocess.DEVNULL)]
    try:
        deadline = time.monotonic() + 60
        while not address.exists() and time.monotonic() < deadline:
            time.sleep(0.1)
        processes += [subprocess.Popen(worker, stderr=subprocess.DEVNULL) for _ in range(2)]
        with distributed.Client(scheduler_file=str(address)) as client:
            client.wait_for_workers(2, timeout=120)
            yield client
    finally:
        for process in reversed(processes):
            process.terminate()
        for process in processes:
            process.wait(timeout=60)


def test_chunked_filters_equal_the_whole_image(client):
    a = np.random.default_rng(3).random((25, 19), dtype=np.float32)
    holed = a.copy()
    holed[10, 8] = np.nan  # the median leaves it out, the maximum never takes it, the differences keep it
    holed[:9] = np.where(a[:9] < 0.5, -0.0, 0.0)  # ties of -0.0 and +0.0: either zero may win them
    cases = [(name, radius, chunks) for name in ("median_filter", "maximum_filter", "moving_average", "diff_h")
             for radius in (1, 3, 20, 30) for chunks in ((2, 3), (6, 5))  # chunks below and above the radius
             if name != "diff_h" or radius < 19]
    image = {name: a if name == "moving_average" else holed for name, _, _ in cases}
    lazy = [getattr(zd, name)(da.from_array(image[name], chunks=chunks), radius) for name, radius, chunks in cases]
    mean, mean_sq = zd.moving_average_pair(da.from_array(a[:, 7:], chunks=(7, 4)), 2)
    results = client.compute(lazy + [mean, mean_sq], sync=True)
    for (name, radius, chunks), got in zip(cases, results):
        whole = getattr(zorvan, name)(image[name], radius)
        assert got.shape == whole.shape, (name, radius, chunks)
        if name == "moving_average":  # running sums restart at every chunk: rounding differs
            assert np.abs(got - whole).max() <= zd.MEAN_BOUND, (radius, chunks)
        else:
            same = got.view(np.uint32) == whole.view(np.uint32)
            if name != "diff_h":
                same |= (got == 0) & (whole == 0)
            assert same.all(), (name, radius, chunks)
    for got, whole in zip(results[-2:], zorvan.moving_average_pair(a[:, 7:], 2)):
        assert np.abs(got - whole).max() <= zd.MEAN_BOUND
    with pytest.raises(zorvan.ZorvanError, match="less than the width"):
        zd.diff_h(da.from_array(a), 19)
    with pytest.raises(TypeError, match="a has dtype complex64"):
        zd.median_filter(da.from_array(a.astype(np.complex64)), 1)
    with pytest.raises(ValueError, match="radius must be >= 0"):
        zd.maximum_filter(da.from_array(a), -1)


def test_stack_functions_equal_a_loop_over_planes(client):
    stack = np.random.default_rng(4).poisson(50, (5, 40, 52)).astype(np.float32)
    lazy = da.from_array(stack, chunks=(2, 16, 20))
    cases = [
        (zd.median_filter(lazy, 2), [zorvan.median_filter(p, 2) for p in stack]),
        (zd.moving_average(lazy.rechunk((3, 40, 52)), 2), zorvan.moving_average(stack, 2)),
        (zd.maximum_filter(lazy.astype(np.uint16), 2), zorvan.maximum_filter(stack.astype(np.uint16), 2)),
        (zd.median_filter(lazy.astype(np.int64), 2), zorvan.median_filter(stack.astype(np.int64), 2)),
        (zd.wiener(lazy, margin=3), zorvan.wiener(stack, margin=3)[0]),
        (zd.map_planes(zorvan.ft_window, lazy, 1), [zorvan.ft_window(p, 1) for p in stack]),
        (zd.radial_survey(lazy, 20, 26, 1.0, 1.5), [zorvan.radial_survey(p, 20, 26, 1.0, 1.5) for p in stack]),
        (zd.survey(lazy), zorvan.survey(stack)),
        (zd.center_of_mass(lazy, 20.0, 26.0, 8.0), zorvan.center_of_mass(stack, 20.0, 26.0, 8.0)),
    ]
    # The same names, the same rule: zorvan on the whole stack, zorvan.dask on chunks; the cubic window under cube=.
    cubic = zd.moving_average(lazy, 2, cube=True), zorvan.moving_average(stack, 2, cube=True)
    pair = zd.moving_average_pair(lazy, 1, cube=True), zorvan.moving_average_pair(stack, 1, cube=True)
    plane = zd.moving_average(lazy[0], 2, cube=True), zorvan.moving_average(stack[0], 2)  # a 2-D image: no z
    for (_, want), got in zip(cases, client.compute([lazy for lazy, _ in cases], sync=True)):
        np.testing.assert_array_equal(got, np.asarray(want))
    got = client.compute([cubic[0], *pair[0], plane[0]], sync=True)
    for chunked, whole, power in zip(got, (cubic[1], *pair[1], plane[1]), (1, 1, 2, 1)):
        assert np.abs(chunked - whole).max() <= zd.MEAN_BOUND * np.abs(stack).max() ** power


def test_a_stack_in_a_file_streams_through_the_workers(client, tmp_path):
    tifffile = pytest.importorskip("tifffile")
    mrcfile = pytest.importorskip("mrcfile")
    small = np.random.default_rng(5).random((3, 20, 24), dtype=np.float32)
    tifffile.imwrite(tmp_path / "plain.tif", small, photometric="minisblack")
    tifffile.imwrite(tmp_path / "zlib.tif", small, photometric="minisblack", compression="zlib")
    mrcfile.write(tmp_path / "stack.mrc", small)
    for name in ("plain.tif", "zlib.tif", "stack.mrc"):
        lazy = zd.open_stack(tmp_path / name)
        assert lazy.shape == small.shape and lazy.chunks[0] == (1, 1, 1)
        np.testing.assert_array_equal(client.compute(lazy[1:, 2:, 3:], sync=True), small[1:, 2:, 3:])
    client.compute(zd.store_npy(lazy.rechunk((2, 7, 24)), tmp_path / "copy.npy", compute=False), sync=True)
    np.testing.assert_array_equal(np.load(tmp_path / "copy.npy"), small)

    planes, plane_shape = 64, (512, 512)  # 64 MiB on disk, 1 MiB per plane
    big = np.lib.format.open_memmap(tmp_path / "big.npy", "w+", np.float32, (planes,) + plane_shape)
    for k in range(planes):
        big[k] = np.random.default_rng(k).random(plane_shape, dtype=np.float32)
    big.flush()
    before = client.run(worker_memory, True)
    table = client.compute(zd.survey(zd.median_filter(zd.open_stack(tmp_path / "big.npy"), 1)), sync=True)
    growth = {worker: peak - before[worker][0] for worker, (_, peak) in client.run(worker_memory).items()}
    assert max(growth.values()) < big.nbytes / 4, growth  # a few planes at a time, not the stack
    for k in (0, planes - 1):
        assert tuple(table[k]) == tuple(zorvan.survey(zorvan.median_filter(np.asarray(big[k]), 1)))


def test_a_worker_killed_mid_run_is_replaced_and_the_result_unchanged(client):
    stack = np.random.default_rng(6).random((24, 256, 256), dtype=np.float32)
    want = [zorvan.median_filter(p, 3) for p in stack]
    client.wait_for_workers(2)
    pids = client.run(os.getpid)
    future = client.compute(zd.median_filter(da.from_array(stack, chunks=(1, 256, 256)), 3))
    victim = next(iter(pids))
    deadline = time.monotonic() + 60
    while not client.processing().get(victim) and time.monotonic() < deadline:
        time.sleep(0.01)
    assert not future.done()
    os.kill(pids[victim], signal.SIGKILL)
    np.testing.assert_array_equal(future.result(timeout=120), want)
    assert victim not in client.scheduler_info()["workers"]


def test_a_result_stored_to_zarr_keeps_its_pixel_size(client, tmp_path):
    zarr = pytest.importorskip("zarr")
    stack = np.random.default_rng(7).random((3, 20, 24), dtype=np.float32)
    filtered = zd.median_filter(da.from_array(stack, chunks=(2, 7, 24)), 2)
    path = tmp_path / "filtered.zarr"
    client.compute(zd.store_zarr(filtered, path, 0.0178, compute=False), sync=True)
    stored = zarr.open(str(path), mode="r")
    np.testing.assert_array_equal(stored[:], [zorvan.median_filter(plane, 2) for plane in stack])
    assert stored.attrs["pixel_size"] == 0.0178 and stored.attrs["unit"] == "nm"
    assert [(axis["name"], axis["scale"], axis["units"]) for axis in stored.attrs["axes"]] == \
        [("z", 1.0, ""), ("y", 0.0178, "nm"), ("x", 0.0178, "nm")]
    assert os.listdir(tmp_path) == ["filtered.zarr"], "no temporary store left behind"
    # Stored again over it, unknown calibration, a diffraction pattern in 1/nm.
    zd.store_zarr(da.from_array(stack[0]), path, None, None)  # as zorvan.imread gives an uncalibrated file
    assert zarr.open(str(path)).attrs["pixel_size"] is None and zarr.open(str(path)).shape == (20, 24)
    zd.store_zarr(da.from_array(stack[0]), path, 0.25, unit="1/nm")
    assert zarr.open(str(path)).attrs["axes"][1]["units"] == "1/nm"
    for pixel_size, unit, message in ((0, "nm", "pixel_size is a positive number"), (-1, "nm", "positive"),
                                      (float("nan"), "nm", "positive"), (1, "inch", "unit is \"nm\" or \"1/nm\"")):
        with pytest.raises(ValueError, match=message):
            zd.store_zarr(da.from_array(stack), tmp_path / "bad.zarr", pixel_size, unit)
    with pytest.raises(zorvan.ZorvanError):  # a plane the filter refuses, at compute time
        zd.store_zarr(zd.wiener(da.zeros((2, 16, 16), np.float32, chunks=(1, 16, 16))), tmp_path / "bad.zarr")
    assert os.listdir(tmp_path) == ["filtered.zarr"]


def test_a_dm_stack_opened_lazily_equals_imread(client):
    folder = os.path.join(os.path.dirname(pytest.importorskip("hyperspy").__file__), "tests", "io")
    mapped = 0
    for name in ("dm3_3D_data/test-1.dm3", "dm4_3D_data/test-1.dm4", "dm4_3D_data/test-13.dm4",
                 "dm_stackbuilder_plugin/test_stackbuilder_imagestack.dm3", "dm3_2D_data/test-1.dm3"):
        path = os.path.join(folder, name)
        whole, _ = zorvan.imread(path)
        lazy = zd.open_stack(path)
        assert lazy.shape == (int(np.prod(whole.shape[:-2])),) + whole.shape[-2:], name
        assert lazy.chunks[0] == (1,) * lazy.shape[0], name
        np.testing.assert_array_equal(client.compute(lazy, sync=True), whole.reshape(lazy.shape), err_msg=name)
        mapped += zorvan.list_images(path)[0].raw_data_offset > 0
    assert mapped >= 3, "uncompressed DM pixels are memory-mapped"
    with pytest.raises(zorvan.FileError, match="there is no image 7"):
        zd.open_stack(os.path.join(folder, "dm3_3D_data/test-1.dm3"), index=7)
    with pytest.raises(zorvan.FileError, match="spectrum image"):
        zd.open_stack(os.path.join(folder, "dm4_3D_data/EELS_SI.dm4"))


def test_a_result_stored_to_tiff_or_mrc_keeps_its_pixel_size(tmp_path):
    stack = np.random.default_rng(9).random((2, 20, 24), dtype=np.float32)
    filtered = zd.median_filter(da.from_array(stack, chunks=(1, 10, 24)), 1)
    for name in ("stack.tif", "stack.mrc"):
        zd.store_image(filtered, tmp_path / name, 0.0178, "nm")
        back, meta = zorvan.imread(tmp_path / name)
        np.testing.assert_array_equal(back, [zorvan.median_filter(plane, 1) for plane in stack])
        assert (meta.pixel_size, meta.unit) == (pytest.approx(0.0178), "nm"), name
