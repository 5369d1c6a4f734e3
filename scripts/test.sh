#!/usr/bin/env bash
# Installs what is missing, builds with g++ and with clang++, runs every
# test with both (the Python package's tests with the g++ build), then once
# more under AddressSanitizer and UndefinedBehaviorSanitizer (stopping at
# the first report), the threaded tests under ThreadSanitizer, and last the
# fuzz targets for a bounded time (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=$(nproc)
run_suite() {
  local name=$1; shift
  echo "== $name: configure and build"
  cmake -S . -B "build-$name" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >"build-$name.log" 2>&1 ||
    { cat "build-$name.log"; return 1; }
  cmake --build "build-$name" -j"$jobs" >>"build-$name.log" 2>&1 ||
    { tail -n 60 "build-$name.log"; return 1; }
  if grep -q "warning:" "build-$name.log"; then
    grep "warning:" "build-$name.log" | sort -u
    echo "== $name: the build has warnings" >&2
    return 1
  fi
  echo "== $name: test"
  (cd "build-$name" && ctest --output-on-failure -j"$jobs")
}

run_suite gcc -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++
echo "== gcc: Python package"
PYTHONPATH="$PWD/build-gcc/python" /usr/bin/python3 -m pytest -q -p no:cacheprovider python/tests
run_suite clang -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DZORVAN_BENCH=OFF
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
run_suite sanitize -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DZORVAN_SANITIZE=ON -DZORVAN_BENCH=OFF

# ThreadSanitizer, with clang's OpenMP runtime made visible to it by its
# archer tool: the host's serialisation and the Fourier family's parallel
# loops, through the tests that call from several threads or run OpenMP.
echo "== tsan: configure and build"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DZORVAN_TSAN=ON -DZORVAN_BENCH=OFF >build-tsan.log 2>&1 || { cat build-tsan.log; exit 1; }
cmake --build build-tsan -j"$jobs" --target test_reliability test_operations >>build-tsan.log 2>&1 ||
  { tail -n 60 build-tsan.log; exit 1; }
echo "== tsan: test"
archer=$(ls /usr/lib/llvm-14/lib/libarcher.so)
for program in test_reliability test_operations; do
  OMP_TOOL_LIBRARIES=$archer TSAN_OPTIONS=halt_on_error=1:ignore_noninstrumented_modules=1 \
    "build-tsan/tests/$program" --gtest_brief=1 ||
    { echo "== tsan: $program failed" >&2; exit 1; }
done

bash scripts/fuzz.sh
echo "== all test suites passed"
