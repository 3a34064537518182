# Helpers shared by the keo command-line test scripts.
# Each script is called as: script KEO KEO_CHECK WORKDIR
set -u
KEO=$1
CHECK=$2
WORK=$3
# The folder is wiped, so only accept the per-test folders CMake hands out.
case "$WORK" in
*/work/keo_cli_*) ;;
*) echo "lib.sh: refusing to use $WORK as a work folder" >&2; exit 1 ;;
esac
rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK" || exit 1
failures=0

# check NAME COMMAND...: runs the command, reports its failure and goes on.
check() {
    name=$1
    shift
    if "$@"; then
        echo "ok   $name"
    else
        echo "FAIL $name"
        failures=$((failures + 1))
    fi
}

# status_and_one_line EXPECTED_STATUS COMMAND...: the command must exit with
# that status and write exactly one line to stderr that starts with "keo: ".
status_and_one_line() {
    want=$1
    shift
    "$@" >out.txt 2>err.txt
    got=$?
    lines=$(wc -l <err.txt)
    if [ "$got" -ne "$want" ]; then
        echo "  exit status $got, expected $want; stderr: $(cat err.txt)"
        return 1
    fi
    if [ "$lines" -ne 1 ] || ! grep -q '^keo: ' err.txt; then
        echo "  expected one 'keo: ' line on stderr, got $lines:"
        cat err.txt
        return 1
    fi
}

# no_leftovers DIR: no temporary output files in DIR.
no_leftovers() {
    if ls -A "$1" | grep -q '\.keo-'; then
        echo "  temporary files left in $1:"
        ls -A "$1"
        return 1
    fi
}

finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed"
        exit 1
    fi
    exit 0
}

# skip NAME REASON: a case that cannot run here, said so rather than passed.
skip() {
    echo "skip $1: $2"
}

is_root() {
    [ "$(id -u)" -eq 0 ]
}
