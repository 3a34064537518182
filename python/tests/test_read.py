"""Reading: frames, sound and description equal keo's for every layout."""
import fractions
import os
import pathlib
import shutil
import subprocess

import numpy as np
import pytest

import keo
from conftest import keo_audio, keo_error, keo_frames, keo_info, keo_run, pictures, tone

# (content, keo export options, the layout keo info must then report): each
# block layout plain and with LZF, at odd sizes, opaque and with alpha.
LAYOUTS = [
    ("smooth", ["--optimize", "0"], "DXT24", True, (37, 23)),
    ("noise", ["--optimize", "2"], "DXT24", False, (5, 3)),
    ("smooth", ["--optimize", "1"], "DXT1", True, (64, 18)),
    ("noise", ["--optimize", "1"], "DXT1", False, (1, 1)),
    ("smooth", ["--alpha"], "DXT5", True, (19, 41)),
    ("noise", ["--alpha"], "DXT5", False, (33, 7)),
]


@pytest.mark.parametrize("kind,options,layout,lzf,size", LAYOUTS)
def test_frames_sound_and_info_are_keos(make_movie, tmp_path, kind, options, layout, lzf, size):
    # 43210 sample frames are no whole number of the module's or keo's
    # requests, so the last of each is a short one.
    path = make_movie(pictures(5, *size, kind), "--fps", "29.97", *options,
                      audio=tone(43_210, 2), rate=32000)
    info = keo_info(path)
    assert info["layouts"] == [{"layout": layout, "lzf": lzf, "frames": 5}]
    with keo.open(path) as movie:
        assert (movie.width, movie.height, len(movie)) == (*size, 5)
        assert movie.fps == fractions.Fraction(30000, 1001)
        assert movie.alpha == bool(info["alpha"]) == (layout == "DXT5")
        assert movie.info == info
        expected = keo_frames(path)
        assert np.array_equal(np.stack(list(movie)), expected)
        assert np.array_equal(movie[:], expected)
        sound = movie.audio()
        assert sound.dtype == np.float32
        assert np.array_equal(sound, keo_audio(path, tmp_path))
        pcm = movie.audio(pcm=True)
        assert pcm.dtype == np.int16
        assert np.array_equal(pcm, keo_audio(path, tmp_path, pcm=True))
        assert np.array_equal(movie.audio(40_000, 5000), sound[40_000:])
        assert np.array_equal(movie.audio(-10, pcm=True), pcm[-10:])


def test_stored_32_bit_sound_comes_back_whole(tmp_path):
    # keomux keeps every bit of 32-bit sound, which the host's float path
    # would round to 24: audio(pcm=True) must give the integers in the file,
    # as keo audio --pcm does, not floats turned back.
    build = pathlib.Path(os.environ.get("KEO_BIN", "")).resolve().parents[1]
    plugins = build / "lib" / "gstreamer-1.0"
    if not plugins.is_dir() or shutil.which("gst-launch-1.0") is None:
        pytest.skip("GStreamer or keo's GStreamer plug-in is not here")
    path = tmp_path / "s32.mov"
    # A sanitizer build's plug-in needs the runtime python3 was given first.
    env = dict(os.environ, GST_PLUGIN_PATH=str(plugins),
               GST_REGISTRY=str(tmp_path / "registry.bin"))
    subprocess.run(["gst-launch-1.0", "-q", "videotestsrc", "num-buffers=5", "!",
                    "video/x-raw,width=32,height=16,framerate=25/1", "!", "videoconvert", "!",
                    "keoenc", "!", "keomux", "name=m", "!", "filesink", f"location={path}",
                    "audiotestsrc", "num-buffers=2", "samplesperbuffer=4800", "wave=white-noise",
                    "!", "audio/x-raw,format=S32LE,rate=48000,channels=2", "!", "m."],
                   check=True, env=env, capture_output=True, timeout=120)
    with keo.open(path) as movie:
        pcm = movie.audio(pcm=True)
    assert pcm.dtype == np.int32
    assert np.array_equal(pcm, keo_audio(path, tmp_path, pcm=True))
    assert np.any(pcm & 0xFF), "white noise has low bits that a float path would lose"


def test_indices_slices_orders_and_out(make_movie):
    frames = pictures(7, 9, 5, "noise")
    with keo.open(make_movie(frames, "--alpha", "--optimize", "2")) as movie:
        every = movie[:]
        assert np.array_equal(movie[-1], every[6])
        assert np.array_equal(movie[np.int64(-7)], every[0])
        assert np.array_equal(movie[1:6:2], every[1:6:2])
        assert np.array_equal(movie[::-3], every[::-3])
        assert movie[5:2].shape == (0, 5, 9, 4)
        for bad in (7, -8):
            with pytest.raises(IndexError):
                movie[bad]
        with pytest.raises(TypeError):
            movie["1"]
        rgba = every[3]
        assert np.array_equal(movie.read(3, order="argb"), rgba[..., [3, 0, 1, 2]])
        assert np.array_equal(movie.read(3, order="bgra"), rgba[..., [2, 1, 0, 3]])
        out = np.zeros((5, 9, 4), np.uint8)
        assert movie.read(-4, out=out) is out and np.array_equal(out, rgba)
        for bad_out in (np.zeros((5, 9, 3), np.uint8), np.zeros((5, 9, 4), np.float32),
                        np.zeros((9, 5, 4), np.uint8).transpose(1, 0, 2)):
            with pytest.raises(ValueError):
                movie.read(0, out=bad_out)
        with pytest.raises(ValueError):
            movie.read(0, order="rgbx")
    assert movie.closed
    with pytest.raises(ValueError, match="closed"):
        movie[0]
    movie.close()  # a second close does nothing


def test_paths_of_every_kind_reach_the_same_file_as_keo(make_movie, tmp_path):
    path = make_movie(pictures(2, 8, 8), name="plain.mov")
    # A name that is not UTF-8 goes to the plug-in as keo gives it: the
    # module must answer what keo answers, in the same words.
    odd = os.fsencode(tmp_path) + b"/caf\xe9 \xff.mov"
    os.link(path, odd)
    for given in (str(path), os.fsencode(path), pathlib.Path(path), odd, os.fsdecode(odd)):
        if keo_run("info", given, check=False).returncode == 0:
            with keo.open(given) as movie:
                assert movie.name == os.fspath(given)
                assert movie.info == {**keo_info(given), "file": os.fspath(given)}
        else:
            with pytest.raises(keo.Error) as caught:
                keo.open(given)
            assert str(caught.value) == keo_error("info", given)


def test_movie_without_sound(make_movie):
    with keo.open(make_movie(pictures(1, 4, 4))) as movie:
        assert movie.info["audio"] is None
        assert movie.audio().shape == (0, 0)
        assert movie.audio(pcm=True).dtype == np.int16
