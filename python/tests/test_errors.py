"""Refusals: the system's as OSError, keo's as keo.Error in keo's words."""
import concurrent.futures
import errno
import os
import threading

import numpy as np
import pytest

import keo
from conftest import keo_error, keo_frames, pictures


def test_files_the_system_refuses(tmp_path):
    cases = [(tmp_path / "missing.mov", FileNotFoundError, errno.ENOENT),
             (tmp_path, IsADirectoryError, errno.EISDIR)]
    if os.geteuid() != 0:  # root reads whatever the mode says
        locked = tmp_path / "locked.mov"
        locked.write_bytes(b"x")
        locked.chmod(0)
        cases.append((locked, PermissionError, errno.EACCES))
    for path, kind, code in cases:
        with pytest.raises(kind) as caught:
            keo.open(path)
        assert caught.value.errno == code and caught.value.filename == os.fspath(path)


def hostile_movies(tmp_path, good):
    """Files keo refuses, each named after what is wrong with it."""
    whole = good.read_bytes()
    moov = whole.rindex(b"moov") - 4
    return {
        "empty": b"",
        "a_picture": b"\x89PNG\r\n\x1a\n" + bytes(64),
        "cut_before_its_movie_atom": whole[:moov],
        "movie_atom_cut_short": whole[:moov + 40],
        "movie_atom_sizes_garbled": whole[:moov + 8] + b"\xff" * 64 + whole[moov + 72:],
    }


def test_hostile_movies_are_refused_in_keos_words(make_movie, tmp_path):
    good = make_movie(pictures(2, 8, 8))
    for name, content in hostile_movies(tmp_path, good).items():
        path = tmp_path / f"{name}.mov"
        path.write_bytes(content)
        with pytest.raises(keo.Error) as caught:
            keo.open(path)
        assert isinstance(caught.value, ValueError)
        assert str(caught.value) == keo_error("info", path), name


def frame_starts(data):
    """Offsets of the frame payloads of a movie without sound: the writer
    puts them one after another at the start of the media data."""
    pos, starts = data.index(b"mdat") + 4, []
    if data[pos - 8:pos - 4] == b"\0\0\0\1":  # a 64-bit size follows the type
        pos += 8
    while int.from_bytes(data[pos:pos + 4], "little") == 28:
        starts.append(pos)
        pos += 28 + int.from_bytes(data[pos + 16:pos + 20], "little")
    return starts


def test_a_damaged_frame_fails_alone(make_movie, tmp_path):
    path = make_movie(pictures(3, 12, 8), "--optimize", "2")
    data = bytearray(path.read_bytes())
    starts = frame_starts(data)
    assert len(starts) == 3
    data[starts[1]] = 200  # a header size above 28 is refused by the decoder
    path.write_bytes(data)
    with keo.open(path) as movie:
        with pytest.raises(keo.Error) as caught:
            movie[1]
        # keo's words, after the file's name as keo names a file.
        assert str(caught.value) == f"{path}: " + keo_error(
            "decode", path, "--frame", "1", "--format", "rgba", "-o", tmp_path / "f1.raw")
        assert (caught.value.filename, caught.value.frame) == (os.fspath(path), 1)
        good = keo_frames(path, check=False)  # keo leaves the bad frame out
        assert np.array_equal(movie[0], good[0]) and np.array_equal(movie[2], good[1])
        out = np.full((8, 12, 4), 7, np.uint8)
        with pytest.raises(keo.Error):
            movie.read(1, out=out)
        assert (out == 7).all()  # nothing written by the failed read
        with pytest.raises(keo.Error):
            list(movie)


def test_damaged_frames_fail_at_their_own_place_when_read_two_at_a_time(make_movie):
    # Iteration, slices and lists read two frames side by side, and keo
    # decode writes them in order from two readers: a damaged frame must
    # still fail alone, where it is asked for, whether it is the first or
    # the second of a pair (3 and 6 here); a read of many names the first
    # damaged frame of its own list.
    path = make_movie(pictures(8, 12, 8), "--optimize", "2")
    data = bytearray(path.read_bytes())
    starts = frame_starts(data)
    for k in (3, 6):
        data[starts[k]] = 200
    path.write_bytes(data)
    good = keo_frames(path, check=False)
    with keo.open(path) as movie:
        assert np.array_equal(good, np.stack([movie[k] for k in (0, 1, 2, 4, 5, 7)]))
        frames, it = [], iter(movie)
        for k in range(8):
            if k in (3, 6):
                with pytest.raises(keo.Error) as caught:
                    next(it)
                assert caught.value.frame == k
            else:
                frames.append(next(it))
        with pytest.raises(StopIteration):
            next(it)
        assert np.array_equal(np.stack(frames), good)
        for index, first_damaged in ((slice(None), 3), ([7, 6, 5, 3], 6), (slice(4, 8), 6)):
            with pytest.raises(keo.Error) as caught:
                movie[index]
            assert caught.value.frame == first_damaged
        assert np.array_equal(movie[[5, 4, 2]], good[[4, 3, 2]])


def test_a_movie_closed_under_a_reader_is_value_error_in_that_thread(make_movie):
    # The reading thread must see the documented ValueError, not keo's own
    # error about the descriptor it reads through.
    movie = keo.open(make_movie(pictures(4, 64, 64, "noise"), "--optimize", "2"))
    started = threading.Event()

    def read_on():
        while True:
            movie[:]
            started.set()

    with concurrent.futures.ThreadPoolExecutor(1) as pool:
        reading = pool.submit(read_on)
        started.wait(60)
        movie.close()
        with pytest.raises(ValueError, match="closed") as caught:
            reading.result()
    assert type(caught.value) is ValueError  # keo.Error is a ValueError too
