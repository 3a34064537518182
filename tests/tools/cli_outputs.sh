# keo's outputs: never harm a file it was not asked to write. Regular files
# are replaced whole with their mode and owner, links written through,
# devices written in place or refused, standard output used as "-", inputs
# never overwritten, nothing left behind by a killed or failed export, and
# paths of any length written and read back.
. "$(dirname "$0")/lib.sh"

PAT="--pattern 0.2 --size 64x64"

# A movie export that must fail with one line naming REASON, and leave the
# output folder as it was.
refused() {
    reason=$1
    shift
    status_and_one_line 1 "$KEO" export $PAT "$@" && grep -q "$reason" err.txt &&
        no_leftovers . || { cat err.txt; false; }
}

check "a new movie appears whole, with the usual mode" sh -c '
    umask 022 && "$0" export '"$PAT"' -o new.mov >/dev/null && "$0" verify new.mov >/dev/null &&
    [ "$(stat -c %a new.mov)" = 644 ]' "$KEO"
check "a replaced movie keeps its mode" sh -c '
    chmod 640 new.mov && "$0" export '"$PAT"' -o new.mov >/dev/null &&
    [ "$(stat -c %a new.mov)" = 640 ] && "$0" verify new.mov >/dev/null' "$KEO"
if is_root && id nobody >/dev/null 2>&1; then
    check "a replaced movie keeps its owner" sh -c '
        chown nobody new.mov && "$0" export '"$PAT"' -o new.mov >/dev/null &&
        [ "$(stat -c %U new.mov)" = nobody ]' "$KEO"
else
    skip "a replaced movie keeps its owner" "needs root and a user nobody"
fi
check "a symbolic link is written through and stays a link" sh -c '
    ln -s new.mov link.mov && "$0" export '"$PAT"' --optimize 1 -o link.mov >/dev/null &&
    [ -L link.mov ] && [ "$(readlink link.mov)" = new.mov ] &&
    "$0" info new.mov --json | grep -q "\"layout\":\"DXT1\""' "$KEO"
check "a dangling link gets its target made" sh -c '
    ln -s made.mov dangling.mov && "$0" export '"$PAT"' -o dangling.mov >/dev/null &&
    [ -L dangling.mov ] && "$0" verify made.mov >/dev/null' "$KEO"

check "refused: a folder" refused "Is a directory" -o .
check "refused: a folder that does not exist" refused "No such file or directory" -o nowhere/x.mov
mkfifo fifo
check "refused: a FIFO (the movie needs to seek)" refused "is a FIFO" -o fifo
check "the FIFO is still a FIFO" test -p fifo
"$CHECK" make-socket sock
check "refused: a socket" refused "is a socket" -o sock
check "the socket is still a socket" test -S sock

# Standard output.
check "-o - writes the movie to standard output when it is a file" sh -c '
    "$0" export '"$PAT"' -o - >out.mov 2>/dev/null && "$0" verify out.mov >/dev/null' "$KEO"
pipe_refused() {
    { "$KEO" export $PAT -o - 2>err.txt; echo $? >status.txt; } | cat >piped.bin
    [ "$(cat status.txt)" -eq 1 ] && [ ! -s piped.bin ] && grep -q "standard output: is a pipe" err.txt
}
check "-o - into a pipe is refused before anything is written" pipe_refused
append_refused() {
    echo "log line" >log.txt
    "$KEO" export $PAT -o - >>log.txt 2>err.txt
    [ $? -eq 1 ] && [ "$(cat log.txt)" = "log line" ] && grep -q "appended to" err.txt
}
check "-o - appended to a file is refused and the file kept" append_refused
check "info to a full device: No space left on device, status 1" sh -c '
    "$0" info new.mov >/dev/full 2>err.txt; [ $? -eq 1 ] &&
    grep -qx "keo: standard output: No space left on device" err.txt' "$KEO"
closed_pipe() {
    { "$KEO" decode new.mov --format rgba -o - 2>err.txt; echo $? >status.txt; } | head -c 10 >/dev/null
    [ "$(cat status.txt)" -ne 0 ] && [ ! -s err.txt ]
}
check "a reader that goes away ends keo quietly" closed_pipe

# Devices, made here so that a fault can never touch the system's own.
if is_root; then
    mknod null c 1 3 && mknod full c 1 7
    check "a movie to a null device: written, the device stays" sh -c '
        "$0" export '"$PAT"' -o null >/dev/null && [ -c null ] &&
        [ "$(stat -c %t,%T null)" = 1,3 ]' "$KEO"
    check "a movie to a full device: No space left on device" sh -c '
        "$0" export '"$PAT"' -o full >/dev/null 2>err.txt; [ $? -eq 1 ] &&
        grep -qx "keo: full: No space left on device" err.txt && [ -c full ]' "$KEO"
    check "a frame to a full device: No space left on device" sh -c '
        "$0" decode new.mov --frame 0 -o full 2>err.txt; [ $? -eq 1 ] &&
        grep -q "No space left on device" err.txt && [ -c full ]' "$KEO"
    check "sound to a null device" sh -c '"$0" audio new.mov -o null && [ -c null ]' "$KEO"
    check "a movie through standard output to a null device" sh -c '
        "$0" export '"$PAT"' -o - >null 2>/dev/null && [ -c null ]' "$KEO"
