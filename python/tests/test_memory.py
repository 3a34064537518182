"""Memory that runs out is said as such: MemoryError in Python, "out of
memory" with status 1 from keo, never a damaged frame. Each case runs in a
process of its own under an address-space limit."""
import os
import resource
import subprocess
import sys

import pytest

from conftest import KEO, KEO_ENV, pictures

pytestmark = pytest.mark.skipif(os.environ.get("KEO_SANITIZED") == "1",
                                reason="a sanitizer's shadow memory needs the address space")

# Reads frames under a limit 64 MiB above what the process holds once it
# has read one: "keep" keeps 1080p frames until memory runs out; "fill"
# takes the memory up but for 2 MiB, then reads a frame into an array it
# already has, so that the plug-in is what runs out. The traceback's last
# line says what was raised.
READER = r"""
import resource, sys
import numpy as np
import keo

movie = keo.open(sys.argv[1])
out = np.empty((movie.height, movie.width, 4), np.uint8)
movie.read(0, out=out)
with open("/proc/self/status") as status:
    held = next(int(l.split()[1]) for l in status if l.startswith("VmSize")) << 10
resource.setrlimit(resource.RLIMIT_AS, (held + (64 << 20), resource.RLIM_INFINITY))
if sys.argv[2] == "keep":
    kept = []
    while True:
        kept.append(movie[len(kept) % len(movie)])
hog = []
try:
    while True:
        hog.append(bytearray(1 << 20))
except MemoryError:
    del hog[-2:]
movie.read(1, out=out)
"""


@pytest.mark.parametrize("how", ["keep", "fill"])
def test_python_raises_memory_error(make_movie, how):
    path = make_movie(pictures(2, 1920, 1080), "--optimize", "1")
    done = subprocess.run([sys.executable, "-c", READER, path, how], capture_output=True,
                          text=True, timeout=120)
    said = done.stderr.strip().rsplit("\n", 1)[-1]
    assert done.returncode == 1 and said.startswith("MemoryError"), done.stderr
    if how == "fill":
        assert said == f"MemoryError: {path}: frame 1: out of memory"


def keo_under(limit, *args):
    cap = lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, resource.RLIM_INFINITY))
    return subprocess.run([KEO, "-q", *map(os.fspath, args)], env=KEO_ENV, preexec_fn=cap,
                          capture_output=True, text=True, timeout=60)


def test_keo_says_out_of_memory(make_movie, tmp_path):
    # The least address space in which keo opens the movie (to 4 MiB), then
    # 4 MiB more: too little for a 16 MiB frame.
    path = make_movie(pictures(1, 2048, 2048), "--optimize", "1")
    low, high = 16 << 20, 4 << 30
    assert keo_under(high, "info", path).returncode == 0
    while high - low > 4 << 20:
        middle = (low + high) // 2
        low, high = (low, middle) if keo_under(middle, "info", path).returncode == 0 \
            else (middle, high)
    done = keo_under(high + (4 << 20), "decode", path, "--format", "rgba", "-o",
                     tmp_path / "f.raw")
    assert (done.returncode, done.stderr.strip()) == (1, "keo: frame 0: out of memory")
