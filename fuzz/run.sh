#!/usr/bin/env bash
# Builds the fuzz targets (clang, build-fuzz), writes the seed corpus and runs
# every target for TIME seconds from it, one after the other. Any finding
# (crash, sanitizer report, leak, timeout, memory limit, broken property)
# stops the run with a non-zero exit; its input is left in
# build-fuzz/artifacts/<target>/.
#
#   fuzz/run.sh [seconds] [target...]
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
if [ ${#targets[@]} -eq 0 ]; then
  targets=(fuzz_movie_reader fuzz_decode_payload fuzz_importer fuzz_write_read fuzz_lzf_decode)
fi

seeds_of() {
  case "$1" in
    fuzz_decode_payload) echo "$BUILD/corpus/decode" ;;
    fuzz_write_read) echo "$BUILD/corpus/settings" ;;
    fuzz_lzf_decode) echo "$BUILD/corpus/lzf" ;;
    *) echo "$BUILD/corpus/movie" ;;
  esac
}

for t in "${targets[@]}"; do
  work="$BUILD/work/$t"
  artifacts="$BUILD/artifacts/$t"
  mkdir -p "$work" "$artifacts"
  echo "== $t for ${TIME}s"
  status=0
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  "$BUILD/bin/$t" -max_len=1048576 -timeout=1 -rss_limit_mb=2560 -malloc_limit_mb=512 \
    -dict=fuzz/atoms.dict -max_total_time="$TIME" -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$work" "$(seeds_of "$t")" >"$BUILD/$t.log" 2>&1 || status=$?
  grep -E "INITED|DONE|ERROR|SUMMARY|runtime error|fuzz check|average_exec" "$BUILD/$t.log" || true
  if [ "$status" -ne 0 ]; then
    echo "fuzz: $t found something (exit $status); see $BUILD/$t.log and $artifacts/" >&2
    exit 1
  fi
done
