"""keo.write: the bytes keo export writes, and its rules for outputs."""
import errno
import fractions
import os
import stat

import numpy as np
import pytest

import keo
from conftest import keo_frames, pictures, tone

# (pictures, fps as given, keo export's --fps, settings, sound): RGB and RGBA
# input, every layout setting, rates as numbers, fractions and text, and
# each kind of sample the module takes.
ROUND_TRIPS = [
    ("rgb", 25, "25", {}, np.int16),
    ("rgba", 29.97, "29.97", {"alpha": True}, np.int32),
    ("rgb", fractions.Fraction(24000, 1001), "24000/1001", {"optimize": 1}, np.float32),
    ("rgba", "30000/1001", "30000/1001", {"optimize": 2, "threads": 1}, None),
    ("rgba", 12.5, "12.5", {"alpha": True, "optimize": 2, "threads": 3}, np.int16),
]


@pytest.mark.parametrize("layout,fps,keo_fps,settings,sound", ROUND_TRIPS)
def test_write_makes_keo_exports_bytes(make_movie, tmp_path, layout, fps, keo_fps, settings,
                                       sound):
    frames = pictures(4, 21, 13, "noise" if settings.get("alpha") else "smooth", seed=3)
    if layout == "rgb":
        frames[..., 3] = 255
    given = frames[..., :3] if layout == "rgb" else frames
    audio = None if sound is None else tone(7000, 2, sound, seed=5)
    options = ["--fps", keo_fps, *(["--alpha"] if settings.get("alpha") else []),
               "--optimize", str(settings.get("optimize", 0))]
    if "threads" in settings:
        options += ["--threads", str(settings["threads"])]
    if sound is np.float32:
        options += ["--audio-bits", "24"]
    expected = make_movie(frames, *options, audio=audio, rate=44100)
    written = tmp_path / "written.mov"
    keo.write(written, (f for f in given), fps, audio=audio, audio_rate=44100, **settings)
    assert written.read_bytes() == expected.read_bytes()
    with keo.open(written) as movie:
        assert len(movie) == 4 and movie.alpha == settings.get("alpha", False)
        assert np.array_equal(movie[:], keo_frames(expected))


@pytest.mark.parametrize("bits", [16, 24, 32])
def test_stored_samples_written_back_are_stored_as_they_were(tmp_path, bits):
    # A half-scale float peak read back at its stored width: the integers
    # keep their level (24-bit ones come left-aligned in int32), and written
    # back at that width they are stored unchanged.
    peak = np.array([[0.5], [-0.5], [0.25], [0.0]] * 100, np.float32)
    keo.write(tmp_path / "a.mov", pictures(2, 8, 8), 25, audio=peak, audio_bits=bits)
    with keo.open(tmp_path / "a.mov") as movie:
        stored, bits_read = movie.audio(pcm=True), movie.info["audio"]["bits"]
    full = np.iinfo(stored.dtype).max + 1
    assert bits_read == bits and stored[0, 0] == full // 2
    keo.write(tmp_path / "b.mov", pictures(2, 8, 8), 25, audio=stored, audio_bits=bits_read)
    with keo.open(tmp_path / "b.mov") as movie:
        assert np.array_equal(movie.audio(pcm=True), stored)


def test_writing_over_a_movie_being_read(tmp_path):
    path = tmp_path / "m.mov"
    keo.write(path, pictures(3, 8, 8), 25)
    path.chmod(0o640)
    old_size = path.stat().st_size
    with keo.open(path) as movie:
        before = movie[:]
        # The new file replaces the old one whole; the open movie reads on
        # from the old one, and describes it.
        keo.write(path, movie, movie.fps, optimize=1)
        assert np.array_equal(movie[:], before)
        assert movie.info["fileBytes"] == old_size != path.stat().st_size
    assert stat.S_IMODE(path.stat().st_mode) == 0o640
    with keo.open(path) as movie:
        assert len(movie) == 3 and movie.info["layouts"][0]["layout"] == "DXT1"
    keo.write("/dev/null", pictures(1, 4, 4), 25)  # written in place, never replaced
    assert stat.S_ISCHR(os.stat("/dev/null").st_mode)


def failing_feed(frames, at):
    for i, frame in enumerate(frames):
        if i == at:
            raise KeyError("the caller's own failure")
        yield frame


def test_refused_writes_leave_the_old_file(tmp_path):
    path = tmp_path / "old.mov"
    path.write_bytes(b"old")
    good = pictures(3, 8, 8)
    cases = [
        (lambda: keo.write(path, failing_feed(good, 2), 25), KeyError, "own failure"),
        (lambda: keo.write(path, [good[0], good[1, :4]], 25), ValueError, "frame 1: expected"),
        (lambda: keo.write(path, [good[0].astype(float)], 25), ValueError, "frame 0: expected"),
        (lambda: keo.write(path, [good[0], np.zeros(8, np.uint8)], 25), ValueError,
         "frame 1: expected"),
        (lambda: keo.write(path, good, 25, audio=np.zeros((9, 1), np.int16), audio_bits=20),
         ValueError, "audio_bits"),
        (lambda: keo.write(path, [], 25), ValueError, "no frames"),
        (lambda: keo.write(path, good, 0), ValueError, "fps"),
        (lambda: keo.write(path, good, 2000000), ValueError, "fps: .*cannot be stored"),
        (lambda: keo.write(path, good, fractions.Fraction(2**40, 3)), ValueError,
         "fps: .*cannot be stored"),
        (lambda: keo.write(path, good, 25, optimize=3), ValueError, "optimize"),
        (lambda: keo.write(path, good, 25, audio=np.zeros((9, 2), np.int8)), ValueError,
         "int16, int32 or float32"),
        (lambda: keo.write(path, good, 25, audio=np.zeros((9, 3), np.int16)), keo.Error,
         "3 channels cannot be exported"),
        (lambda: keo.write(path, good, 25, audio=np.zeros((9, 1), np.int16), audio_rate=44101),
         keo.Error, "does not divide the host clock"),
    ]
    for call, kind, words in cases:
        with pytest.raises(kind, match=words):
            call()
        assert path.read_bytes() == b"old"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["old.mov"]


def test_outputs_the_system_refuses(tmp_path):
    for path, kind, code in [(tmp_path / "no" / "m.mov", FileNotFoundError, errno.ENOENT),
                             (tmp_path, IsADirectoryError, errno.EISDIR)]:
        with pytest.raises(kind) as caught:
            keo.write(path, pictures(1, 4, 4), 25)
        assert caught.value.errno == code and caught.value.filename == os.fspath(path)
