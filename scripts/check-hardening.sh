#!/usr/bin/env bash
# Run after the tests (by .ci/run): each in its own build folder, only the targets it needs,
#   fuzz  the libFuzzer targets (clang), each for a short bounded time on the seeds the build makes;
#   asan  the non-GUI tests under AddressSanitizer and UndefinedBehaviorSanitizer;
#   tsan  the engine, results and saving tests under ThreadSanitizer.
# Usage: scripts/check-hardening.sh [fuzz] [asan] [tsan]   (all three when none is named)
# Environment: HARDENING_DIR (default build-hardening/), FUZZ_SECONDS per target (default 12;
# the targets run as many at once as there are cores, under two minutes in all on two).
set -euo pipefail
LUMAFIND_ROOT=$(cd "$(dirname "$0")/.." && pwd)
HARDENING_DIR=${HARDENING_DIR:-$LUMAFIND_ROOT/build-hardening}
FUZZ_SECONDS=${FUZZ_SECONDS:-12}
. "$LUMAFIND_ROOT/scripts/deps.sh"
lumafind_install_deps

steps=("$@")
[ ${#steps[@]} -eq 0 ] && steps=(fuzz asan tsan)
failed=()

# build FOLDER TARGETS... -- CMAKE-ARGS...   (the steps run where errexit is off: every failure returns)
build() {
  local dir=$1; shift
  local targets=()
  while [ "$1" != "--" ]; do targets+=(--target "$1"); shift; done
  shift
  cmake -S "$LUMAFIND_ROOT" -B "$dir" -G Ninja "$@" >/dev/null &&
    cmake --build "$dir" --parallel "$(nproc)" "${targets[@]}"
}

elapsed() { echo "$(( $(date +%s) - $1 )) s"; }

NON_GUI_TESTS=(test_common test_catalogue test_media test_engine test_results test_cli test_extents test_saving test_remnants
  test_fuzz_regressions)
THREAD_TESTS=(test_engine test_results test_saving)
ctest_regex() { local IFS='|'; echo "^($*)\$"; }

# One target on its seeds for FUZZ_SECONDS; its status lands in OUT/status. A fixed seed keeps
# runs comparable; a hang (-timeout), a leak or more memory than any input of this size needs
# (-rss_limit_mb, -malloc_limit_mb) fails like a crash, and the input is kept in OUT/found/.
fuzz_one() {
  local bin=$1 seeds=$2 out=$3 status=0
  mkdir -p "$out/corpus" "$out/found"
  "$bin" -seed=1 -max_total_time="$FUZZ_SECONDS" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024 \
    -artifact_prefix="$out/found/" "$out/corpus" "$seeds" >"$out/log" 2>&1 || status=$?
  echo "$status" >"$out/status"
}

fuzz() {
  local dir=$HARDENING_DIR/fuzz
  build "$dir" lumafind_fuzzers -- -DCMAKE_CXX_COMPILER=clang++ -DLUMAFIND_FUZZ=ON -DLUMAFIND_BUILD_TESTS=OFF || return 1
  local out=$dir/fuzz-run bin name ok=1 names=()
  rm -rf "$out"
  # As many targets at once as there are cores.
  for bin in "$dir"/bin/fuzz_*; do
    name=${bin##*/fuzz_}
    names+=("$name")
    if [ ! -d "$dir/fuzz-seeds/$name" ]; then
      mkdir -p "$out/$name" && echo "no seed corpus in $dir/fuzz-seeds/$name" >"$out/$name/log" && echo 1 >"$out/$name/status"
      continue
    fi
    while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
    fuzz_one "$bin" "$dir/fuzz-seeds/$name" "$out/$name" &
  done
  wait
  [ ${#names[@]} -gt 0 ] || { echo "no fuzz targets were built"; return 1; }
  for name in "${names[@]}"; do
    if [ "$(cat "$out/$name/status" 2>/dev/null)" = 0 ]; then
      echo "fuzz $name: $(grep -Eo 'Done [0-9]+ runs' "$out/$name/log" | tail -1), $(grep -Eo 'DONE +cov: [0-9]+' "$out/$name/log" | tail -1 | grep -Eo 'cov: [0-9]+')"
    else
      ok=0
      # The input is printed too (Base64, for small ones), since a CI folder does not stay.
      echo "fuzz $name: FAILED; input kept in $out/$name/found/ (replay: $dir/bin/fuzz_$name FILE)"
      grep -E 'ERROR|SUMMARY|fuzz rule broken|runtime error|Test unit written|Base64|no seed corpus' "$out/$name/log" | head -20 || true
    fi
  done
  [ "$ok" = 1 ]
}

asan() {
  local dir=$HARDENING_DIR/asan
  build "$dir" "${NON_GUI_TESTS[@]}" lumafind-cli -- -DLUMAFIND_ASAN=ON || return 1
  (cd "$dir" && QT_QPA_PLATFORM=offscreen \
    ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
    UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure --timeout 900 -j "$(nproc)" -R "$(ctest_regex "${NON_GUI_TESTS[@]}")")
}

tsan() {
  local dir=$HARDENING_DIR/tsan
  # The build runs the resource generators, instrumented too: their races reported inside Qt's
  # own (uninstrumented) thread pool are not what this checks, so reports are off while building.
  TSAN_OPTIONS=report_bugs=0 build "$dir" "${THREAD_TESTS[@]}" lumafind-cli -- -DLUMAFIND_TSAN=ON || return 1
  # The saving test starts the CLI; TSan would otherwise stop a forked child that starts threads.
  (cd "$dir" && QT_QPA_PLATFORM=offscreen TSAN_OPTIONS="die_after_fork=0 suppressions=$LUMAFIND_ROOT/tests/tsan.supp" \
    ctest --output-on-failure --timeout 900 -j "$(nproc)" -R "$(ctest_regex "${THREAD_TESTS[@]}")")
}

for step in "${steps[@]}"; do
  case $step in
    fuzz|asan|tsan) ;;
    *) echo "unknown step: $step (fuzz, asan or tsan)" >&2; exit 2 ;;
  esac
  start=$(date +%s)
  echo "== $step"
  if "$step"; then
    echo "== $step passed ($(elapsed "$start"))"
  else
    echo "== $step FAILED ($(elapsed "$start"))"
    failed+=("$step")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "hardening checks failed: ${failed[*]}"
  exit 1
fi