else
    skip "devices" "mknod needs root"
fi

check "a file size limit: File too large, nothing left" sh -c '
    (ulimit -f 40; "$0" export --pattern 1 --size 320x240 -o big.mov >/dev/null 2>err.txt); [ $? -eq 1 ] &&
    grep -qx "keo: big.mov: File too large" err.txt && [ ! -e big.mov ]' "$KEO"
# Raw frames are written from the host's frame in pieces; the first write
# past the limit stops short and the next one fails.
check "raw frames past the file size limit: File too large, nothing left" sh -c '
    (ulimit -f 40; "$0" decode new.mov --format argb -o big.argb >/dev/null 2>err.txt); [ $? -eq 1 ] &&
    grep -qx "keo: big.argb: File too large" err.txt && [ ! -e big.argb ]' "$KEO"
check "nothing left behind by the failures" no_leftovers .

# Inputs are never outputs.
"$KEO" decode new.mov --frame 0 -o still.png
cp still.png still-copy.png
check "refused: the export's own input picture" sh -c '
    "$0" export --input still.png -o still.png 2>err.txt; [ $? -eq 1 ] &&
    grep -q "still.png: is also an input" err.txt && cmp -s still.png still-copy.png' "$KEO"
cp new.mov new-copy.mov
check "refused: decoding a movie onto itself" sh -c '
    "$0" decode new.mov --frame 0 -o new.mov 2>err.txt; [ $? -eq 1 ] && cmp -s new.mov new-copy.mov' "$KEO"
check "refused: a link to the input" sh -c '
    ln -s still.png alias.png && "$0" export --input still.png -o alias.png 2>/dev/null; [ $? -eq 1 ] &&
    cmp -s still.png still-copy.png' "$KEO"
check "refused: a WAV onto the movie it comes from" sh -c '
    "$0" audio new.mov -o new.mov 2>/dev/null; [ $? -eq 1 ] && cmp -s new.mov new-copy.mov' "$KEO"

# Killed exports leave nothing, and the file they would have replaced stays.
killed_export() {
    sig=$1
    "$KEO" export --pattern 120 --size 1280x720 --optimize 0 -o killed.mov >/dev/null 2>&1 &
    pid=$!
    sleep 1
    kill -"$sig" "$pid"
    wait "$pid"
    [ ! -e killed.mov ] && cmp -s keep.mov new-copy.mov && no_leftovers .
}
cp new-copy.mov keep.mov
check "SIGKILL during an export leaves nothing" killed_export KILL
check "SIGTERM during an export leaves nothing" killed_export TERM
replace_killed() {
    "$KEO" export --pattern 120 --size 1280x720 -o keep.mov >/dev/null 2>&1 &
    pid=$!
    sleep 1
    kill -KILL "$pid"
    wait "$pid"
    cmp -s keep.mov new-copy.mov && no_leftovers .
}
check "SIGKILL while replacing a movie leaves the old one whole" replace_killed

# Names and paths of any length, and not only ASCII.
long_name=$(printf 'n%.0s' $(seq 246)).mov
check "a name of 250 bytes" sh -c '"$0" export '"$PAT"' -o "$1" >/dev/null && "$0" verify "$1" >/dev/null' \
    "$KEO" "$long_name"
deep=$(printf 'dossier-%.0s' $(seq 12))
deep_path="$deep/$deep/$deep/Zoë 映画.mov"
mkdir -p "$deep/$deep/$deep"
check "a path over 255 bytes with non-ASCII names is written and read back" sh -c '
    "$0" export '"$PAT"' -o "$1" >/dev/null && "$0" verify "$1" >/dev/null &&
    "$0" info "$1" --json | grep -q "\"frames\":5,"' "$KEO" "$deep_path"
very_deep=.
segment=$(printf 'p%.0s' $(seq 99))
for i in $(seq 38); do very_deep="$very_deep/$segment"; done
mkdir -p "$very_deep"
check "a path of about 3800 bytes is written and read back" sh -c '
    [ ${#1} -gt 3800 ] && "$0" export '"$PAT"' -o "$1/m.mov" >/dev/null &&
    "$0" verify "$1/m.mov" >/dev/null && "$0" decode "$1/m.mov" --frame 4 -o "$1/f.png"' \
    "$KEO" "$very_deep"
rm -rf "./$segment" "$deep"

finish
