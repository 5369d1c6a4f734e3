#!/usr/bin/env bash
# A stack of 64 noisy lattice frames of 1024 x 1024 Wiener- and median-filtered
# plane by plane on a local Dask cluster of two worker processes (127.0.0.1),
# against one frame in plain NumPy; prints the times, the speed-up from the
# second worker and the peak memory per worker. Run scripts/run.sh first.
# Options: --frames N --size S (a smaller stack, e.g. for CI), --out DIR
# (default zorvan-stack/: the TIFF stack and the two filtered .npy stacks).
set -euo pipefail
cd "$(dirname "$0")/.."

if ! /usr/bin/python3 -c 'import zorvan, dask, distributed' 2>/dev/null; then
  echo "stack-demo: zorvan, dask or distributed is missing: run scripts/run.sh first" >&2
  exit 1
fi
exec /usr/bin/python3 scripts/stack-demo.py "$@"
