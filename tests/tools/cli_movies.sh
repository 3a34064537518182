# keo on movies built byte by byte: the info a host gets, a big-endian audio
# track delivered exactly, raw frames equal to the codec's own decode, and
# the refusals.
. "$(dirname "$0")/lib.sh"

check "fixtures" "$CHECK" fixtures .

# The fields of earlier versions keep their place and meaning; the rest is
# told from the frame headers and the file.
check "info --json of the baseline movie" sh -c '
    "$0" info baseline.mov --json >info.json &&
    grep -q "^{\"width\":8,\"height\":8,\"depth\":24,\"alpha\":0,\"frames\":2,\"scale\":25,\"sampleSize\":1,\"duration\":2,\"ticksPerFrame\":10160640000," info.json &&
    grep -q "\"audio\":{\"channels\":2,\"rate\":44100,\"sampleType\":3,\"frames\":200," info.json &&
    grep -q "\"frameRate\":\"25/1\",\"fps\":25,\"seconds\":0.080000,\"timecode\":\"00:00:00:02\"" info.json &&
    grep -q "\"layouts\":\[{\"layout\":\"DXT1\",\"lzf\":false,\"frames\":2}\]" info.json &&
    grep -q "\"bits\":16,\"layout\":\"stereo\",\"format\":\"twos\",\"byteOrder\":\"big-endian\"" info.json ||
    { cat info.json; false; }' "$KEO"

check "readable info tells the same as the JSON" sh -c '
    "$0" info baseline.mov >info.txt && grep -q "8x8" info.txt && grep -q "44100 Hz" info.txt &&
    grep -q "25 fps (25/1)" info.txt && grep -q "timecode 00:00:00:02" info.txt &&
    grep -q "DXT1: 2 frames" info.txt && grep -q "stereo (2 channels)" info.txt &&
    grep -q "Mbit/s" info.txt || { cat info.txt; false; }' "$KEO"

check "big-endian audio comes back as stored (--pcm, odd block size)" sh -c '
    "$0" audio baseline.mov -o base.wav --pcm --block 37 && "$1" same-wav baseline-expected.wav base.wav' \
    "$KEO" "$CHECK"

check "raw argb of every frame equals DecodeFramePayload" sh -c '
    "$0" decode baseline.mov --format argb -o - >all.argb && "$1" payload baseline.mov all.argb 0 2' \
    "$KEO" "$CHECK"

check "raw rgba of frame 1 to a file" sh -c '
    "$0" decode baseline.mov --frame 1 --format rgba -o one.rgba && "$1" payload baseline.mov one.rgba 1 1 rgba' \
    "$KEO" "$CHECK"

check "PNG of frame 1 reads back (stb_image) as the raw frame" sh -c '
    "$0" decode baseline.mov --frame 1 -o one.png && "$1" png one.png one.rgba' "$KEO" "$CHECK"

check "a folder gets one PNG per frame, named by frame number" sh -c '
    "$0" decode baseline.mov --frames 1: -o frames/ && [ -f frames/frame_000001.png ] &&
    [ ! -e frames/frame_000000.png ] && "$1" png frames/frame_000001.png one.rgba' "$KEO" "$CHECK"

check "verify passes" sh -c '"$0" verify baseline.mov >verify.txt && grep -q "^verify: ok" verify.txt' "$KEO"

check "sheet writes a PNG" sh -c '"$0" sheet baseline.mov -o sheet.png --width 16 && [ -s sheet.png ]' "$KEO"

# A movie's rate is that of its whole time-to-sample table; its timecode
# counts the time itself where the rate is not whole.
rate_and_length() {
    "$KEO" info "$1" --json >rate.json &&
    grep -q "\"frameRate\":\"$2\",\"fps\":[0-9.]*,\"seconds\":$3,\"timecode\":\"$4\"" rate.json ||
    { cat rate.json; false; }
}
check "30 fps timed in milliseconds is 30 fps" rate_and_length ms30.mov 30/1 3.333333 00:00:03:10
check "a long first frame leaves 29.97 fps as it is" \
    rate_and_length long-first.mov 30000/1001 1.001000 "00:00:01;00"
check "12.5 fps counts its timecode in time" rate_and_length fps12.5.mov 25/2 2.000000 00:00:02:00

check "a movie without sound has \"audio\":null" sh -c '"$0" info silent.mov --json | grep -q "\"audio\":null}$"' "$KEO"
check "audio of a silent movie: one line" status_and_one_line 1 "$KEO" audio silent.mov -o s.wav

# An edit list that has a player start the video a second late: info lists
# both edits, and says on stderr that the host and keo show it at once; the
# sound's edit of no length says nothing. The host is told what it always was.
late_start() {
    "$KEO" info late-start.mov --json >late.json 2>late.err &&
        grep -q '"edits":\[{"track":"video","start":0.000000,"seconds":1.000000,"duration":600,"mediaTime":-1,"mediaSeconds":null,"rate":1},{"track":"video","start":1.000000,"seconds":0.080000,"duration":48,"mediaTime":0,"mediaSeconds":0.000000,"rate":1},{"track":"audio",' late.json &&
        grep -q '"frames":2,"scale":25,"sampleSize":1,"duration":2,' late.json &&
        grep -qx "keo: note: late-start.mov: a player starts its video 1.000 s late (an empty edit before it); the host and keo show it from media time 0" late.err &&
        [ "$(wc -l <late.err)" -eq 1 ] &&
        "$KEO" info late-start.mov 2>/dev/null | grep -q "edits:      video: 1.000 s empty, 0.080 s from media 0.000 s" &&
        "$KEO" -q info late-start.mov 2>&1 >/dev/null | { ! grep -q .; } || { cat late.json late.err; false; }
}
check "an empty first edit: listed by info, and a note on stderr" late_start
check "the baseline's edit of no length: no note" sh -c '
    "$0" info baseline.mov 2>err.txt >/dev/null && [ ! -s err.txt ]' "$KEO"
