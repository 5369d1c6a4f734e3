"""A stack of noisy lattice frames, Wiener- and median-filtered plane by plane on a local Dask cluster.

Writes the stack as a multi-page TIFF, times the two filters on one frame in
plain NumPy, then runs both over the whole stack (read lazily from the TIFF,
results streamed to .npy files) on a cluster of one and then of two worker
processes on 127.0.0.1, and prints the times, the speed-up from the second
worker and the peak memory of each worker. Run by scripts/stack-demo.sh.
"""

import argparse
import importlib.util
import os
import time

import numpy as np
import tifffile
from distributed import Client, LocalCluster, progress

import zorvan
import zorvan.dask as zd
from zorvan._memory import worker_memory

MEDIAN_RADIUS = 2


def lattice_frame(index, size):
    """Frame `index`: a lattice of bright spots drifting by a tenth of a pixel per frame, with Poisson noise."""
    y, x = np.mgrid[:size, :size].astype(np.float32)
    shift = 0.1 * index
    clean = 40 * (1 + np.cos((x + shift) * 0.7) * np.cos((y - shift) * 0.6)) + 5
    return np.random.default_rng(index).poisson(clean).astype(np.uint16)


def run_on_cluster(workers, source, out):
    """Both filters over the stack on `workers` worker processes: (seconds, {worker: peak bytes})."""
    with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address="127.0.0.1:0") as cluster, Client(cluster) as client:
        print("\n%d worker%s; dashboard: %s" % (workers, "s" * (workers > 1), cluster.dashboard_link))
        if importlib.util.find_spec("bokeh") is None:  # Debian 12 has no python3-bokeh
            print("  (its plots need bokeh; without it the workers and their tasks are at %s)" %
                  cluster.dashboard_link.replace("/status", "/info/main/workers.html"))
        client.run(lambda: zorvan.survey(np.zeros(4, np.float32)))  # each worker loads the plug-in once
        start_memory, start_cpu = client.run(worker_memory, True), client.run(time.process_time)
        load = os.getloadavg()[0]
        stack = zd.open_stack(source)
        start = time.perf_counter()
        stored = [zd.store_npy(zd.wiener(stack), os.path.join(out, "wiener.npy"), compute=False),
                  zd.store_npy(zd.median_filter(stack.astype(np.float32), MEDIAN_RADIUS),
                               os.path.join(out, "median.npy"), compute=False)]
        futures = client.compute(stored)
        progress(futures)
        client.gather(futures)
        seconds = time.perf_counter() - start
        peaks = {worker: peak for worker, (_, peak) in client.run(worker_memory).items()}
        cpu = sum(seconds - start_cpu[worker] for worker, seconds in client.run(time.process_time).items())
    print("\n  %.1f s for %d frames; peak memory per worker: %s" % (seconds, len(stack), ", ".join(
        "%.0f MiB (%.0f MiB above its start)" % (peak / 2**20, (peak - start_memory[worker][0]) / 2**20)
        for worker, peak in peaks.items())))
    # On a machine shared with other jobs the workers get less than a core each: say how much they had.
    print("  the workers computed for %.1f s of CPU time in all; load average at the start %.1f on %d cores" % (
        cpu, load, os.cpu_count()))
    return seconds, peaks


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--frames", type=int, default=64)
    parser.add_argument("--size", type=int, default=1024)
    parser.add_argument("--out", default="zorvan-stack")
    options = parser.parse_args()
    os.makedirs(options.out, exist_ok=True)
    source = os.path.join(options.out, "noisy.tif")

    with tifffile.TiffWriter(source) as tiff:  # one frame in memory at a time
        for index in range(options.frames):
            tiff.write(lattice_frame(index, options.size), photometric="minisblack", contiguous=True)
    print("%d noisy lattice frames of %d x %d (uint16) in %s" % (options.frames, options.size, options.size, source))

    frame = tifffile.imread(source, key=0)
    start = time.perf_counter()
    filtered = zorvan.wiener(frame)[0]
    wiener_seconds = time.perf_counter() - start
    start = time.perf_counter()
    smoothed = zorvan.median_filter(frame.astype(np.float32), MEDIAN_RADIUS)
    median_seconds = time.perf_counter() - start
    one_frame = wiener_seconds + median_seconds
    print("plain NumPy, one frame: Wiener %.2f s + median (radius %d) %.2f s = %.2f s; for %d frames: %.0f s" % (
        wiener_seconds, MEDIAN_RADIUS, median_seconds, one_frame, options.frames, one_frame * options.frames))

    one, _ = run_on_cluster(1, source, options.out)
    two, _ = run_on_cluster(2, source, options.out)
    same = (np.array_equal(np.load(os.path.join(options.out, "wiener.npy"), mmap_mode="r")[0], filtered) and
            np.array_equal(np.load(os.path.join(options.out, "median.npy"), mmap_mode="r")[0], smoothed))
    print("\nspeed-up from the second worker: %.2f (1 worker %.1f s, 2 workers %.1f s)" % (one / two, one, two))
    print("frame 0 equals plain NumPy's result bit for bit: %s" % ("yes" if same else "NO"))
    print("results: %s, %s" % (os.path.join(options.out, "wiener.npy"), os.path.join(options.out, "median.npy")))
    if not same:
        raise SystemExit(1)


if __name__ == "__main__":
    main()
