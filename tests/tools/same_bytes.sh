#!/bin/sh
# The bytes every writer of the project gives for a fixed set of inputs, held
# against the digests recorded when they were last known right: keo export in
# every layout, size, rate and sound width, from the pattern, from stills and
# from raw frames; keo.write of generated NumPy pictures and sound;
# keoenc ! keomux of GStreamer's test sources; and every frame the plug-in
# decodes of the exported movies. Code moved between folders, merged into one
# home or made faster must leave every one of them alone; a change of format
# that is meant has to say so by changing a digest here.
# Called as: same_bytes.sh KEO PYTHON_MODULE_DIR GST_PLUGIN_DIR WORKDIR.
set -u
KEO=$1
PYDIR=$2
export GST_PLUGIN_PATH=$3
WORK=$4
case "$WORK" in
*/work/same_bytes) ;;
*) echo "same_bytes.sh: refusing to use $WORK as a work folder" >&2; exit 1 ;;
esac
rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK" || exit 1
export GST_REGISTRY="$WORK/registry.bin"
failures=0

# Each output and the SHA-256 recorded for it.
RECORDED="
dxt24lzf.mov 3d61d7edde8556cd69342fd2112f23a586e11b101976b246ea0a2336796c920c
dxt24lzf2.mov 3d61d7edde8556cd69342fd2112f23a586e11b101976b246ea0a2336796c920c
dxt1.mov c60116dc7595b198d7cee1916cfd6cdc61404b238cac457c13007a75f0093a93
dxt24.mov 656313f6f6b641f4d49a5d7b7ae91ad4e3903d0e3acca61191ca64f404443296
dxt5.mov 302b1ca8f2df6ab5a9bdd72e7a6b94d35db1a9d9bae4646813900deb9003bd86
odd.mov 53547733826361462c417e14ef4fd0480feaed4a147a3253a1788343c33109a4
rate.mov 583f0d45afdb8d159b52355fcbf4d433fa3f1d4b5495c17d0f3aa0c78a2b22b0
hd.mov 3c8a9980248f0a06d1bda3d7fa3d04c6b39e03c621fa86068a27c6b6a9c80859
stills.mov 0709e0765cafd9c9360859687e936efbb062e4862fc8c057a0a5fdbf95b3f3ae
stills32.mov 83a086475d0ba8d6fc09372acfbc9efd04a495252f649dcbaca5ed2d866935c7
raw.mov 8f8333cc1a10c02264c3db72a30c74774c4402687871b0602b9647c17c853f3f
py_rgba.mov ef20e3fd2eddf9f266305b1de073e2235826ccc912a8729d0ff2a844cf902105
py_alpha.mov ed6ad5013650c1e8a3f1d419ec866b1171806409b3ebd1999a42d59abb6cfd71
py_dxt1.mov e67c27859402fd89394f6562e8a92100e0b4f02d1674574afff94d767e1f2408
mux_dxt24.mov 71a2563959a50a088c15bad203eb64cec66c27dee61910eeedbb3808c96540ee
mux_dxt1.mov 08a5fad8c3bcb2505df2fd2308ade60cb77a62e925b6ce6e2dff66392084a00d
mux_dxt5.mov e0e6cf676cb017b8ef8d7218aad7f6efb9fc06e4d922b1064bfeb3bcefe0a083
dxt24lzf.argb 338b806848510268ddb3d857a56519ede40b019d9f62e40bf2a1b9e092e3c6d1
dxt1.argb 8a5c18c0c57e59ccf6d2434a5861c1d6c51ebb109a115723728ab5810832c3f0
dxt24.argb 338b806848510268ddb3d857a56519ede40b019d9f62e40bf2a1b9e092e3c6d1
dxt5.argb 41a54a0fe39b0c65c049ff9752e3401e5233feaf85b4e9b9e4523fc129b37bae
odd.argb 09716ae7a92000e152d78a827f7ddf64a14b60f5a69372ecacc7ef4cb4f8e6f7
hd.argb 942319b49c42db1a52fab9ec60ec8e4c9cdd18f08cbf02b0bef18af7f1a13d10
The following tests FAILED:
"

# same FILE NAME: the file's SHA-256 must be the one recorded for it.
same() {
    want=$(echo "$RECORDED" | awk -v f="$1" '$1 == f { print $2 }')
    got=$(sha256sum "$1" 2>/dev/null | cut -c1-64)
    if [ -n "$want" ] && [ "$got" = "$want" ]; then
        echo "ok   $2"
    else
        echo "FAIL $2: $1 has digest '$got', recorded '$want'"
        failures=$((failures + 1))
    fi
}