check "verify reports the bad frame in words and fails" sh -c '
    "$0" verify bad-frame.mov >bad.txt; [ $? -eq 3 ] && grep -qx "frame 1: its data is damaged, cut short or cannot be read (error 99)" bad.txt &&
    [ "$(grep -c "^frame" bad.txt)" -eq 1 ] && grep -q "^verify: FAILED" bad.txt || { cat bad.txt; false; }' "$KEO"
bad_frame_decode() {
    status_and_one_line 3 "$KEO" decode bad-frame.mov -o bad/ && [ ! -e bad/frame_000001.png ] &&
        [ -s bad/frame_000000.png ] && no_leftovers bad
}
check "decoding the bad frame: one line for it, the others written" bad_frame_decode
# Raw frames go out from the host's frame itself: a frame that fails leaves
# nothing of itself in the stream, and a write that fails says why.
check "raw frames of a movie with a bad frame: the good one alone, status 3" sh -c '
    "$0" decode bad-frame.mov --format argb -o - >bad.argb 2>/dev/null; [ $? -eq 3 ] &&
    "$1" payload bad-frame.mov bad.argb 0 1' "$KEO" "$CHECK"
check "raw frames to a full device: No space left on device" sh -c '
    "$0" decode baseline.mov --format rgba -o /dev/full 2>err.txt; [ $? -eq 1 ] &&
    grep -q "No space left on device" err.txt || { cat err.txt; false; }' "$KEO"
check "audio the file does not hold: one line naming the sample frames" sh -c '
    "$0" audio lost-audio.mov -o lost.wav 2>lost.err; [ $? -eq 3 ] &&
    grep -qx "keo: audio sample frames 0 to 199: its data is damaged, cut short or cannot be read (error 99)" lost.err &&
    [ ! -e lost.wav ] || { cat lost.err; false; }' "$KEO"
check "verify names the audio it could not read and fails" sh -c '
    "$0" verify lost-audio.mov >lost.txt; [ $? -eq 3 ] &&
    grep -qx "audio sample frames 0 to 199: its data is damaged, cut short or cannot be read (error 99)" lost.txt &&
    grep -q "^verify: FAILED.* 0 audio sample frames read" lost.txt || { cat lost.txt; false; }' "$KEO"
# A header the decoder refuses (format version 2; 28 bytes of 0xFF) is
# unreadable, never counted as a layout; verify fails that frame.
refused_header() {
    "$KEO" info "$1" --json >h.json &&
        grep -q '"layouts":\[{"layout":"DXT1","lzf":false,"frames":1}\],"unreadableHeaders":1,' h.json &&
        { "$KEO" verify "$1" >h.txt; [ $? -eq 3 ]; } && grep -q "^frame 1:" h.txt || { cat h.json h.txt; false; }
}
check "a version 2 header: unreadable to info and verify" refused_header bad-frame.mov
check "a header of 0xFF bytes: unreadable to info and verify" refused_header ff-header.mov

# A movie cut inside its media data lacks the movie header, which a writer
# puts last; so does one whose writing stopped before the media data's size
# was set (still 0). Each command says so.
"$KEO" -q export --pattern 0.4 --size 64x48 -o whole.mov && head -c 20000 whole.mov >cut.mov &&
    { head -c 8 cut.mov && printf '\0\0\0\0\0\0\0\0' && tail -c +17 cut.mov; } >stopped.mov
cut_short() {
    status_and_one_line 2 "$KEO" "$@" &&
        grep -qF "the movie header ('moov' atom) is missing; the file may be cut short" err.txt
}
for m in cut.mov stopped.mov; do
    check "$m: info says the movie header is missing" cut_short info "$m"
    check "$m: verify says it too" cut_short verify "$m"
    check "$m: decode says it too" cut_short decode "$m" -o none.png
done

# A movie header past the reader's limit is refused unread (a sparse file: no
# disk space), and the words say which limit, not that the file is damaged.
printf '\020\000\000\020moov' >huge-header.mov && truncate -s 300M huge-header.mov
huge_header() {
    status_and_one_line 2 "$KEO" info huge-header.mov &&
        grep -qF "movie header ('moov' atom) is larger than 256 MiB" err.txt
}
check "a movie header over 256 MiB: info names the limit" huge_header

check "other codec: status 2, one line" status_and_one_line 2 "$KEO" info other-codec.mov
check "not a movie: status 2, one line" status_and_one_line 2 "$KEO" info not-a-movie.mov
check "missing file: status 2, one line" status_and_one_line 2 "$KEO" info no-such.mov
check "missing file for decode: status 2" status_and_one_line 2 "$KEO" decode no-such.mov -o x.png
past_end() {
    status_and_one_line 1 "$KEO" decode baseline.mov --frame 2 -o past.png && [ ! -e past.png ] &&
        no_leftovers .
}
check "frame past the end: one line, nothing written" past_end
check "bad --plugin: one line" status_and_one_line 1 "$KEO" --plugin /nonexistent.so info baseline.mov
check "many frames into one PNG file is refused" status_and_one_line 1 "$KEO" decode baseline.mov -o many.png

finish
