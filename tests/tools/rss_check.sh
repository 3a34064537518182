# Memory of `keo verify` stays flat with the length of a movie: the peak
# resident size over a 1920x1080 movie of 300 frames is within 10% of that
# over 30 frames, so nothing of a frame request outlives the request.
# Called as: rss_check.sh KEO WORKDIR SANITIZED
# Exits 77 (skipped) for a sanitizer build, whose shadow memory grows with
# every byte the process has touched and says nothing of the plug-in's own.
set -u
KEO=$1
WORK=$2
SANITIZED=$3
if [ "$SANITIZED" = 1 ]; then
    echo "skipped: sanitizer build"
    exit 77
fi
case "$WORK" in
*/work/keo_rss_*) ;;
*) echo "rss_check.sh: refusing to use $WORK as a work folder" >&2; exit 1 ;;
esac
TIME=/usr/bin/time
if [ ! -x "$TIME" ]; then
    echo "rss_check.sh: $TIME is missing; run scripts/install-deps.sh (Debian package \"time\")" >&2
    exit 1
fi
rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK" || exit 1

# DXT1 encodes fastest; the picture moves, so every frame is a new sample.
for frames in 30 300; do
    seconds=$(awk "BEGIN { print $frames / 25 }")
    if ! "$KEO" export --pattern "$seconds" --size 1920x1080 --optimize 1 --threads 2 \
        -o "m$frames.mov" >/dev/null; then
        echo "FAIL cannot export $frames frames"
        exit 1
    fi
done

# peak FRAMES: verify's peak resident size in KiB.
peak() {
    if ! "$TIME" -f %M -o "time$1.txt" "$KEO" verify "m$1.mov" >"verify$1.txt"; then
        echo "FAIL verify of $1 frames:" >&2
        cat "verify$1.txt" >&2
        return 1
    fi
    tail -n 1 "time$1.txt"
}
short=$(peak 30) || exit 1
long=$(peak 300) || exit 1
echo "peak resident size of keo verify: 30 frames $short KiB, 300 frames $long KiB"
if [ $((long * 10)) -gt $((short * 11)) ]; then
    echo "FAIL 300 frames take more than 110% of the memory of 30"
    exit 1
fi
rm -f m30.mov m300.mov
echo "ok   flat"
