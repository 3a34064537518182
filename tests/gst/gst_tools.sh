#!/bin/sh
# The built plug-in module through GStreamer's own tools, as a user runs them:
# decodebin and playbin reach the end of a movie with sound, gst-discoverer
# finds no missing plug-in, a movie transcodes to Theora/Ogg, and raw frames
# from gst-launch feed `keo export --input -`; keoenc's output decodes;
# keomux records and transcodes into movies keo verifies, byte for byte
# what keo export writes for the same frames and sound (sound shorter or
# longer than the pictures too), keeps every bit of 32-bit sound, survives
# SIGKILL with its header kept up to date, and refuses a pipe.
# Called as: gst_tools.sh KEO PLUGIN_DIR WORKDIR. Exit 77 (skipped) when
# GStreamer's tools are not installed (`make deps` installs them).
set -u
KEO=$1
export GST_PLUGIN_PATH=$2
WORK=$3
for tool in gst-launch-1.0 gst-discoverer-1.0 gst-inspect-1.0; do
    if ! command -v $tool >/dev/null; then
        echo "skipped: $tool is not installed (make deps installs it)"
        exit 77
    fi
done
case "$WORK" in
*/work/gst_*) ;;
*) echo "gst_tools.sh: refusing to use $WORK as a work folder" >&2; exit 1 ;;
esac
rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK" || exit 1
# A registry of this folder's own, so the user's is neither read nor written.
export GST_REGISTRY="$WORK/registry.bin"
failures=0
check() {
    name=$1
    shift
    if "$@"; then echo "ok   $name"; else echo "FAIL $name"; failures=$((failures + 1)); fi
}
# Every pipeline has a minute: a hang is a failure, not a stuck test run.
launch() { timeout 60 gst-launch-1.0 "$@"; }

"$KEO" export --pattern 2 -o movie.mov >/dev/null || exit 1
"$KEO" export --pattern 1 --alpha --optimize 1 -o alpha.mov >/dev/null || exit 1
uri="file://$WORK/movie.mov"

check "the module is found and keodec has primary rank" \
    sh -c 'gst-inspect-1.0 keodec | grep -q "Rank *primary"'

# Counts the buffers a fakesink named vs got from the -v output.
frames_seen() { grep -c 'vs.*chain' "$1"; }

decodebin_plays() {
    launch -v filesrc location=movie.mov ! decodebin name=d \
        d. ! queue ! video/x-raw ! fakesink name=vs silent=false \
        d. ! queue ! audio/x-raw ! fakesink >decodebin.txt 2>&1 &&
        grep -q 'Got EOS' decodebin.txt && [ "$(frames_seen decodebin.txt)" -eq 50 ]
}
check "decodebin plays every frame and the sound to the end" decodebin_plays

playbin_plays() {
    launch -v playbin uri="$uri" video-sink="fakesink name=vs silent=false" \
        audio-sink=fakesink >playbin.txt 2>&1 &&
        grep -q 'Got EOS' playbin.txt && [ "$(frames_seen playbin.txt)" -eq 50 ]
}
check "playbin plays every frame and the sound to the end" playbin_plays

discovers() {
    timeout 60 gst-discoverer-1.0 "$1" >discover.txt 2>&1 &&
        ! grep -qi 'missing' discover.txt && grep -q 'Width: 640' discover.txt
}
check "gst-discoverer-1.0 finds no missing plug-in" discovers movie.mov
check "gst-discoverer-1.0 finds no missing plug-in for alpha movies" discovers alpha.mov

transcodes() {
    launch filesrc location=movie.mov ! qtdemux name=d d.video_0 ! queue ! keodec ! \
        videoconvert ! theoraenc ! oggmux ! filesink location=movie.ogg >transcode.txt 2>&1 &&
        launch filesrc location=movie.ogg ! oggdemux ! theoradec ! \
            fakesink name=vs silent=false -v >ogg.txt 2>&1 &&
        [ "$(frames_seen ogg.txt)" -eq 50 ]
}
check "a movie transcodes to Theora/Ogg with every frame" transcodes

