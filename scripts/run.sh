#!/usr/bin/env bash
# Installs what is missing, builds the plug-in, the host and the zorvan
# command and the Python package, installs the package for /usr/bin/python3
# with pip (offline, from the same build), and runs the demo (a Wiener filter built from the plug-in's functions, its
# report in zorvan-demo/report.html) and the same filter on the demo's noisy
# image as a user's file (zorvan-wiener/report.html), and on a real .dm3 file; puts `zorvan` on PATH.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DZORVAN_TESTS=OFF -DZORVAN_BENCH=OFF >/dev/null
cmake --build build -j"$(nproc)" --target zorvan zorvan_python >/dev/null
# pip puts it under /usr/local (root) or ~/.local, never among Debian's own
# packages, and --no-deps lets it touch nothing else: that is what makes
# --break-system-packages (Debian's guard against pip beside apt) safe here.
site=$(/usr/bin/python3 -c 'import site; print(site.getsitepackages()[0])')
rm -f "$site/zorvan.pth"  # what earlier versions of this script wrote
user=(); [[ $(id -u) -eq 0 ]] || user=(--user)
ZORVAN_BUILD_DIR=build PIP_NO_INDEX=1 /usr/bin/python3 -m pip install --quiet --no-build-isolation --no-deps \
  --break-system-packages --root-user-action=ignore "${user[@]}" .
echo "Python: /usr/bin/python3 imports zorvan $(cd / && /usr/bin/python3 -c 'import zorvan; print(zorvan.__version__, "from", zorvan.__file__)')"
# The command on PATH, as `zorvan` (root: /usr/local/bin; else put build/ on PATH).
if [[ $(id -u) -eq 0 ]]; then
  ln -sf "$PWD/build/zorvan" /usr/local/bin/zorvan
  echo "Command: zorvan ($(command -v zorvan) -> $PWD/build/zorvan)"
else
  echo "Command: $PWD/build/zorvan (put $PWD/build on PATH to call it as zorvan)"
fi
echo "Registered script functions:"
./build/zorvan list
echo
./build/zorvan demo
echo
./build/zorvan wiener zorvan-demo/noisy.tif --report zorvan-wiener
# A real file of the host application's, as a microscope writes it (hyperspy's test data).
real=/usr/lib/python3/dist-packages/hyperspy/tests/io/dm3_2D_data/test_STEM_image.dm3
if [[ -f $real ]]; then
  echo
  ./build/zorvan info "$real"
  ./build/zorvan wiener "$real" -o zorvan-wiener/test_STEM_image-wiener.tif --report zorvan-wiener/real
fi
