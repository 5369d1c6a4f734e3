#!/usr/bin/env bash
# The side-by-side benchmark: the plug-in's functions through the Python
# package against OpenCV, scipy and NumPy on the same arrays. Prints the
# table and writes bench-results/bench.md and bench-results/ratios.svg.
#   bash scripts/bench.sh [--quick] [--filter NAME] [--sizes 1024,4096]
# A Release build (-O3) in build-bench/, as scripts/run.sh builds the plug-in
# for use: GCC vectorises at -O3 loops that -O2 (RelWithDebInfo) leaves
# scalar, and the peers are optimised builds too. The numbers are the same
# bits at either level (-ffp-contract=off, no fast-math).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DZORVAN_TESTS=OFF -DZORVAN_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build build-bench -j"$(nproc)" --target ZorvanFilters64 zorvan_python >/dev/null

# The log power spectrum's reference: a plain scalar loop over logf.
cc -O3 -ffp-contract=off -fno-fast-math -shared -fPIC -o build-bench/liblog_power_loop.so bench/log_power_loop.c -lm

export ZORVAN_LOGF_LOOP="$PWD/build-bench/liblog_power_loop.so"
PYTHONPATH="$PWD/build-bench/python" exec /usr/bin/python3 bench/side_by_side.py "$@"
