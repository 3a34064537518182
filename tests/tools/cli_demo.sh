# keo demo end to end (small and short), and the help of every command.
. "$(dirname "$0")/lib.sh"

check "demo runs and prints the four layouts" sh -c '
    "$0" demo --seconds 0.2 --width 160 --height 96 --folder demo >demo.txt &&
    for l in "DXT1 " "DXT5 + alpha" "DXT24 " "DXT24 + LZF"; do grep -q "^$l" demo.txt || exit 1; done &&
    [ "$(grep -c "exact (9600 sample frames)" demo.txt)" -eq 4 ] || { cat demo.txt; false; }' "$KEO"
check "demo writes its picture and says where" sh -c '
    p=$(sed -n "s/.*movie: //p" demo.txt) && [ -n "$p" ] && [ -s "$p" ] &&
    "$0" decode demo/demo-dxt24-lzf.mov --frame 2 --format rgba -o f2.rgba && "$1" png "$p" f2.rgba' \
    "$KEO" "$CHECK"
check "demo writes into the current folder by default" sh -c '
    mkdir -p here && cd here && "$0" -q demo --seconds 0.08 --width 64 --height 64 >/dev/null &&
    [ -s demo-dxt1.mov ] && [ -s demo-frame.png ]' "$KEO"
check "demo movies verify" sh -c 'for m in demo/demo-*.mov; do "$0" verify "$m" >/dev/null || exit 1; done' "$KEO"

for cmd in info decode audio verify sheet export demo; do
    check "$cmd --help shows an example" sh -c '"$0" "$1" --help | grep -q "^Example"' "$KEO" "$cmd"
done
check "no command: one line" status_and_one_line 1 "$KEO"
check "unknown option: one line" status_and_one_line 1 "$KEO" info --bogus x.mov

finish
