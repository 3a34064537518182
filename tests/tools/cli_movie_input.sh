# keo export --input MOVIE: movies made here with GStreamer's own encoders
# (VP8 and Vorbis in WebM, Theora and Vorbis in Ogg, PNG frames in a
# QuickTime movie) become KEO movies with their frame count, exact rate,
# frame order and the sound's length; --fps and --size override; sound
# above what a movie holds is resampled. What cannot become a whole movie (a
# variable rate without --fps, a download cut short, a size that changes,
# bytes that are no movie) fails with one line and leaves nothing.
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
# Downloads cut short: two seconds of 25 fps video with two seconds of
# sound, in each container, cut at several points. A cut that costs more
# than two frames fails with nothing written. An Ogg file declares no length
# of its own (a demuxer takes it from the last page left), so there its
# missing end, the pages that close each stream, is what fails it, at any
# cut, even one on a page boundary.
TWO_S="videotestsrc num-buffers=50 ! video/x-raw,width=160,height=90,framerate=25/1"
SOUND="audiotestsrc num-buffers=100 samplesperbuffer=960 ! audio/x-raw,rate=48000,channels=2"
make_movie $TWO_S ! vp8enc ! webmmux name=m ! filesink location=whole.webm \
    $SOUND ! audioconvert ! vorbisenc ! m. || exit 1
make_movie $TWO_S ! vp8enc ! matroskamux name=m ! filesink location=whole.mkv \
    $SOUND ! audioconvert ! vorbisenc ! m. || exit 1
make_movie $TWO_S ! jpegenc ! qtmux faststart=true name=m ! filesink location=whole.mov \
    $SOUND ! audioconvert ! m. || exit 1
make_movie $TWO_S ! theoraenc ! oggmux name=m ! filesink location=whole.ogg \
    $SOUND ! audioconvert ! vorbisenc ! m. || exit 1
# cut_at FILE PERMILLE: the first PERMILLE thousandths of FILE, as cut-PERMILLE.EXT.
cut_at() {
    head -c $(($(wc -c <"$1") * $2 / 1000)) "$1" >"cut-$2.${1##*.}"
    echo "cut-$2.${1##*.}"
}
for kind in webm mkv mov ogg; do
    check "a whole $kind converts to 50 frames without a note of a short end" sh -c '
        "$0" export --input "$1" -o "$1.mov" >out.txt 2>err.txt &&
        grep -q "wrote $1.mov: 50 frames" out.txt && ! grep -q "short" err.txt ||
        { cat out.txt err.txt; false; }' "$KEO" whole.$kind
    for permille in 500 900; do
        check "$kind cut at $permille/1000 is refused as cut short" \
            refused 1 "cut short" --input "$(cut_at whole.$kind $permille)"
    done
done
for permille in 970 990 999; do
    check "ogg cut at $permille/1000 is refused as cut short" \
        refused 1 "cut short" --input "$(cut_at whole.ogg $permille)"
done
# Cut on a page boundary, before the last page: every page there is whole.
last_page=$(grep -obUa OggS whole.ogg | tail -1 | cut -d: -f1)
head -c "$last_page" whole.ogg >cut-page.ogg
check "ogg cut on a page boundary: its streams' last pages are missing" \
    refused 1 "no last page (one marked end-of-stream); the file is cut short" --input cut-page.ogg
# Near the end, a cut costs a frame or two, or only sound: it converts, but
# never without a word when the movie is short of what the file declares.
near_end() {
    converted=0
    for permille in 970 990 999; do
        in=$(cut_at "$1" $permille)
        rm -f near.mov
        if "$KEO" export --input "$in" -o near.mov >out.txt 2>err.txt; then
            frames=$(sed -n 's/^wrote near.mov: \([0-9]*\) frames.*/\1/p' out.txt)
            [ "${frames:-0}" -ge 48 ] || { echo "  $in: $frames frames"; return 1; }
            grep -q "ends at .* its header declares (. frames\? short)" err.txt && converted=1 ||
                [ "$frames" -eq 50 ] || { echo "  $in: $frames frames, silently"; return 1; }
        else
            grep -q "cut short" err.txt && [ ! -e near.mov ] || { cat err.txt; return 1; }
        fi
    done
    [ "$converted" -eq 1 ] || { echo "  no cut near the end of $1 converted with a note"; false; }
}
check "webm cut near its end: refused, or converted with a note" near_end whole.webm
check "mkv cut near its end: refused, or converted with a note" near_end whole.mkv
check "mov cut near its end (its sound whole): refused, or converted with a note" near_end whole.mov

# Sound above the 96 kHz a movie holds is resampled, to 88200 Hz for the
# 44.1 kHz family and 96000 Hz otherwise, with a note; a WAV file at such a
# rate is refused by name, never blamed on the output.
for rate in 176400 192000; do
    make_movie videotestsrc num-buffers=10 ! video/x-raw,width=64,height=48,framerate=25/1 ! \
        vp8enc ! matroskamux name=m ! filesink location=hi$rate.mkv \
        audiotestsrc num-buffers=10 samplesperbuffer=$((rate / 25)) ! \
        audio/x-raw,format=S24LE,rate=$rate,channels=2 ! m. || exit 1
done
high_rate() {
    "$KEO" export --input "hi$1.mkv" -o "hi$1.mov" 2>err.txt >/dev/null &&
        grep -q "$1 Hz resampled to $2 Hz" err.txt &&
        movie_is "hi$1.mov" "\"channels\":2,\"rate\":$2,\"sampleType\":4,\"frames\":$(($2 * 10 / 25))," ||
        { cat err.txt; false; }
}
check "176.4 kHz sound becomes 88200 Hz" high_rate 176400 88200
check "192 kHz sound becomes 96000 Hz" high_rate 192000 96000
"$CHECK" make-wav hi.wav 2 192000 16 19200 || exit 1
check "a 192 kHz WAV is refused by its name" refused 1 "hi.wav: is at 192000 Hz" \
    --input in.webm --audio hi.wav

# A stream whose frames grow at frame 25 (the encoder keeps going; the
# container is told one size): without --size it is refused at that frame.
make_movie concat name=c ! videoconvert ! vp8enc ! capssetter caps=video/x-vp8,width=160,height=90 ! \
    webmmux ! filesink location=grows.webm \
    videotestsrc num-buffers=25 ! video/x-raw,width=160,height=90,framerate=25/1 ! c. \
    videotestsrc num-buffers=25 ! video/x-raw,width=320,height=180,framerate=25/1 ! c. || exit 1
check "a size change is named at the frame where it happens" refused 1 \
    "changes its frame size at frame 25, from 160x90 to 320x180" --input grows.webm

check "an output that is the input is refused" sh -c '
    cp in.webm same.webm && ! "$0" -q export --input "file://$PWD/same.webm" -o same.webm 2>err.txt &&
    grep -q "is also an input" err.txt && cmp -s same.webm in.webm' "$KEO"

finish
