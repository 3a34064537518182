# keo's inputs and its surface: stills of every kind and depth, sequences in
# natural order, sound that cannot be kept as it is said so, messages in the
# system's words, --version, help, --quiet, and decode, sheet and verify
# going on past a frame that fails.
. "$(dirname "$0")/lib.sh"

# One movie per still, with the same settings: pictures that read the same
# give the same frames, byte for byte.
same_frames() {
    "$KEO" -q export --input "$1" --optimize 2 -o a.mov && "$KEO" -q export --input "$2" --optimize 2 -o b.mov &&
        "$KEO" decode a.mov --format argb -o a.argb && "$KEO" decode b.mov --format argb -o b.argb &&
        cmp -s a.argb b.argb
}
for kind in png8 png16 tiff8 tiff16 jpeg; do "$CHECK" make-still "$kind" "$kind.${kind%%[0-9]*}" 64 40; done
check "a 16-bit PNG gives the frame of its 8-bit version" same_frames png8.png png16.png
tiff_frames() {
    same_frames png8.png tiff8.tiff && same_frames png8.png tiff16.tiff
}
check "8 and 16-bit TIFF give the frame of the PNG" tiff_frames
check "a JPEG exports" sh -c '"$0" -q export --input jpeg.jpeg -o j.mov && "$0" info j.mov --json | grep -q "\"frames\":1,"' "$KEO"

# Natural order: f2 before f10, whatever the bytes say.
"$KEO" -q export --pattern 0.48 --size 160x96 -o p.mov
"$KEO" decode p.mov -o numbered/
mkdir -p seq
i=0
for f in numbered/frame_*.png; do cp "$f" "seq/f$i.png"; i=$((i + 1)); done
check "a sequence is taken in natural order (f2 before f10)" sh -c '
    "$0" -q export --input seq -o seq.mov && "$0" decode seq.mov --format rgba -o seq.rgba &&
    "$1" numbers seq.rgba 160 96 0 12' "$KEO" "$CHECK"
cp png8.png seq/f12.png
check "a still of another size is named" sh -c '
    "$0" export --input seq -o bad.mov 2>err.txt; [ $? -eq 1 ] &&
    grep -q "seq/f12.png: is 64x40, but the pictures before it are 160x96" err.txt' "$KEO"

# Messages in the system's words, status 2 for what is not a movie.
: >empty.mov
echo "garbage" >garbage.mov
"$CHECK" fixtures .
says() {
    want_status=$1 text=$2
    shift 2
    status_and_one_line "$want_status" "$KEO" "$@" && grep -q "$text" err.txt || { cat err.txt; false; }
}
check "an empty file says so" says 2 "empty.mov: is empty (0 bytes)" info empty.mov
check "garbage is not a KEO movie" says 2 "garbage.mov: not a KEO movie: the file is not a QuickTime movie" info garbage.mov
check "another codec is named as such" says 2 "video is in another format" info other-codec.mov
check "a missing file: No such file or directory" says 2 "nothing.mov: No such file or directory" info nothing.mov
check "a folder: Is a directory" says 2 "Is a directory" info seq
# nobody must reach keo and this folder (a checkout under a private folder,
# such as one from mktemp -d, keeps them out) for the refusal to be the file's.
if is_root && command -v setpriv >/dev/null && id nobody >/dev/null 2>&1 &&
    setpriv --reuid=nobody --regid=nogroup --clear-groups sh -c 'test -x "$0" && test -r "$1"' \
        "$KEO" "$PWD/p.mov" 2>/dev/null; then
    cp p.mov locked.mov && chmod 600 locked.mov
    check "an unreadable file: Permission denied" sh -c '
        setpriv --reuid=nobody --regid=nogroup --clear-groups "$0" info "$PWD/locked.mov" 2>err.txt; [ $? -eq 2 ] &&
        grep -q "locked.mov: Permission denied" err.txt' "$KEO"
else
    skip "an unreadable file" "needs root, setpriv and a user nobody who can reach keo and this folder"
fi

# A name that is not UTF-8 (Latin-1 "caf\351.mov") beside the UTF-8 name
# that looks like it: keo describes the file it was given, and without it
# says that file is missing, never the other.
latin1=$(printf 'caf\351.mov')
"$KEO" -q export --pattern 0.2 --size 64x48 -o "$latin1" && "$KEO" -q export --pattern 0.2 --size 32x32 -o café.mov
check "a Latin-1 name opens that file, not its UTF-8 look-alike" sh -c '
    "$0" info "$1" --json | grep -q "^{\"width\":64,\"height\":48," &&
    "$0" info café.mov --json | grep -q "^{\"width\":32,\"height\":32," &&
    "$0" verify "$1" >/dev/null && "$0" decode "$1" --frame 0 -o latin1.png' "$KEO" "$latin1"
