// The keo Python module's compiled part, keo._keo (the package keo
// re-exports it): its manual, its error type, and its parts.
#include "Bindings.h"
#include "PyErrors.h"

namespace {

const char* const kManual = R"(KEO movies as NumPy arrays.

Reading
-------
    import keo
    with keo.open("clip.mov") as movie:        # str, bytes or os.PathLike
        movie.width, movie.height, len(movie)  # size and frames
        movie.fps                              # fractions.Fraction(30000, 1001)
        movie.duration                         # seconds, a Fraction
        movie.alpha                            # True when the first frame has alpha
        movie.info                             # dict: the fields of `keo info --json`
        frame = movie[0]                       # uint8 array (height, width, 4), RGBA
        last = movie[-1]
        some = movie[10:20:2]                  # uint8 array (5, height, width, 4)
        picked = movie[[3, 9, 27]]             # a list or array of indices: (3, height, width, 4)
        for frame in movie: ...
        movie.read(5, order="bgra", out=buf)   # into buf, a uint8 array of the right shape
        movie.read(range(8), order="gray")     # (8, height, width) luma
        movie.time_of(30)                      # when frame 30 starts: Fraction(1001, 1000)
        movie.index_at(1.5)                    # the frame shown 1.5 s in
        sound = movie.audio()                  # float32 (frames, channels), as the host gets it
        pcm = movie.audio(48000, 4800, pcm=True)   # the stored integers
    keo.open("clip.mov", order="rgb")          # frames in another order by default

Orders: "rgba", "bgra", "argb" (4 bytes a pixel), "rgb", "bgr" (3), "gray"
(1, ITU-R 601 luma (19595 R + 38470 G + 7471 B + 32768) >> 16, arrays
without a channel axis).

Frames are the bytes `keo decode --format rgba` writes and sound the samples
of `keo audio`: every frame, rate and sample comes from the KEO importer
plug-in, loaded and asked as a host asks it. Decoding and reading sound
release the interpreter's lock, so threads read in parallel, one movie or
many; a movie opens its file once more for each thread reading it at once
(up to one per core, at most 8). Any number of movies may be open at once.
Long reads (slices, lists, sound) stop for Ctrl-C between two frames.

Processes: a movie opened before a fork reads in the child as it would in
the parent (the child opens the file anew, checking that it is the same
file), so a fork-based pool may share movies opened beforehand; a fork
while another thread is reading is not provided for. A movie pickles as its
path and order, and opens again where it is unpickled (spawn-based pools).

Writing
-------
    keo.write(path, frames, fps, audio=None, audio_rate=48000,
              audio_bits=None, alpha=False, optimize=0, threads=0)

frames: an iterable (a list, a generator, a 4-D array) of uint8 arrays
(height, width, 3 or 4), RGB or RGBA, all of one size. fps: a number,
fractions.Fraction or text such as "30000/1001"; a float (NumPy's too) is
read as it prints, as keo export reads that text, so 29.97 is 30000/1001.
audio: an array (frames, channels)
of 1, 2 or 6 channels, int16 or int32 (stored at that width; the host's
float path keeps 24 bits of int32) or float32 (stored as 24-bit integers,
beyond full scale clipped), cut or padded with silence to the frames'
length; audio_rate in Hz; audio_bits the stored width (16, 24 or 32) where
the array's own (float32: 24) is not wanted, so that movie.audio(pcm=True)
written back with audio_bits=movie.info["audio"]["bits"] stores the same
samples. alpha keeps transparency (DXT5); optimize picks
the layout of opaque frames (0: DXT24 with LZF, 1: DXT1, 2: DXT24 plain);
threads: encoder threads, 0 for one per core. Ctrl-C stops a write within
about a frame, with any threads, and leaves no file.

The bytes are those `keo export` writes for the same pictures and settings,
and the file is placed as keo places it: a regular file is replaced only
once the new movie is complete, keeping its mode and owner; a symbolic link
is written through; a device is written in place, never replaced.

Errors
------
A file the system refuses raises the OSError that fits, with errno and the
file name (FileNotFoundError, PermissionError, IsADirectoryError, ...). A
file that is not a KEO movie or is damaged, a frame or sound that cannot be
read, raises keo.Error (a ValueError) in keo's own words, naming the file;
its `filename` is the path as given and, for a frame, `frame` its index. A
bad frame fails only its own read. Memory that runs out raises MemoryError.
A closed movie raises ValueError, in every thread.

The plug-in module is $KEO_PLUGIN, else KEOImporter.so in this package
(installed), else lib/KEOImporter.so of the build tree.
)";

} // namespace

PYBIND11_MODULE(_keo, m) {
    m.doc() = kManual;
    m.attr("__version__") = KEO_VERSION;
    keo::python::makeErrorType(m);
    keo::python::bindMovie(m);
    keo::python::bindWrite(m);
}