k() { "$KEO" -q "$@" || echo "keo $* failed" >&2; }

# keo export from its own pattern: every layout, threads, odd sizes and rates.
k export --pattern 0.4 --size 160x96 --threads 1 -o dxt24lzf.mov
k export --pattern 0.4 --size 160x96 --threads 2 -o dxt24lzf2.mov
k export --pattern 0.4 --size 160x96 --optimize 1 -o dxt1.mov
k export --pattern 0.4 --size 160x96 --optimize 2 -o dxt24.mov
k export --pattern 0.4 --size 160x96 --alpha -o dxt5.mov
k export --pattern 0.5 --size 101x37 --fps 29.97 --threads 2 -o odd.mov
k export --pattern 0.5 --size 160x96 --fps 12.5 -o rate.mov
k export --pattern 2 --size 1280x720 --threads 2 -o hd.mov
# From stills, raw frames and WAV sound of each width.
k decode dxt5.mov -o pngs/
k audio dxt24lzf.mov --pcm -o tone.wav
k export --input pngs --fps 24000/1001 --audio tone.wav --audio-bits 24 -o stills.mov
k export --input pngs --alpha --audio tone.wav --audio-bits 32 -o stills32.mov
k decode dxt24lzf.mov --format rgba -o frames.rgba
k export --input - --size 160x96 --audio tone.wav --audio-bits 8 -o raw.mov <frames.rgba

same dxt24lzf.mov "export DXT24+LZF, one thread"
same dxt24lzf2.mov "export DXT24+LZF, two threads"
same dxt1.mov "export DXT1"
same dxt24.mov "export DXT24 plain"
same dxt5.mov "export DXT5"
same odd.mov "export 101x37 at 29.97"
same rate.mov "export at 12.5 fps"
same hd.mov "export 1280x720, two threads"
same stills.mov "export of stills with 24-bit sound"
same stills32.mov "export of stills with alpha and 32-bit sound"
same raw.mov "export of raw frames with 8-bit sound"

# What the plug-in decodes of them, every layout and size.
for m in dxt24lzf dxt1 dxt24 dxt5 odd hd; do
    k decode $m.mov --format argb -o $m.argb
    same $m.argb "decode of $m.mov"
done

# keo.write of pictures and sound made here.
if PYTHONPATH="$PYDIR" PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 - <<'EOF'
import numpy as np
import keo

y, x = np.mgrid[0:72, 0:120]
frames = np.stack([np.dstack([(x * 7 + i * 5) % 256, (y * 11) % 256, (x + y + i) % 256,
                              (x * 3 + y + i * 9) % 256]) for i in range(12)]).astype(np.uint8)
t = np.arange(48000 * 12 // 25)
sound = np.stack([(np.sin(t / 17.0) * 20000), (np.cos(t / 29.0) * 12000)], 1).astype(np.int16)
keo.write("py_rgba.mov", frames, fps=25, audio=sound, audio_rate=48000)
keo.write("py_alpha.mov", frames, fps="30000/1001", alpha=True, threads=2)
keo.write("py_dxt1.mov", frames[:, :, :, [2, 1, 0, 3]], fps=24, optimize=1)
EOF
then
    same py_rgba.mov "keo.write RGBA with 16-bit sound"
    same py_alpha.mov "keo.write DXT5 at 30000/1001"
    same py_dxt1.mov "keo.write DXT1 of reordered channels"
else
    echo "FAIL keo.write"
    failures=$((failures + 1))
fi

# keoenc ! keomux from GStreamer's test sources.
rec() {
    out=$1
    shift
    timeout 120 gst-launch-1.0 -q videotestsrc num-buffers=20 pattern=ball ! \
        "video/x-raw,width=160,height=96,framerate=25/1" ! videoconvert ! keoenc "$@" ! \
        keomux name=m ! filesink location="$out" \
        audiotestsrc num-buffers=40 samplesperbuffer=960 wave=sine ! \
        "audio/x-raw,format=S16LE,rate=48000,channels=2" ! m. >/dev/null 2>&1 ||
        echo "gst-launch for $out failed" >&2
}
rec mux_dxt24.mov threads=2
rec mux_dxt1.mov layout=dxt1
rec mux_dxt5.mov layout=dxt5 lzf=false
same mux_dxt24.mov "keoenc ! keomux DXT24+LZF with sound"
same mux_dxt1.mov "keoenc ! keomux DXT1 with sound"
same mux_dxt5.mov "keoenc ! keomux DXT5 plain with sound"

if [ "$failures" -ne 0 ]; then
    echo "$failures file(s) differ"
    exit 1
fi
exit 0