mv "$latin1" elsewhere.mov
check "a missing Latin-1 name is missing, whatever its look-alike" says 2 "No such file or directory" info "$latin1"
mv elsewhere.mov "$latin1" && rm café.mov
check "a Latin-1 name alone opens" sh -c '"$0" info "$1" --json | grep -q "\"frames\":5,"' "$KEO" "$latin1"

# Frames that fail: reported, the rest done, status 3; --stop-on-error stops.
check "decode --stop-on-error stops at the bad frame" sh -c '
    "$0" decode bad-frame.mov -o stop/ --stop-on-error 2>err.txt; [ $? -eq 3 ] &&
    [ -s stop/frame_000000.png ] && [ ! -e stop/frame_000001.png ]' "$KEO"
check "sheet goes on past the bad frame and marks it" sh -c '
    "$0" sheet bad-frame.mov -o sheet.png --width 16 2>err.txt; [ $? -eq 3 ] && [ -s sheet.png ] &&
    grep -q "frame 1: its data is damaged" err.txt' "$KEO"
check "verify --stop-on-error stops at the first failure" sh -c '
    "$0" verify bad-frame.mov --stop-on-error >v.txt; [ $? -eq 3 ] && grep -q "^frame 1:" v.txt' "$KEO"

# The usual surface.
check "--version names the version" sh -c '"$0" --version | grep -Eq "^keo [0-9]+\.[0-9]+"' "$KEO"
check "keo help info shows the command's help" sh -c '"$0" help info | grep -q "^Example"' "$KEO"
check "keo help of no such command: one line" status_and_one_line 1 "$KEO" help nosuch
check "keo --help documents the exit statuses" sh -c '"$0" --help | grep -q "^Exit status: 0"' "$KEO"
check "--quiet: no summary line" sh -c '[ -z "$("$0" --quiet export --pattern 0.08 --size 64x64 -o q.mov 2>&1)" ]' "$KEO"
check "no progress bar when stderr is not a terminal" sh -c '
    "$0" decode p.mov -o quiet/ 2>err.txt && [ ! -s err.txt ]' "$KEO"

# What the README promises: keo's own options after the command too, help
# as the list of commands, an unknown command named, --frames as a slice.
check "-q after the command" sh -c '[ -z "$("$0" export --pattern 0.08 --size 64x64 -o q2.mov -q 2>&1)" ]' "$KEO"
check "--version after the command" sh -c '"$0" info --version | grep -Eq "^keo [0-9]+\.[0-9]+"' "$KEO"
check "--plugin after the command" says 1 "/nonexistent.so: cannot find the plug-in module" info p.mov --plugin /nonexistent.so
check "keo help lists the commands" sh -c '"$0" help >h.txt && grep -q "^Subcommands:" h.txt && grep -q "^  verify " h.txt' "$KEO"
check "keo help help explains help" sh -c '"$0" help help | grep -q "help \[OPTIONS\] \[COMMAND\]"' "$KEO"
check "an unknown command is named, usage status" says 1 "'bogus' is not a command; the commands are info, decode," bogus p.mov
check "no command at all: the commands are listed" says 1 "a command is needed: info, decode," -q
# p.mov has 12 frames; the pattern shows each frame's number.
slice() {
    "$KEO" decode p.mov --format rgba "$1" -o s.rgba && "$CHECK" numbers s.rgba 160 96 "$2" "$3"
}
check "--frames 10:100 stops at the last frame" slice --frames=10:100 10 2
check "--frames=-2: is the last two frames" slice --frames=-2: 10 2
check "--frames -5:-3 counts from the end" slice --frames=-5:-3 7 2
check "--frames -100:2 starts at the first frame" slice --frames=-100:2 0 2
check "--frames past the end says why it is empty" says 1 "'12:' starts past the last frame; the movie has 12 frames" decode p.mov --frames 12: -o none.rgba
check "--frames backwards says why it is empty" says 1 "its end, frame 9, is not after its start, frame 11" decode p.mov --frames=-1:-3 -o none.rgba
check "--frames that is not a slice is named" says 1 "'+1' in '+1:3' is not a frame number" decode p.mov --frames +1:3 -o none.rgba

finish
