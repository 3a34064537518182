# keo export, then keo reading the result back through the plug-in: the
# settings reach the movie, frames decode to what the codec decodes, frame
# order survives a pipe, and sound of every width comes back sample-exact.
. "$(dirname "$0")/lib.sh"

# 10 frames of 160x96 (wide enough for the frame-number squares).
PAT="--pattern 0.4 --size 160x96"

check "export the pattern (DXT24 + LZF, tone)" "$KEO" export $PAT -o p.mov
check "info --json of the pattern movie" sh -c '
    "$0" info p.mov --json >p.json &&
    grep -q "^{\"width\":160,\"height\":96,\"depth\":24,\"alpha\":0,\"frames\":10,\"scale\":25,\"sampleSize\":1,\"duration\":10,\"ticksPerFrame\":10160640000," p.json &&
    grep -q "\"audio\":{\"channels\":2,\"rate\":48000,\"sampleType\":3,\"frames\":19200," p.json &&
    grep -q "\"layouts\":\[{\"layout\":\"DXT24\",\"lzf\":true,\"frames\":10}\]" p.json ||
    { cat p.json; false; }' "$KEO"
check "verify the pattern movie" sh -c '"$0" verify p.mov | grep -q "^verify: ok"' "$KEO"
check "raw argb equals DecodeFramePayload of the same samples" sh -c '
    "$0" decode p.mov --frames 3:7 --format argb -o mid.argb && "$1" payload p.mov mid.argb 3 4' \
    "$KEO" "$CHECK"
check "every frame shows its own number" sh -c '
    "$0" decode p.mov --format rgba -o - >all.rgba && "$1" numbers all.rgba 160 96 0 10' \
    "$KEO" "$CHECK"

for layout in "--optimize 1" "--optimize 2" "--alpha"; do
    check "export and read back with $layout" sh -c '
        "$0" export '"$PAT"' $2 -o l.mov && "$0" decode l.mov --format argb -o l.argb &&
        "$1" payload l.mov l.argb 0 10' "$KEO" "$CHECK" "$layout"
done
check "--alpha reports alpha" sh -c '"$0" export '"$PAT"' --alpha -o a.mov && "$0" info a.mov --json | grep -q "\"alpha\":1"' "$KEO"

check "29.97 is exactly 30000/1001" sh -c '
    "$0" export '"$PAT"' --fps 29.97 -o ntsc.mov && "$0" info ntsc.mov --json >ntsc.json &&
    grep -q "\"scale\":30000,\"sampleSize\":1001,\"duration\":12012,\"ticksPerFrame\":8475667200" ntsc.json ||
    { cat ntsc.json; false; }' "$KEO"

# At these rates a frame lasts no whole number of host ticks: each frame must
# still come back in its own place, the last one too.
for fps in 13 19 73; do
    check "every frame of a $fps fps movie comes back in its place" sh -c '
        "$0" export --pattern 1 --size 160x96 --fps $2 -o r.mov &&
        "$0" decode r.mov --format rgba -o - >r.rgba && "$1" numbers r.rgba 160 96 0 $2' \
        "$KEO" "$CHECK" "$fps"
done

check "raw frames piped out of decode and into export keep their order" sh -c '
    "$0" decode p.mov --format rgba -o - | "$0" export --input - --size 160x96 -o copy.mov &&
    "$0" decode copy.mov --format rgba -o - >copy.rgba && "$1" numbers copy.rgba 160 96 0 10' \
    "$KEO" "$CHECK"

check "PNG folder and glob inputs" sh -c '
    "$0" decode p.mov -o pngs/ && "$0" export --input pngs -o fromdir.mov &&
    "$0" export --input "pngs/frame_00000[2-4].png" -o fromglob.mov &&
    "$0" decode fromdir.mov --format rgba -o - >dir.rgba && "$1" numbers dir.rgba 160 96 0 10 &&
    "$0" info fromglob.mov --json | grep -q "\"frames\":3,"' "$KEO" "$CHECK"

# Frames as stills are encoded on worker threads while the next are decoded:
# each file must still hold its own frame, and a stream its frames in order.
check "PNG (fast and small), TIFF and JPEG folders hold the raw frames" sh -c '
    "$0" decode p.mov --format rgba -o all.rgba &&
    "$0" decode p.mov --png-compression small -o small/ && "$1" stills png small all.rgba 160 96 10 &&
    "$1" stills png pngs all.rgba 160 96 10 &&
    "$0" decode p.mov --format tiff -o tiffs/ && "$1" stills tiff tiffs all.rgba 160 96 10 &&
    "$0" decode p.mov --format jpeg --jpeg-quality 90 -o jpegs/ &&
    "$1" stills jpeg jpegs all.rgba 160 96 10' "$KEO" "$CHECK"
check "PNGs to one stream come in frame order" sh -c '
    "$0" decode p.mov -o - >all.pngs && "$1" png-stream all.pngs all.rgba 160 96 10' \
    "$KEO" "$CHECK"
check "a sheet at either PNG compression holds the same pixels" sh -c '
    "$0" sheet p.mov --count 6 --width 40 -o fast.png &&
    "$0" sheet p.mov --count 6 --width 40 --png-compression small -o small.png &&
    "$1" same-picture fast.png small.png' "$KEO" "$CHECK"

