# keo export --input MOVIE: movies made here with GStreamer's own encoders
# (VP8 and Vorbis in WebM, Theora and Vorbis in Ogg, PNG frames in a
# QuickTime movie) become KEO movies with their frame count, exact rate,
# frame order and the sound's length; --fps and --size override. What cannot
# become a whole movie (a variable rate without --fps, a download cut
# short, bytes that are no movie) fails with one line and leaves nothing.
# Exit 77 (skipped) without GStreamer's tools (`make deps` installs them).
. "$(dirname "$0")/lib.sh"

if ! command -v gst-launch-1.0 >/dev/null; then
    echo "skipped: gst-launch-1.0 is not installed (make deps installs it)"
    exit 77
fi
# A registry of this folder's own, so the user's is neither read nor written.
export GST_REGISTRY="$WORK/registry.bin"
# GLib's slice allocator passes memory between keo's and GStreamer's threads
# behind locks the thread sanitizer cannot see, so a message read off the
# bus in memory a streaming thread once used reads as a race; from plain
# malloc every block is new to it.
export G_SLICE=always-malloc
make_movie() { timeout 120 gst-launch-1.0 -q "$@" >/dev/null; }

VIDEO="videotestsrc num-buffers=30 ! video/x-raw,width=160,height=90"
make_movie $VIDEO,framerate=30000/1001 ! vp8enc ! webmmux name=m ! filesink location=in.webm \
    audiotestsrc num-buffers=50 ! audio/x-raw,rate=48000,channels=2 ! audioconvert ! \
    vorbisenc ! m. || exit 1
make_movie $VIDEO,framerate=24000/1001 ! theoraenc ! oggmux name=m ! filesink location=in.ogg \
    audiotestsrc num-buffers=60 ! audio/x-raw,rate=44100,channels=1 ! audioconvert ! \
    vorbisenc ! m. || exit 1
# 4 s at 25 fps, for the overrides and to be cut in half.
make_movie videotestsrc num-buffers=100 ! video/x-raw,width=160,height=90,framerate=25/1 ! \
    vp8enc ! webmmux ! filesink location=long.webm || exit 1
# Frames whose timestamps are the only clock: the caps say framerate=0/1.
make_movie videotestsrc num-buffers=20 ! video/x-raw,width=64,height=48,framerate=25/1 ! \
    vp8enc ! capssetter caps=video/x-vp8,framerate=0/1 ! webmmux ! filesink location=vfr.webm ||
    exit 1

# movie_is MOVIE TEXT...: keo info --json of MOVIE holds every TEXT.
movie_is() {
    movie=$1
    shift
    "$KEO" info "$movie" --json >info.json || return 1
    for want in "$@"; do
        grep -q "$want" info.json || { echo "  no $want in:"; cat info.json; return 1; }
    done
    "$KEO" verify "$movie" >/dev/null
}

# 30 frames at 30000/1001 last 1.001 s: 48048 samples at 48 kHz; at
# 24000/1001, 1.25125 s: 55180 whole samples at 44.1 kHz.
check "WebM: frame count, exact rate and the sound's length" sh -c '
    "$0" -q export --input in.webm -o webm.mov' "$KEO"
check "WebM: the movie says so" movie_is webm.mov '"width":160,"height":90' '"frames":30,' \
    '"frameRate":"30000/1001"' '"channels":2,"rate":48000,"sampleType":4,"frames":48048,'
check "Ogg: frame count, exact rate and the sound's length" sh -c '
    "$0" -q export --input "file://$PWD/in.ogg" -o ogg.mov' "$KEO"
check "Ogg: the movie says so" movie_is ogg.mov '"frames":30,' '"frameRate":"24000/1001"' \
    '"channels":1,"rate":44100,"sampleType":4,"frames":55180,'

# Lossless frames in, so every frame must come out in its place: the test
# pattern's frames show their own numbers.
frames_keep_their_order() {
    "$KEO" -q export --pattern 0.4 --size 160x96 -o pattern.mov &&
        "$KEO" decode pattern.mov --format rgba -o pattern.rgba &&
        make_movie filesrc location=pattern.rgba ! rawvideoparse format=rgba width=160 \
            height=96 framerate=25/1 ! pngenc ! qtmux ! filesink location=png.mov &&
        "$KEO" -q export --input png.mov -o frompng.mov &&
        "$KEO" decode frompng.mov --format rgba -o - >frompng.rgba &&
        "$CHECK" numbers frompng.rgba 160 96 0 10
}
check "PNG frames in a movie: every frame in its place" frames_keep_their_order

check "--fps and --size go through videorate and videoscale" sh -c '
    "$0" -q export --input long.webm --fps 12 --size 80x60 -o over.mov' "$KEO"
check "--fps and --size: 4 s at 12 fps are 48 frames of 80x60" movie_is over.mov \
    '"width":80,"height":60' '"frames":48,' '"frameRate":"12/1"'
check "--audio replaces the movie's sound" sh -c '
    "$1" make-wav mix.wav 1 22050 16 22050 && "$0" -q export --input in.webm --audio mix.wav -o mix.mov' \
    "$KEO" "$CHECK"
check "--audio: the movie has the WAV's sound" movie_is mix.mov '"channels":1,"rate":22050,"sampleType":3,'

# refused STATUS TEXT ARGS...: keo export fails with one line holding TEXT
# and leaves no output (nor a temporary file) behind.
refused() {
    want=$1 text=$2
    shift 2
    status_and_one_line "$want" "$KEO" -q export "$@" -o refused.mov &&
        grep -q "$text" err.txt && [ ! -e refused.mov ] && no_leftovers . ||
        { cat err.txt; false; }
}
head -c 60000 long.webm >cut.webm
head -c 20000 /dev/urandom >noise.bin
{ head -c 200 in.webm; head -c 20000 /dev/urandom; } >garbled.webm
check "a variable frame rate needs --fps" refused 1 "give --fps" --input vfr.webm
check "with --fps the variable-rate movie exports" sh -c '
    "$0" -q export --input vfr.webm --fps 25 -o vfr.mov && "$0" verify vfr.mov >/dev/null' "$KEO"
check "a WebM cut short is an error" refused 1 "cut short" --input cut.webm
check "bytes that are no movie are an error" refused 1 "noise.bin" --input noise.bin
check "a WebM header followed by noise is an error" refused 1 "garbled.webm" --input garbled.webm
check "an output that is the input is refused" sh -c '
    cp in.webm same.webm && ! "$0" -q export --input "file://$PWD/same.webm" -o same.webm 2>err.txt &&
    grep -q "is also an input" err.txt && cmp -s same.webm in.webm' "$KEO"

finish