raw_into_export() {
    launch -q videotestsrc num-buffers=30 ! \
        video/x-raw,format=RGBA,width=320,height=180,framerate=25/1 ! fdsink fd=1 |
        "$KEO" export --input - --size 320x180 -o fromraw.mov >/dev/null &&
        "$KEO" verify fromraw.mov >/dev/null &&
        "$KEO" info fromraw.mov | grep -q '30'
}
check "raw frames from gst-launch feed keo export" raw_into_export

encoder_round_trip() {
    launch videotestsrc num-buffers=10 ! video/x-raw,format=ARGB,width=64,height=36 ! \
        keoenc layout=dxt1 ! keodec ! fakesink >roundtrip.txt 2>&1
}
check "keoenc's payloads decode through keodec" encoder_round_trip

check "keomux is found and describes itself" \
    sh -c 'gst-inspect-1.0 keomux | grep -q "KEO movie muxer"'

records() {
    launch videotestsrc num-buffers=60 ! video/x-raw,width=320,height=180,framerate=30000/1001 ! \
        videoconvert ! keoenc ! keomux name=m ! filesink location=rec.mov \
        audiotestsrc num-buffers=50 ! audioconvert ! m. >rec.txt 2>&1 &&
        "$KEO" verify rec.mov >/dev/null &&
        "$KEO" info rec.mov --json | grep -q '"frames":60,.*"frameRate":"30000/1001"'
}
check "a recording through keoenc ! keomux passes keo verify" records

transcodes_into_keo() {
    launch videotestsrc num-buffers=25 ! video/x-raw,width=160,height=90,framerate=25/1 ! \
        vp8enc ! webmmux name=w ! filesink location=in.webm \
        audiotestsrc num-buffers=30 ! audioconvert ! vorbisenc ! w. >webm.txt 2>&1 &&
        launch filesrc location=in.webm ! decodebin name=d \
            d. ! queue ! videoconvert ! keoenc ! keomux name=m ! filesink location=fromwebm.mov \
            d. ! queue ! audioconvert ! m. >fromwebm.txt 2>&1 &&
        "$KEO" verify fromwebm.mov >/dev/null &&
        "$KEO" info fromwebm.mov --json | grep -q '"frames":25,'
}
check "a WebM transcodes into KEO through decodebin ! keoenc ! keomux" transcodes_into_keo

# The same raw frames, and the same sound, through keo export and through
# keoenc ! keomux, with the same settings: the two movies are the same file.
# 20 frames at 24000/1001 last 40040 sample frames at 48 kHz and 36786 at
# 44.1 kHz, so each WAV is as long as the export's sound, neither cut nor
# padded; keomux then stores it after the frames in keo export's blocks, and
# float samples as 24-bit integers, as the host's float path leaves them.
# (32-bit integers are not among them: keo export's pass through the host's
# floats keeps 24 of their bits, keomux keeps all 32.)
launch -q videotestsrc pattern=ball num-buffers=20 ! \
    video/x-raw,format=RGBA,width=160,height=90 ! filesink location=frames.rgba >/dev/null
