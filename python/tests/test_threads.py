"""Threads and many movies: each read gives its own movie's bytes."""
import os
import subprocess
import sys
import threading

import numpy as np
import pytest

import keo
from conftest import keo_frames, pictures


def in_threads(*jobs):
    """Runs each job on its own thread, started together; their results."""
    results, start = [None] * len(jobs), threading.Barrier(len(jobs))

    def run(k):
        start.wait()
        results[k] = jobs[k]()

    threads = [threading.Thread(target=run, args=(k,)) for k in range(len(jobs))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return results


def test_two_threads_on_one_movie_read_what_one_reads(make_movie):
    path = make_movie(pictures(24, 96, 64, "noise"), "--optimize", "0")
    with keo.open(path) as movie:
        alone = movie[:]
        forward = lambda: [movie[i] for i in range(len(movie))] * 3
        backward = lambda: [movie.read(i) for i in reversed(range(len(movie)))] * 3
        ahead, behind = in_threads(forward, backward)
    assert np.array_equal(np.stack(ahead[:24]), alone)
    assert all(np.array_equal(a, b) for a, b in zip(ahead, list(alone) * 3))
    assert all(np.array_equal(a, b) for a, b in zip(behind, list(alone[::-1]) * 3))


def test_threads_sharing_one_iterator_get_every_frame_once(make_movie):
    # Iteration keeps the second frame of each pair it reads, and lets the
    # lock go while it reads: threads that share the iterator must still get
    # every frame once, never one kept for another place in the movie.
    path = make_movie(pictures(24, 96, 64, "noise"), "--optimize", "0")
    with keo.open(path) as movie:
        alone = [frame.tobytes() for frame in movie[:]]
        frames = iter(movie)
        drain = lambda: [frame.tobytes() for frame in frames]
        got = sum(in_threads(drain, drain, drain), [])
    assert len(set(alone)) == 24 and sorted(got) == sorted(alone)


def test_movies_of_one_size_open_at_once_keep_their_own_frames(make_movie):
    # The host keeps frames under the importer's id and the frame number:
    # movies of one size must never be served each other's.
    paths = [make_movie(pictures(6, 32, 16, "noise", seed=s)) for s in range(6)]
    expected = [keo_frames(p) for p in paths]
    movies = [keo.open(p) for p in paths]
    for i in range(6):
        for movie, frames in zip(movies, expected):
            assert np.array_equal(movie[i], frames[i])
    jobs = [lambda m=m: [m[i] for i in range(6) for _ in range(20)] for m in movies]
    for got, frames in zip(in_threads(*jobs), expected):
        assert all(np.array_equal(g, frames[k // 20]) for k, g in enumerate(got))
    for movie in movies:
        movie.close()


def rss_kib():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmRSS"))


@pytest.mark.skipif(os.environ.get("KEO_SANITIZED") == "1",
                    reason="a sanitizer's shadow memory grows with every byte touched")
def test_memory_stays_flat_over_thousands_of_opens(make_movie):
    path = make_movie(pictures(2, 64, 64), "--optimize", "1")

    def cycles(n):
        for _ in range(n):
            with keo.open(path) as movie:
                movie[1]
                movie.audio()

    cycles(300)  # the first opens fill allocators' pools
    before = rss_kib()
    cycles(3000)
    assert rss_kib() - before < 1024, "each open keeps some memory"


def test_imports_from_the_build_folder_alone(make_movie):
    # As on a clean clone after make: the module's folder and nothing else,
    # no $KEO_PLUGIN; it finds the importer module by itself.
    path = make_movie(pictures(2, 8, 8))
    keep = ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS")
    env = {k: v for k, v in os.environ.items() if k in keep}
    script = ("import sys; sys.path.insert(0, sys.argv[1]); import keo; "
              "print(keo.__doc__.splitlines()[0], len(keo.open(sys.argv[2])))")
    package_folder = os.path.dirname(os.path.dirname(keo.__file__))
    done = subprocess.run([sys.executable, "-I", "-c", script, package_folder,
                           path], env=env, capture_output=True, text=True, cwd="/")
    assert done.returncode == 0, done.stderr
    assert done.stdout == "KEO movies as NumPy arrays. 2\n"
