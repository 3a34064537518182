# Shared by fuzz/run.sh and fuzz/minimise.sh (sourced, after the caller has
# read its own arguments into `targets` and set BUILD): the targets, the
# seed folder each starts from, and a folder in memory for the per-input
# files the write-then-read and importer targets write, so that the disk
# does not set their pace.
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

if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
