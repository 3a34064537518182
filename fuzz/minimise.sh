#!/usr/bin/env bash
# Folds what fuzzing found into the committed corpus: for each target, the
# committed inputs, the seeds and build-fuzz/work/<target>/ are merged into
# the smallest set of inputs that keeps all their coverage, which replaces
# fuzz/corpus/<target>/. Run after fuzz/run.sh (which builds the targets and
# writes the seeds); review and commit the result.
#
#   fuzz/minimise.sh [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD_FUZZ:-build-fuzz}

targets=("$@")
. fuzz/targets.sh

for t in "${targets[@]}"; do
  committed="fuzz/corpus/$t"
  fresh="$BUILD/minimised/$t"
  rm -rf "$fresh"
  mkdir -p "$fresh" "$committed" "$BUILD/work/$t"
  "$BUILD/bin/$t" -merge=1 -max_len=1048576 -timeout=5 -rss_limit_mb=2560 \
    -malloc_limit_mb=512 "$fresh" "$committed" "$(seeds_of "$t")" "$BUILD/work/$t" \
    >"$BUILD/$t.merge.log" 2>&1
  rm -rf "$committed"
  mv "$fresh" "$committed"
  echo "$t: $(find "$committed" -type f | wc -l) inputs, $(du -sh "$committed" | cut -f1)"
done
