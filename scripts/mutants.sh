#!/usr/bin/env bash
# A small mutation check of the test suite: each deliberate fault below is
# applied to a scratch copy of the tree, which is built and run against the
# fast tests (all but the soak, reload and thread tests and the fuzzing).
# A fault is killed when a test fails. Prints one line per fault and the
# kill count; exits 0 either way. Not part of CI: it takes about an hour.
#
#   bash scripts/mutants.sh [--keep DIR] [--rev COMMIT] [NAME_FILTER]
#
# --rev tests the tree of a commit instead of the working tree (the faults
# are this script's), so that a change to the tests can be compared with
# what came before it.
#
# Each fault is "name | file | text | replacement": `text` must occur exactly
# once in `file`, which is given by path from the top of the tree, and
# neither may hold a `|`.
set -euo pipefail
cd "$(dirname "$0")/.."

keep="" rev=""
while [[ ${1:-} == --* ]]; do
  case $1 in
    --keep) keep=$2; shift 2 ;;
    --rev) rev=$2; shift 2 ;;
    *) echo "usage: bash scripts/mutants.sh [--keep DIR] [--rev COMMIT] [NAME_FILTER]" >&2; exit 2 ;;
  esac
done
filter=${1:-}

read -r -d '' faults <<'EOF' || true
box edge off by one | filters/moving_average_kernel.h | if (x + r < nx) { | if (x + r <= nx - 2) {
line pass count off by one | filters/moving_average_kernel.h | return std::min(n, i + r + 1) - std::max<std::int64_t>(0, i - r); | return std::min(n, i + r + 1) - std::max<std::int64_t>(0, i - r - 1);
pair square sign | filters/moving_average_pair_kernel.h | v.re * v.im + v.im * v.re | v.re * v.im - v.im * v.re
median even count rule | filters/median/median_select_kernel.h | return (values[k] + below) * T(0.5); | return values[k];
median NaN not dropped | filters/median/median_select_kernel.h | if (values[i] == values[i]) values[n++] = values[i]; | values[n++] = values[i];
median edge rows | filters/median/median_select_kernel.h | const std::int64_t y_hi = std::max(y_lo, ny - r); | const std::int64_t y_hi = std::max(y_lo, ny - r + 1);
maximum comparison swapped | filters/maximum_kernel.h | return v > m ? v : m; | return v < m ? v : m;
maximum column edge | filters/maximum_kernel.h | if (source_row < ny) { | if (source_row < ny - 1) {
survey minimum comparison | measure/survey_kernel.h | if (v < min) { | if (v > min) {
radial survey nearest ring | measure/radial_survey_kernel.h | const auto k = static_cast<std::int64_t>(r + P(0.5)); | const auto k = static_cast<std::int64_t>(r);
weight beyond the table | measure/weight_kernel.h | if (i0 >= last) return table[last]; | if (i0 > last) return table[last];
window Hann quarter | measure/ft_window_kernel.h | ((source[start + i] * 0.25f) | ((source[start + i] * 0.5f)
power spectrum sum | fourier/log_power_kernel.h | dst[i] = ::logf(re * re + im * im); | dst[i] = ::logf(re * re + re * im);
wiener mask zero fix | fourier/wiener_mask_kernel.h | amplitude[i] = T(1); | (void)0;
rescale interpolation edge | fourier/linear_rescale_kernel.h | if (i < width - 1) samples.inside = x + 1; | if (i < width) samples.inside = x + 1;
difference order | filters/diff_h_kernel.h | out_row[x] = row[x + 1] - row[x]; | out_row[x] = row[x] - row[x + 1];
centre of mass threshold | measure/center_of_mass_kernel.h | P t = row[i] - peak * threshold; | P t = row[i] - peak * threshold * P(0.5);
complex mean divisor | fourier/mean_complex.cpp | *mean_imag = sums.im / static_cast<double>(count); | *mean_imag = sums.im / static_cast<double>(count + 1);
moving average route | filters/moving_average.cpp | if (!frame::bytes_overlap(in, plane_bytes(s), out, plane_bytes(d))) { | if (true) {
silent refusal raises | image/frame.h | return dm::dispatch(codes, code, work, [] { return Result{}; }); | return dm::dispatch(codes, code, work, []() -> Result { fail(message::invalid_data_type); });
wrong message | image/frame.h | "Invalid data type." | "Invalid data type"
negative radius let through | image/frame.h | check(radius >= 0, message::negative_radius); | (void)radius;
missed unlock | plugin/data_locker.cpp | void ImageDataLocker::unlock() {\n    access_.reset(); | void ImageDataLocker::unlock() {\n    if (access_) new boost::shared_ptr<DM_ImageDataSequence>(access_);\n    access_.reset();
replaced image not released | plugin/host_refs.cpp | const ImageRef previous = ImageRef::adopt(*slot); | const ImageRef previous(nullptr);
stale handle not retried | plugin/host_functions.cpp | if (status == DM_CALL_STALE) { | if (status == DM_CALL_STALE && false) {
wrong type code | contract/data_types.h | template <> struct element_of<data_type::uint16> { using type = std::uint16_t; }; | template <> struct element_of<data_type::uint16> { using type = std::int16_t; };
wrong counter | contract/script_functions.h | "SurveyDM", refusal::script_error, | "SurveyDM2", refusal::script_error,
box AVX2 leaving column | filters/moving_average_avx2.cpp | if (x > r) sum = V::sub(sum, V::load(strip + (x - r - 1) * L)); | if (x > r + 1) sum = V::sub(sum, V::load(strip + (x - r - 1) * L));
maximum AVX2 NaN wins | simd/avx2_lanes.h | static vec larger(vec v, vec m) { return _mm256_max_ps(v, m); } | static vec larger(vec v, vec m) { return _mm256_max_ps(m, v); }
median ranks even count | filters/median_rank_kernel.h | out = (values_[hist_.select(n / 2)] + lower) * T(0.5); | out = values_[hist_.select(n / 2)];
maximum line prefix | filters/maximum_kernel.h | m = larger(line[block + window + t - 1], m); | m = larger(line[block + window + t - 2], m);
EOF

work=${keep:-$(mktemp -d)}
[[ -n $keep ]] || trap 'rm -rf "$work"' EXIT
mkdir -p "$work"
echo "== mutants: scratch copy in $work"
rm -rf "$work/src" && mkdir -p "$work/src"
if [[ -n $rev ]]; then
  git archive "$rev" | tar -xmf - -C "$work/src"
else
  git ls-files -co --exclude-standard | tar -cf - -T - | tar -xmf - -C "$work/src"
fi
# ccache turns the rebuild of each restored file into a cache hit: about half
# of every mutant's build.
command -v ccache >/dev/null || apt-get install -y -qq --no-install-recommends ccache >/dev/null 2>&1 || true
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_DIR="$work/ccache"
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$work/src" -B "$work/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZORVAN_BENCH=OFF "${launcher[@]}" \
  >"$work/configure.log" 2>&1
build() { cmake --build "$work/build" -j"$(nproc)" >"$work/build.log" 2>&1; }
fast_tests() { (cd "$work/build" && ctest -j"$(nproc)" -E '^(Soak|Reload|Threads)\.' --stop-on-failure >"$work/test.log" 2>&1); }
build || { tail -n 40 "$work/build.log"; exit 1; }
fast_tests || { echo "== mutants: the unmutated tree fails its tests"; tail -n 40 "$work/test.log"; exit 1; }

killed=0 survived=0 stillborn=0
while IFS='|' read -r name file text replacement; do
  name=$(echo "$name" | xargs); file=$(echo "$file" | xargs)
  [[ -z $name || ( -n $filter && $name != *$filter* ) ]] && continue
  text=${text# }; text=${text% }; replacement=${replacement# }; replacement=${replacement% }
  target="$work/src/$file"
  cp "$target" "$work/original"
  if ! /usr/bin/python3 - "$target" "$text" "$replacement" <<'PY'
import sys
path, text, replacement = sys.argv[1], sys.argv[2].replace('\\n', '\n'), sys.argv[3].replace('\\n', '\n')
source = open(path).read()
if source.count(text) != 1:
    sys.exit(f"{path}: the text occurs {source.count(text)} times")
open(path, 'w').write(source.replace(text, replacement))
PY
  then
    echo "?? $name: not applied"; stillborn=$((stillborn + 1)); continue
  fi
  if ! build; then
    echo "?? $name: does not build"; stillborn=$((stillborn + 1))
    grep -m3 -E 'error|Error' "$work/build.log" | sed 's/^/   /' || true
  elif fast_tests; then
    echo "-- survived: $name"; survived=$((survived + 1))
  else
    failed=$(grep -m1 -oE '[0-9]+ - [A-Za-z0-9_.]+' "$work/test.log" | head -n1 || true)
    echo "ok killed:   $name (${failed:-a test failed})"; killed=$((killed + 1))
  fi
  cp "$work/original" "$target"
done <<<"$faults"
build >/dev/null 2>&1 || true
echo "== mutants: $killed killed, $survived survived, $stillborn not applied or not built"
