"""Frames as NumPy users ask for them: lists and arrays of indices, reads
into their own arrays, every byte order, and times."""
import fractions
import operator

import numpy as np
import pytest

import keo
from conftest import keo_frames, pictures

F = fractions.Fraction


def luma(rgba):
    """ITU-R 601 luma as common image libraries round it."""
    r, g, b = (rgba[..., c].astype(np.uint32) for c in range(3))
    return ((19595 * r + 38470 * g + 7471 * b + 32768) >> 16).astype(np.uint8)


# Each order from the RGBA frame keo decodes; gray has no channel axis.
ORDERS = {
    "rgba": lambda f: f,
    "bgra": lambda f: f[..., [2, 1, 0, 3]],
    "argb": lambda f: f[..., [3, 0, 1, 2]],
    "rgb": lambda f: f[..., :3],
    "bgr": lambda f: f[..., [2, 1, 0]],
    "gray": luma,
}


@pytest.mark.parametrize("order", ORDERS)
def test_every_order_is_keos_frame_rearranged(make_movie, order):
    # Noise with alpha reaches every value of every channel.
    path = make_movie(pictures(4, 11, 6, "noise", seed=2), "--alpha", "--optimize", "2")
    expected = ORDERS[order](keo_frames(path))
    with keo.open(path, order=order) as movie:
        assert movie.order == order
        assert np.array_equal(movie[:], expected)
        assert np.array_equal(movie.read(2), expected[2])
        frames = iter(movie)  # which says how many frames are left
        assert np.array_equal(next(frames), expected[0]) and operator.length_hint(frames) == 3
        assert np.array_equal(np.stack(list(frames)), expected[1:])
        assert operator.length_hint(frames) == 0
    with keo.open(path) as movie:  # rgba by default, the order given per read
        assert np.array_equal(movie.read([3, 0], order=order), expected[[3, 0]])


def test_batches_of_indices_and_into_the_callers_array(make_movie):
    path = make_movie(pictures(6, 8, 4, "noise"), "--optimize", "1")
    every = keo_frames(path)
    with keo.open(path) as movie:
        # Lists repeat and reorder, arrays keep their shape, masks pick, as
        # NumPy's fancy indexing does.
        for key in ([3, -1, 3, 0], np.array([[0, 1], [5, 4]]), range(1, 6, 2), [],
                    np.array([True, False, False, True, False, True])):
            assert np.array_equal(movie[key], every[key])
        for bad, kind in [([1, 6], IndexError), ([0.5], TypeError), ((1, 2), TypeError),
                          (np.ones(5, bool), IndexError)]:
            with pytest.raises(kind):
                movie[bad]
        batch = np.zeros((3, 4, 8, 3), np.uint8)
        assert movie.read([4, 0, 2], order="rgb", out=batch) is batch
        assert np.array_equal(batch, every[[4, 0, 2], ..., :3])
        gray = np.zeros((2, 4, 8), np.uint8)
        assert np.array_equal(movie.read(slice(0, 2), order="gray", out=gray), luma(every[:2]))
        # A batch whose shape differs from what is asked is refused before
        # anything is read; one bad index leaves the array as it was.
        for shape in [(2, 4, 8, 3), (3, 4, 8, 4), (3, 8, 4, 3)]:
            with pytest.raises(ValueError, match="out must be a uint8 array of shape"):
                movie.read([4, 0, 2], order="rgb", out=np.zeros(shape, np.uint8))
        keep = np.full((2, 4, 8, 4), 7, np.uint8)
        with pytest.raises(IndexError):
            movie.read([0, 9], out=keep)
        assert (keep == 7).all()


# (keo export's --fps, the duration of 31 frames, a time and the frame shown
# then): rates whose frames last whole host ticks, and 13 fps, whose frames
# do not, where rounding to ticks could put a frame off by one (every frame's
# start and end is tried below). A float is the time it prints as: 0.12 s is
# frame 3 at 25 fps, not 2; a nanosecond before a frame is the one before.
TIMES = [
    ("25", F(31, 25), 0.12, 3),
    ("29.97", F(31 * 1001, 30000), F(1001, 1000) - F(1, 10**9), 29),
    ("13", F(31, 13), np.float32(0.5), 6),
]


@pytest.mark.parametrize("fps,duration,seconds,frame", TIMES)
def test_times_are_the_importers(make_movie, fps, duration, seconds, frame):
    with keo.open(make_movie(pictures(31, 4, 4), "--fps", fps)) as movie:
        assert movie.duration == duration
        assert movie.index_at(seconds) == frame
        for i in range(len(movie)):
            start = movie.time_of(i)
            assert start == i / movie.fps and isinstance(start, F)
            assert movie.index_at(start) == i
            assert movie.index_at(start + 1 / movie.fps - F(1, 10**6)) == i
        for outside in (-0.001, movie.duration, 10**30):
            with pytest.raises(ValueError, match="outside the movie"):
                movie.index_at(outside)
        with pytest.raises(IndexError):
            movie.time_of(len(movie))


# A float32 of 29.97 is not 29.97 in binary, but prints so. (NumPy's float64
# is a Python float, written by test_write's round trips.)
@pytest.mark.parametrize("fps,stored", [(np.float32(29.97), F(30000, 1001)),
                                        (np.float32(23.976), F(24000, 1001)), (np.int64(25), 25)])
def test_numpy_numbers_as_fps_are_the_numbers_they_print_as(tmp_path, fps, stored):
    keo.write(tmp_path / "m.mov", pictures(2, 4, 4), fps)
    with keo.open(tmp_path / "m.mov") as movie:
        assert movie.fps == stored
