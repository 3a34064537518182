"""Movies across processes (fork, pickling) and Ctrl-C in every long call."""
import hashlib
import multiprocessing
import os
import pickle
import signal
import threading

import numpy as np
import pytest

import keo
from conftest import keo_frames, pictures

MOVIE = None  # opened before the fork, as a worker pool's parent does


def digests(indices):
    return [hashlib.sha1(MOVIE[i]).hexdigest() for i in indices]


def test_movie_opened_before_a_fork_reads_right_in_every_child(make_movie):
    # Noise frames of many sizes: a child that read through a file offset
    # shared with its siblings would get another frame's bytes, or a
    # "damaged" frame.
    global MOVIE
    path = make_movie(pictures(40, 64, 48, "noise"), "--optimize", "2")
    expected = [hashlib.sha1(f).hexdigest() for f in keo_frames(path)]
    with keo.open(path) as MOVIE:
        MOVIE[:2]  # sessions in use before the fork
        rng = np.random.default_rng(1)
        jobs = [rng.permutation(40).tolist() * 3 for _ in range(8)]
        with multiprocessing.get_context("fork").Pool(4) as pool:
            assert pool.map(digests, jobs) == [[expected[i] for i in job] for job in jobs]
        assert digests(range(40)) == expected  # the parent reads on as before


def test_a_movie_pickles_as_its_path_and_order(make_movie):
    # As a spawn-based pool sends it: opened anew where it is unpickled.
    path = make_movie(pictures(3, 8, 8, "noise"))
    with keo.open(path, order="bgr") as movie:
        again = pickle.loads(pickle.dumps(movie))
        assert (again.name, again.order, len(again)) == (movie.name, "bgr", 3)
        assert np.array_equal(again[:], movie[:])
        again.close()
    with pytest.raises(ValueError, match="closed"):
        pickle.dumps(movie)


def interrupting_feed(frames, at, pulled):
    """Frames without end that press Ctrl-C once, at frame `at`."""
    for i in range(at + 100):
        pulled.append(i)
        if i == at:
            os.kill(os.getpid(), signal.SIGINT)
        yield frames[i % len(frames)]
    raise AssertionError("the write went on long after Ctrl-C")


@pytest.mark.parametrize("threads", [1, 3])
def test_ctrl_c_stops_a_write_and_leaves_no_file(tmp_path, threads):
    # With more than one thread the frames are pulled on a thread of the
    # export's, where Python runs no signal handler.
    old = tmp_path / "old.mov"
    old.write_bytes(b"old")
    pulled = []
    with pytest.raises(KeyboardInterrupt):
        keo.write(old, interrupting_feed(pictures(2, 64, 32), 5, pulled), 25, threads=threads)
    assert len(pulled) <= 5 + 3, "frames pulled after Ctrl-C"
    assert old.read_bytes() == b"old" and [p.name for p in tmp_path.iterdir()] == ["old.mov"]


class CtrlC:
    """An index whose conversion wakes `thread`, which presses Ctrl-C once the
    read has begun and let go of the interpreter. Joining it waits for the
    press, so that it cannot land after the test has stopped looking for it."""

    def __init__(self, value):
        self.value, self.pressed = value, threading.Event()
        self.thread = threading.Thread(target=self.press, daemon=True)
        self.thread.start()

    def press(self):
        self.pressed.wait()
        os.kill(os.getpid(), signal.SIGINT)

    def __index__(self):
        self.pressed.set()
        return self.value


def test_ctrl_c_stops_long_reads(make_movie):
    # 100,000 small frames take about a second to read; Ctrl-C comes within
    # the first few.
    with keo.open(make_movie(pictures(2, 16, 16, "noise"), "--optimize", "2")) as movie:
        out = np.full((100_000, 16, 16), 7, np.uint8)
        press = CtrlC(0)
        with pytest.raises(KeyboardInterrupt):
            movie.read([press] + [1] * 99_999, order="gray", out=out)
            press.thread.join()
        assert (out[-1] == 7).all(), "the read went on to the end"
        assert len(movie[:]) == 2  # the movie reads on afterwards
    # Ten seconds of sound, read in ten requests to the plug-in.
    sound = make_movie(pictures(250, 8, 8), audio=np.zeros((480_000, 1), np.int16))
    with keo.open(sound) as movie:
        press = CtrlC(480_000)
        with pytest.raises(KeyboardInterrupt):
            movie.audio(0, press)
            press.thread.join()
        assert movie.audio(0, 10).shape == (10, 1)
