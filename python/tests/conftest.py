"""Shared helpers: movies made by keo export from generated pictures, and
keo's own answers (decode, audio, info) to compare the module with.

Run by CTest with PYTHONPATH at build/python and KEO_BIN naming keo; by hand:
    PYTHONPATH=build/python /usr/bin/python3 -m pytest python/tests
"""
import json
import os
import pathlib
import struct
import subprocess

import numpy as np
import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
KEO = os.environ.get("KEO_BIN", str(ROOT / "build" / "bin" / "keo"))


# A sanitizer build preloads its runtime into python3 (python/CMakeLists.txt);
# keo links its own.
KEO_ENV = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}


def keo_run(*args, stdin=None, check=True):
    """keo -q ARGS; the finished process (stdout as bytes)."""
    done = subprocess.run([KEO, "-q", *map(os.fsdecode, args)], input=stdin,
                          capture_output=True, env=KEO_ENV)
    if check and done.returncode != 0:
        raise AssertionError(f"keo {args} failed: {done.stderr.decode()}")
    return done


def keo_error(*args):
    """keo's one-line complaint, without "keo: ", as keo.Error should word it."""
    done = keo_run(*args, check=False)
    assert done.returncode != 0
    return os.fsdecode(done.stderr.strip().splitlines()[-1])[len("keo: "):]


def pictures(count, width, height, kind="smooth", seed=0):
    """RGBA frames (count, height, width, 4): a moving gradient, whose blocks
    LZF shortens, or noise with random alpha, which nothing shortens."""
    if kind == "noise":
        rng = np.random.default_rng(seed)
        return rng.integers(0, 256, (count, height, width, 4), dtype=np.uint8)
    y, x = np.mgrid[0:height, 0:width]
    return np.stack([np.dstack([(x * 7 + i * 5 + seed) % 256, (y * 11) % 256,
                                (x + y + i) % 256, np.full_like(x, 255)])
                     for i in range(count)]).astype(np.uint8)


def tone(frames, channels, dtype=np.int16, seed=0):
    rng = np.random.default_rng(seed)
    if dtype == np.float32:
        return rng.uniform(-1.2, 1.2, (frames, channels)).astype(np.float32)
    top = np.iinfo(dtype).max
    return rng.integers(-top - 1, top, (frames, channels), dtype=dtype, endpoint=True)


def write_wav(path, samples, rate):
    """A WAV of int16/int32 PCM or float32 samples (frames, channels)."""
    code = 3 if samples.dtype == np.float32 else 1
    width = samples.dtype.itemsize
    channels = samples.shape[1]
    data = samples.astype(samples.dtype.newbyteorder("<")).tobytes()
    fmt = struct.pack("<HHIIHH", code, channels, rate, rate * channels * width,
                      channels * width, width * 8)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
    body += b"data" + struct.pack("<I", len(data)) + data
    pathlib.Path(path).write_bytes(b"RIFF" + struct.pack("<I", len(body)) + body)


def read_wav(path):
    """The samples (frames, channels) of a float, 16 or 32-bit WAV keo audio wrote."""
    raw = pathlib.Path(path).read_bytes()
    pos, fmt, data = 12, None, None
    while pos + 8 <= len(raw):
        tag, size = raw[pos:pos + 4], struct.unpack("<I", raw[pos + 4:pos + 8])[0]
        if tag == b"fmt ":
            fmt = struct.unpack("<HH", raw[pos + 8:pos + 12]) + \
                struct.unpack("<H", raw[pos + 22:pos + 24])
        elif tag == b"data":
            data = raw[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)
    code, channels, bits = fmt
    assert code in (1, 3) and bits in (16, 32), "keo audio wrote a WAV of another kind"
    kind = "<f4" if code == 3 else "<i4" if bits == 32 else "<i2"
    return np.frombuffer(data, kind).reshape(-1, channels)


@pytest.fixture
def make_movie(tmp_path):
    """make_movie(frames, *keo export options, audio=None, rate=48000) -> path
    of the movie keo export makes of the RGBA frames (and the WAV)."""
    made = []

    def make(frames, *options, audio=None, rate=48000, name=None):
        path = tmp_path / (name or f"m{len(made)}.mov")
        extra = []
        if audio is not None:
            write_wav(tmp_path / f"a{len(made)}.wav", audio, rate)
            extra = ["--audio", tmp_path / f"a{len(made)}.wav"]
        keo_run("export", "--input", "-", "--size", f"{frames.shape[2]}x{frames.shape[1]}",
                *options, *extra, "-o", path, stdin=frames.tobytes())
        made.append(path)
        return path

    return make


def keo_frames(path, check=True):
    """Every frame as keo decode --format rgba gives it (without those it
    cannot decode, when check is False)."""
    info = keo_info(path)
    raw = keo_run("decode", path, "--format", "rgba", "-o", "-", check=check).stdout
    return np.frombuffer(raw, np.uint8).reshape(-1, info["height"], info["width"], 4)


def keo_info(path):
    # The file's name is there as its bytes, which need not be UTF-8.
    return json.loads(keo_run("info", "--json", path).stdout.decode("utf-8", "surrogateescape"))


def keo_audio(path, tmp_path, pcm=False):
    out = tmp_path / "keo-audio.wav"
    keo_run("audio", path, "-o", out, *(["--pcm"] if pcm else []))
    return read_wav(out)