# Sound: short sources are padded with silence, long ones cut at the last frame.
# 10 frames at 25 fps are 0.4 s: 17640 sample frames at 44100 Hz.
audio_round_trip() {
    channels=$1 bits=$2 frames=$3 extra=$4
    "$CHECK" make-wav in.wav "$channels" 44100 "$bits" "$frames" &&
        "$KEO" export $PAT --audio in.wav $extra -o s.mov &&
        "$KEO" audio s.mov --pcm -o out.wav && "$CHECK" same-wav in.wav out.wav 17640
}
check "audio: stereo 16-bit, shorter than the video" audio_round_trip 2 16 10000 ""
check "audio: mono 8-bit, longer than the video" audio_round_trip 1 8 30000 ""
check "audio: 5.1 24-bit" audio_round_trip 6 24 17640 ""
check "audio: 16-bit stored as 24-bit (--audio-bits)" audio_round_trip 2 16 17640 "--audio-bits 24"
check "audio: --audio-bits 24 reaches the movie" sh -c '"$0" info s.mov --json | grep -q "\"sampleType\":4"' "$KEO"
check "audio: a float WAV is stored as 24-bit integers, with a note" sh -c '
    "$1" make-wav f.wav 2 44100 16 17640 float && "$0" export '"$PAT"' --audio f.wav -o f.mov 2>note.txt &&
    grep -q "^keo: note: f.wav holds 32-bit float samples; they are stored as 24-bit integers" note.txt &&
    "$0" info f.mov --json | grep -q "\"sampleType\":4" && "$0" audio f.mov --pcm -o f-out.wav &&
    "$1" same-wav f.wav f-out.wav 17640' "$KEO" "$CHECK"
check "audio: a 32-bit integer WAV says the low 8 bits are not kept" sh -c '
    "$1" make-wav i32.wav 2 44100 32 100 && "$0" export '"$PAT"' --audio i32.wav -o i32.mov 2>note.txt &&
    grep -q "^keo: note: i32.wav holds 32-bit integer samples; the host.s sound path is 32-bit float, so the low 8 bits" note.txt &&
    "$0" --quiet export '"$PAT"' --audio i32.wav -o i32.mov 2>quiet.txt >quiet-out.txt &&
    [ ! -s quiet.txt ] && [ ! -s quiet-out.txt ]' "$KEO" "$CHECK"
check "audio: float output by default" sh -c '"$0" audio p.mov -o float.wav && [ -s float.wav ]' "$KEO"

# Failed exports leave neither the movie nor a temporary behind.
mkdir -p out
failed_export() {
    status_and_one_line 1 "$KEO" export "$@" -o out/bad.mov && [ ! -e out/bad.mov ] && no_leftovers out
}
"$CHECK" make-wav five.wav 5 48000 16 100
mkdir -p broken && cp pngs/frame_000000.png broken/a.png && echo "not a picture" >broken/b.png
mkdir -p mixed && cp pngs/frame_000000.png mixed/a.png && "$KEO" decode p.mov --frame 0 --format rgba -o - >/dev/null
"$KEO" export --pattern 0.08 --size 64x64 -o small.mov && "$KEO" decode small.mov --frame 0 -o mixed/b.png
head -c 1000 all.rgba >partial.rgba
check "refused: 5 channels" failed_export $PAT --audio five.wav
check "refused: bad --size" failed_export --pattern 1 --size 0x10
check "refused: --size that is not a size" failed_export --pattern 1 --size big
check "refused: --fps 0" failed_export $PAT --fps 0
check "refused: --fps -25" failed_export $PAT --fps -25
check "refused: unreadable PNG in the middle" failed_export --input broken
check "refused: a later PNG of another size" failed_export --input mixed
check "refused: no such input" failed_export --input "nothing-*.png"
check "refused: raw input without --size" failed_export --input - </dev/null
partial_stdin() {
    failed_export --input - --size 160x96 <partial.rgba
}
check "refused: stdin ends inside a frame" partial_stdin
check "refused: empty stdin, named as the input rather than the output" sh -c '
    "$0" export --input - --size 8x8 -o out/none.mov </dev/null 2>err.txt; [ $? -eq 1 ] &&
    grep -q "^keo: standard input: ended before its first frame" err.txt' "$KEO"
check "refused: missing WAV" failed_export $PAT --audio none.wav

# A JPEG cut inside its scan data would reach the movie with its lost part
# grey: it is refused by name, and the movie already at the output stays.
mkdir -p cutseq && "$CHECK" make-still jpeg cutseq/a.jpeg 64 40 && cp cutseq/a.jpeg whole.jpeg &&
    head -c "$(($(wc -c <whole.jpeg) * 2 / 3))" whole.jpeg >cutseq/b.jpeg && cp small.mov out/keep.mov
cut_still() {
    status_and_one_line 1 "$KEO" export --input cutseq -o out/keep.mov &&
        grep -q "cutseq/b.jpeg: the JPEG is damaged or cut short (Premature end of JPEG file)" err.txt &&
        cmp -s small.mov out/keep.mov && no_leftovers out || { cat err.txt; false; }
}
check "refused: a JPEG cut short, by name, the old movie kept" cut_still

finish