same_file_as_export() {
    keo_sound="" mux_sound=""
    if [ -n "${3:-}" ]; then
        # format, channels, rate, sample frames
        set -- "$1" "$2" $3
        launch -q audiotestsrc wave=white-noise volume=1 num-buffers=1 samplesperbuffer=$6 ! \
            audio/x-raw,format=$3,channels=$4,rate=$5 ! wavenc ! \
            filesink location=sound.wav >/dev/null || return 1
        keo_sound="--audio sound.wav"
        mux_sound="filesrc location=sound.wav ! wavparse ! m."
    fi
    "$KEO" -q export --input - --size 160x90 --fps 24000/1001 $1 $keo_sound -o export.mov \
        <"${FRAMES:-frames.rgba}" &&
        launch -q filesrc location="${FRAMES:-frames.rgba}" ! rawvideoparse format=rgba width=160 height=90 \
            framerate=24000/1001 ! videoconvert ! keoenc $2 ! keomux name=m ! \
            filesink location=muxed.mov $mux_sound >/dev/null && cmp export.mov muxed.mov
}
check "keomux writes keo export's bytes (DXT24 + LZF)" same_file_as_export "" ""
check "keomux writes keo export's bytes (DXT1)" same_file_as_export "--optimize 1" "layout=dxt1"
check "keomux writes keo export's bytes (DXT24 plain)" same_file_as_export "--optimize 2" "lzf=false"
# Pictures with transparency into opaque layouts: both lay them over black.
launch -q videotestsrc pattern=ball background-color=0x60204080 foreground-color=0xc0f0a020 \
    num-buffers=20 ! \
    video/x-raw,format=RGBA,width=160,height=90 ! filesink location=see_through.rgba >/dev/null
see_through() { FRAMES=see_through.rgba same_file_as_export "$@"; }
check "keomux writes keo export's bytes (DXT24, pictures with transparency)" see_through "" ""
check "keomux writes keo export's bytes (DXT1, pictures with transparency)" \
    see_through "--optimize 1" "layout=dxt1"
check "keomux writes keo export's bytes (DXT5)" same_file_as_export "--alpha" "layout=dxt5"
check "keomux writes keo export's bytes (16-bit stereo sound)" \
    same_file_as_export "" "" "S16LE 2 48000 40040"
check "keomux writes keo export's bytes (24-bit 5.1 sound at 44.1 kHz)" \
    same_file_as_export "--optimize 1" "layout=dxt1" "S24LE 6 44100 36786"
check "keomux writes keo export's bytes (float stereo sound, as 24-bit)" \
    same_file_as_export "--alpha" "layout=dxt5" "F32LE 2 44100 36786"
# Sound shorter or longer than the pictures: both pad it with silence or cut
# it to the frames' length, the same way.
check "keomux writes keo export's bytes (sound shorter than the pictures)" \
    same_file_as_export "" "" "S16LE 2 48000 30000"
check "keomux writes keo export's bytes (sound longer than the pictures)" \
    same_file_as_export "--optimize 1" "layout=dxt1" "S24LE 1 48000 50000"

# 32-bit sound recorded by keomux comes back from keo audio --pcm as it went
# in, every bit: 25 frames and 48000 sample frames, 1 s each.
pcm32_exact() {
    launch videotestsrc num-buffers=25 ! video/x-raw,width=64,height=64,framerate=25/1 ! \
        videoconvert ! keoenc ! keomux name=m ! filesink location=s32.mov \
        audiotestsrc wave=white-noise num-buffers=48 samplesperbuffer=1000 ! \
        audio/x-raw,format=S32LE,channels=2,rate=48000 ! tee name=t ! queue ! m. \
        t. ! queue ! filesink location=s32.raw >s32.txt 2>&1 &&
        "$KEO" -q audio s32.mov --pcm -o s32.wav &&
        launch -q filesrc location=s32.wav ! wavparse ! filesink location=s32back.raw \
            >/dev/null 2>&1 &&
        cmp -s s32.raw s32back.raw
}
check "keo audio --pcm gives keomux's 32-bit sound back exactly" pcm32_exact

