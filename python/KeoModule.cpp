// The keo Python module: its manual, its error type, and its parts.
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
        movie.alpha                            # True when the first frame has alpha
        movie.info                             # dict: the fields of `keo info --json`
        frame = movie[0]                       # uint8 array (height, width, 4), RGBA
        last = movie[-1]
        some = movie[10:20:2]                  # uint8 array (5, height, width, 4)
        for frame in movie: ...
        movie.read(5, order="bgra", out=buf)   # "rgba", "bgra" or "argb"; into buf
        sound = movie.audio()                  # float32 (frames, channels), as the host gets it
        pcm = movie.audio(48000, 4800, pcm=True)   # the stored integers

Frames are the bytes `keo decode --format rgba` writes and sound the samples
of `keo audio`: every frame, rate and sample comes from the KEO importer
plug-in, loaded and asked as a host asks it. Decoding and reading sound
release the interpreter's lock, so threads read in parallel, one movie or
many; a movie opens its file once more for each thread reading it at once
(up to one per core, at most 8). Any number of movies may be open at once.

Writing
-------
    keo.write(path, frames, fps, audio=None, audio_rate=48000,
              audio_bits=None, alpha=False, optimize=0, threads=0)

frames: an iterable (a list, a generator, a 4-D array) of uint8 arrays
(height, width, 3 or 4), RGB or RGBA, all of one size. fps: a number,
fractions.Fraction or text such as "30000/1001"; a float is read as keo
export reads it, so 29.97 is 30000/1001. audio: an array (frames, channels)
of 1, 2 or 6 channels, int16 or int32 (stored at that width; the host's
float path keeps 24 bits of int32) or float32 (stored as 24-bit integers,
beyond full scale clipped), cut or padded with silence to the frames'
length; audio_rate in Hz; audio_bits the stored width (16, 24 or 32) where
the array's own (float32: 24) is not wanted, so that movie.audio(pcm=True)
written back with audio_bits=movie.info["audio"]["bits"] stores the same
samples. alpha keeps transparency (DXT5); optimize picks
the layout of opaque frames (0: DXT24 with LZF, 1: DXT1, 2: DXT24 plain);
threads: encoder threads, 0 for one per core.

The bytes are those `keo export` writes for the same pictures and settings,
and the file is placed as keo places it: a regular file is replaced only
once the new movie is complete, keeping its mode and owner; a symbolic link
is written through; a device is written in place, never replaced.

Errors
------
A file the system refuses raises the OSError that fits, with errno and the
file name (FileNotFoundError, PermissionError, IsADirectoryError, ...). A
file that is not a KEO movie or is damaged, a frame or sound that cannot be
read, raises keo.Error (a ValueError) in keo's own words; a bad frame fails
only its own read. A closed movie raises ValueError.

The plug-in module is $KEO_PLUGIN, else keo.libs/KEOImporter.so beside this
module (installed), else ../lib/KEOImporter.so (the build tree).
)";

} // namespace

PYBIND11_MODULE(keo, m) {
    m.doc() = kManual;
    m.attr("__version__") = KEO_VERSION;
    keo::python::makeErrorType(m);
    keo::python::bindMovie(m);
    keo::python::bindWrite(m);
}
