#!/usr/bin/env bash
# Installs what is missing, builds the plug-in, the host and the zorvan
# command and the Python package, makes the package importable by
# /usr/bin/python3 from any directory (a zorvan.pth in its site folder), and
# runs the demo (a Wiener filter built from the plug-in's functions, its
# report in zorvan-demo/report.html) and the same filter on the demo's noisy
# image as a user's file (zorvan-wiener/report.html).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DZORVAN_TESTS=OFF -DZORVAN_BENCH=OFF >/dev/null
cmake --build build -j"$(nproc)" --target zorvan zorvan_python >/dev/null
site=$(/usr/bin/python3 -c 'import site; print(site.getsitepackages()[0])')
mkdir -p "$site" && echo "$PWD/build/python" >"$site/zorvan.pth"
echo "Python: /usr/bin/python3 imports zorvan from $PWD/build/python/zorvan"
echo "Registered script functions:"
./build/zorvan list
echo
./build/zorvan demo
echo
./build/zorvan wiener zorvan-demo/noisy.tif --report zorvan-wiener
