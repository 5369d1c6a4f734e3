#!/usr/bin/env bash
# Builds the fuzz targets with clang (AddressSanitizer + UBSan), replays
# the seed corpora and the regression inputs, then fuzzes each target for a
# bounded time: FUZZ_HOST_SECONDS (default 300), FUZZ_FILES_SECONDS (120).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
echo "== fuzz: configure and build"
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DZORVAN_FUZZ=ON -DZORVAN_TESTS=OFF -DZORVAN_BENCH=OFF >build-fuzz.log 2>&1 || { cat build-fuzz.log; exit 1; }
cmake --build build-fuzz -j"$(nproc)" --target fuzz_host fuzz_image_files >>build-fuzz.log 2>&1 ||
  { tail -n 60 build-fuzz.log; exit 1; }

export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fuzz() {
  local target=$1 corpus=$2 regressions=$3 seconds=$4
  mkdir -p "$work/$target"
  # Regression inputs first: each one once. A single allocation may reach the
  # 8 GiB image limit (address space that only decoded pixels touch); what is
  # really used stays under 4 GiB.
  if compgen -G "$regressions/*" >/dev/null; then
    echo "== fuzz: $target replays $(ls "$regressions" | wc -l) regression inputs"
    "build-fuzz/tests/fuzz/$target" -runs=1 -rss_limit_mb=4096 -malloc_limit_mb=8704 "$regressions"/* \
      >"$work/$target.replay.log" 2>&1 ||
      { tail -n 40 "$work/$target.replay.log"; return 1; }
  fi
  echo "== fuzz: $target for ${seconds}s over its corpus"
  "build-fuzz/tests/fuzz/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -malloc_limit_mb=8704 \
    -print_final_stats=1 \
    -artifact_prefix="$work/$target-" "$work/$target" "$corpus" >"$work/$target.log" 2>&1 ||
    { tail -n 60 "$work/$target.log"; ls "$work"/"$target"-* 2>/dev/null; return 1; }
  grep -E "stat::number_of_executed_units|Done|calls per function" "$work/$target.log" | tail -n 3
}

fuzz fuzz_host tests/fuzz/corpus/host tests/fuzz/regressions/host "${FUZZ_HOST_SECONDS:-300}"
fuzz fuzz_image_files tests/fuzz/corpus/files tests/fuzz/regressions/files "${FUZZ_FILES_SECONDS:-120}"
echo "== fuzz: no crash, leak or broken rule"