# A recording with its header kept up to date, killed with SIGKILL: the
# file opens with what the last update held, frames and sound, for keo, the
# importer, qtdemux with keodec, and mediainfo where it is installed.
killed_recording_kept() {
    # gst-launch itself in the background, so that the kill reaches it.
    gst-launch-1.0 -e videotestsrc is-live=true ! \
        video/x-raw,width=160,height=90,framerate=25/1 ! videoconvert ! keoenc ! \
        keomux name=m reserved-max-duration=3600000000000 reserved-moov-update-period=500000000 ! \
        filesink location=killed.mov audiotestsrc is-live=true ! audioconvert ! m. \
        >killed.txt 2>&1 &
    pid=$!
    sleep 4
    kill -9 $pid
    wait $pid 2>/dev/null
    "$KEO" verify killed.mov >killed_verify.txt 2>&1 &&
        "$KEO" info killed.mov --json >killed.json &&
        frames=$(grep -o '"frames":[0-9]*' killed.json | head -n 1 | cut -d: -f2) &&
        [ "$frames" -ge 25 ] && [ "$frames" -le 100 ] && grep -q '"audio":{"channels"' killed.json &&
        launch filesrc location=killed.mov ! qtdemux ! keodec ! fakesink >killed_demux.txt 2>&1 &&
        grep -q 'Got EOS' killed_demux.txt &&
        { ! command -v mediainfo >/dev/null ||
            mediainfo killed.mov | grep -q 'ZUVM'; }
}
check "a recording killed with SIGKILL keeps everything up to its last header update" \
    killed_recording_kept

# Every rate is stored as given: keo export and keomux write the same file at
# each, keo info reads the rate back in lowest terms, and the importer and
# keodec give the frames in order (the pictures of the same payloads at 25
# fps). Rates whose frames last no whole number of host ticks among them,
# and one between two standard rates, which is neither.
"$KEO" -q export --input - --size 160x90 --fps 25 -o at25.mov <frames.rgba &&
    "$KEO" -q decode at25.mov --format rgba -o in_order.rgba
rate_kept() {
    "$KEO" -q export --input - --size 160x90 --fps "$1" -o rate.mov <frames.rgba &&
        launch -q filesrc location=frames.rgba ! rawvideoparse format=rgba width=160 height=90 \
            framerate="$2" ! videoconvert ! keoenc ! keomux ! filesink location=muxrate.mov \
            >/dev/null && cmp rate.mov muxrate.mov &&
        "$KEO" info rate.mov --json | grep -q "\"frames\":20,.*\"frameRate\":\"$3\"" &&
        "$KEO" -q decode rate.mov --format rgba -o - | cmp -s - in_order.rgba &&
        launch -q filesrc location=rate.mov ! qtdemux ! keodec ! videoconvert ! \
            video/x-raw,format=RGBA ! filesink location=keodec.rgba >/dev/null &&
        cmp -s keodec.rgba in_order.rgba
}
while read -r given fraction reduced; do
    check "a movie at $given fps keeps its rate, $reduced, and every frame in order" \
        rate_kept "$given" "$fraction" "$reduced"
done <<EOF_RATES
12.5 25/2 25/2
25/3 25/3 25/3
15/2 15/2 15/2
7.5 15/2 15/2
1000 1000/1 1000/1
120 120/1 120/1
23.976 24000/1001 24000/1001
29.97 30000/1001 30000/1001
13 13/1 13/1
19 19/1 19/1
73 73/1 73/1
24.5 49/2 49/2
EOF_RATES

refuses_a_pipe() {
    timeout 60 gst-launch-1.0 -q videotestsrc num-buffers=5 ! \
        video/x-raw,format=ARGB,width=64,height=36 ! keoenc ! keomux ! fdsink fd=1 \
        2>pipe.txt | wc -c >piped.txt
    [ "$(cat piped.txt)" -eq 0 ] && grep -q "can seek" pipe.txt
}
check "keomux into a pipe: an error and not a byte" refuses_a_pipe

# A movie cut in the middle of its frames: an error or a clean end, in time.
# When qtdemux finds no stream, gst-launch itself now and then stays in its
# main loop after printing the error (with any decoder or none after the
# demuxer), so an error already reported counts as the end.
cut_movie_ends() {
    head -c 100000 movie.mov >cut.mov
    launch filesrc location=cut.mov ! qtdemux ! keodec ! fakesink >cut.txt 2>&1
    status=$?
    ! grep -q 'Segmentation\|Aborted' cut.txt &&
        { [ "$status" -ne 124 ] || grep -q '^ERROR' cut.txt; }
}
check "a cut movie gives an error or a clean end" cut_movie_ends

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
