#!/usr/bin/env bash
# Builds the fuzz targets (clang, build-fuzz) and writes the seed corpus;
# replays every input committed under fuzz/corpus/<target>/ once, as a
# regression test; then fuzzes each target in turn for TIME seconds from the
# committed inputs and the seeds. Any finding (crash,
# sanitizer report, leak, timeout, memory limit, broken property), in the
# replay or the fuzzing, stops the run with a non-zero exit; its input is
# left in build-fuzz/artifacts/<target>/.
#
#   fuzz/run.sh [seconds] [target...]
#
# New inputs a run finds stay in build-fuzz/work/<target>/; fuzz/minimise.sh
# folds them into the committed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
TIME=${1:-60}
shift || true
BUILD=${BUILD_FUZZ:-build-fuzz}

if [ ! -f "$BUILD/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKEO_FUZZ=ON -DKEO_BUILD_BENCH=OFF
fi
cmake --build "$BUILD" --target fuzz_all -j "${JOBS:-$(nproc)}"

rm -rf "$BUILD/corpus"
"$BUILD/bin/keo_fuzz_corpus" "$BUILD/corpus"

targets=("$@")
. fuzz/targets.sh
limits=(-max_len=1048576 -timeout=1 -rss_limit_mb=2560 -malloc_limit_mb=512)

# Every committed input first, once each: a regression anywhere fails the
# run before any fuzzing.
for t in "${targets[@]}"; do
  committed="fuzz/corpus/$t"
  artifacts="$BUILD/artifacts/$t"
  mkdir -p "$committed" "$artifacts"
  echo "== $t: replaying $(find "$committed" -type f | wc -l) committed inputs"
  status=0
  "$BUILD/bin/$t" "${limits[@]}" -runs=0 -artifact_prefix="$artifacts/" "$committed" \
    >"$BUILD/$t.replay.log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    grep -E "ERROR|SUMMARY|runtime error|fuzz check|Test unit written" "$BUILD/$t.replay.log" || true
    echo "fuzz: a committed input of $t fails (exit $status); see $BUILD/$t.replay.log" >&2
    exit 1
  fi
done

for t in "${targets[@]}"; do
  work="$BUILD/work/$t"
  artifacts="$BUILD/artifacts/$t"
  mkdir -p "$work"
  echo "== $t for ${TIME}s"
  status=0
  "$BUILD/bin/$t" "${limits[@]}" -dict=fuzz/atoms.dict -max_total_time="$TIME" \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "fuzz/corpus/$t" \
    "$(seeds_of "$t")" >"$BUILD/$t.log" 2>&1 || status=$?
  grep -E "INITED|DONE|ERROR|SUMMARY|runtime error|fuzz check|average_exec|executed_units" \
    "$BUILD/$t.log" || true
  if [ "$status" -ne 0 ]; then
    echo "fuzz: $t found something (exit $status); see $BUILD/$t.log and $artifacts/" >&2
    exit 1
  fi
done
