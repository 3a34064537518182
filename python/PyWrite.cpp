// keo.write: a KEO movie from NumPy frames and sound, through keo export's
// own driver (MovieExport), so the bytes are those keo export writes for the
// same pictures and settings, and the output is placed by the same rules.
#include "Bindings.h"

#include "PyErrors.h"
#include "base/FrameRate.h"
#include "base/PixelOrder.h"
#include "codec/EncoderThreads.h"
#include "libkeo/Failure.h"
#include "libkeo/MovieExport.h"

#include <pybind11/numpy.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <exception>
#include <mutex>

namespace keo::python {
namespace {

using keo::FrameRate;

// The encoder's worker threads are the process's, and serve one frame
// encode at a time.
std::mutex g_exportLock;

FrameRate givenRate(py::handle fps) {
    std::string why;
    FrameRate rate;
    if (py::isinstance<py::str>(fps)) {
        if (!keo::parseFrameRate(fps.cast<std::string>(), &rate, &why))
            throw py::value_error("fps: " + why);
        return rate;
    }
    py::module_ numbers = py::module_::import("numbers");
    py::object exact = py::reinterpret_borrow<py::object>(fps);
    if (!py::isinstance(fps, numbers.attr("Rational"))) {
        const double value = py::float_(py::reinterpret_borrow<py::object>(fps));
        if (!(value > 0) || !std::isfinite(value))
            throw py::value_error("fps must be above 0");
        // A number is read as the text it prints as, as keo export reads
        // that text: 29.97 stands for 30000/1001, and so does a NumPy
        // float32 of 29.97, which prints so though its binary value is
        // not 29.97's. One with more digits than keo takes is its nearest
        // fraction.
        const std::string text = py::str(fps);
        if (keo::parseFrameRate(text, &rate, &why))
            return rate;
        exact = py::module_::import("fractions")
                    .attr("Fraction")(py::str(py::float_(value)))
                    .attr("limit_denominator")(1001000);
    }
    try {
        rate.num = exact.attr("numerator").cast<int64_t>();
        rate.den = exact.attr("denominator").cast<int64_t>();
    } catch (const py::cast_error&) {
        throw py::value_error("fps: the numerator and denominator must fit in 64 bits");
    }
    if (rate.num <= 0 || rate.den <= 0)
        throw py::value_error("fps must be above 0");
    return keo::reduced(rate);
}

// The rate as given, exactly, when a movie can hold it.
FrameRate rateOf(py::handle fps) {
    const FrameRate rate = givenRate(fps);
    std::string why;
    if (!keo::rateFitsMovie(rate, &why))
        throw py::value_error("fps: " + why);
    return rate;
}

// The caller's frame as an array, checked: uint8 of (height, width, 3 or
// 4); any size when width is 0 (the first frame gives it).
py::array checkedFrame(py::handle frame, int64_t index, int width, int height) {
    py::array a = py::module_::import("numpy").attr("asarray")(frame);
    // The shape is asked only of an array that has three dimensions.
    if (a.dtype().kind() == 'u' && a.itemsize() == 1 && a.ndim() == 3 &&
        (width == 0 || (a.shape(0) == height && a.shape(1) == width)) &&
        (a.shape(2) == 3 || a.shape(2) == 4))
        return a;
    std::string shape;
    for (py::ssize_t d = 0; d < a.ndim(); ++d)
        shape += (d ? ", " : "") + std::to_string(a.shape(d));
    const std::string size =
        width == 0 ? "height, width" : std::to_string(height) + ", " + std::to_string(width);
    throw py::value_error("frame " + std::to_string(index) + ": expected a uint8 array (" + size +
                          ", 3 or 4), got " + py::str(a.dtype()).cast<std::string>() + " (" +
                          shape + ")");
}

// One frame of the caller's, as the RGBA the export takes (opaque alpha for
// RGB). Python's lock must be held.
void copyFrame(py::handle frame, int64_t index, int width, int height, uint8_t* rgba) {
    py::array a = checkedFrame(frame, index, width, height);
    auto packed = py::array_t<uint8_t, py::array::c_style | py::array::forcecast>::ensure(a);
    const uint8_t* src = packed.data();
    const size_t pixels = static_cast<size_t>(width) * height;
    if (a.shape(2) == 4) {
        std::memcpy(rgba, src, pixels * 4);
        return;
    }
    keo::convertPixels({keo::PixelLayout::RGB, keo::PixelLayout::RGBA}, src,
                       static_cast<size_t>(width) * 3, rgba, static_cast<size_t>(width) * 4, width,
                       height);
}

// The caller's sound, read without Python's lock: the array is kept
// contiguous and alive by write() for the whole export.
struct Sound {
    const void* data = nullptr;
    char kind = 0; // 'i' or 'f'
    int itemSize = 0;
    int64_t frames = 0;
    int channels = 0;
};

// Samples as the export's WAV reader hands them over: integers scaled by
// 1 / 2^(bits-1) (after rounding to a float, as for 32 bits), floats as
// they are. Past the end of the sound, silence.
bool feedSound(const Sound& sound, int64_t first, uint32_t count, uint32_t channels,
               float** planar) {
    const uint32_t used = std::min<uint32_t>(channels, static_cast<uint32_t>(sound.channels));
    for (uint32_t c = 0; c < channels; ++c)
        std::fill(planar[c], planar[c] + count, 0.0f);
    for (uint32_t i = 0; i < count && first + i < sound.frames; ++i) {
        const size_t base = static_cast<size_t>(first + i) * sound.channels;
        for (uint32_t c = 0; c < used; ++c) {
            float v;
            if (sound.kind == 'f')
                v = static_cast<const float*>(sound.data)[base + c];
            else if (sound.itemSize == 2)
                v = static_cast<const int16_t*>(sound.data)[base + c] * (1.0f / 32768.0f);
            else
                v = static_cast<float>(static_cast<const int32_t*>(sound.data)[base + c]) *
                    (1.0f / 2147483648.0f);
            planar[c][i] = v;
        }
    }
    return true;
}

keo::lib::ExportSettings settingsOf(const std::string& target, py::handle fps, bool alpha,
                                    int optimize, int threads) {
    keo::lib::ExportSettings s;
    // "-" is a file here; keo export's "-" (standard output) is a shell's.
    s.output = target == "-" ? "./-" : target;
    s.rate = rateOf(fps);
    s.alpha = alpha;
    if (optimize < 0 || optimize > 2)
        throw py::value_error("optimize must be 0 (DXT24 with LZF), 1 (DXT1) or 2 (DXT24)");
    s.optimize = optimize;
    if (threads < 0 || threads > 32)
        throw py::value_error("threads must be between 0 (one per core) and 32");
    s.threads = threads > 0 ? threads : KEODefaultEncodeThreads();
    s.keepFreedMemory = false;
    return s;
}

// The caller's sound, checked and kept contiguous in `kept` for the export;
// its format goes into the settings.
Sound soundOf(py::handle audio, int audioRate, py::handle audioBits, keo::lib::ExportSettings& s,
              py::array& kept) {
    py::module_ np = py::module_::import("numpy");
    kept = np.attr("asarray")(audio);
    // Samples in the machine's order, one after another.
    kept = np.attr("ascontiguousarray")(kept, kept.dtype().attr("newbyteorder")("="));
    if (kept.ndim() == 1)
        kept = kept.attr("reshape")(-1, 1);
    const char kind = kept.dtype().kind();
    const bool known = (kind == 'i' && (kept.itemsize() == 2 || kept.itemsize() == 4)) ||
                       (kind == 'f' && kept.itemsize() == 4);
    if (!known || kept.ndim() != 2)
        throw py::value_error("audio must be an int16, int32 or float32 array (frames, "
                              "channels), not " +
                              py::str(kept.dtype()).cast<std::string>() + " of " +
                              std::to_string(kept.ndim()) + " dimensions");
    Sound sound{kept.data(), kind, static_cast<int>(kept.itemsize()), kept.shape(0),
                static_cast<int>(kept.shape(1))};
    s.hasAudio = true;
    s.channels = sound.channels;
    s.sampleRate = audioRate;
    // As keo export stores a float WAV: 24-bit integers.
    s.bits = kind == 'f' ? 24 : static_cast<int>(kept.itemsize()) * 8;
    if (!audioBits.is_none()) {
        s.bits = py::isinstance<py::int_>(audioBits) ? audioBits.cast<int>() : 0;
        if (s.bits != 16 && s.bits != 24 && s.bits != 32)
            throw py::value_error("audio_bits must be 16, 24, 32 or None");
    }
    return sound;
}

// Ctrl-C during an export. Python runs its signal handlers on the main
// thread only, so signals are looked for on the thread that called write:
// in the frame feed when it runs there (one encoder thread), after each
// frame written, and in the sound feed. Once one is seen, the feed pulls no
// more frames, whichever thread it runs on, and the export fails, leaving no
// file; the KeyboardInterrupt it raised is what write raises.
struct Interruption {
    std::atomic<bool> seen{false};
    std::exception_ptr error;

    // With Python's lock held. True when a handler raised.
    bool check() {
        if (seen)
            return true;
        if (PyErr_CheckSignals() == 0)
            return false;
        error = std::make_exception_ptr(py::error_already_set());
        seen = true;
        return true;
    }
    // Ends the export from whichever thread; write raises `error` then.
    [[noreturn]] static void stopExport() { throw keo::lib::Failure("frames", "interrupted"); }
};

// The caller's frames, from any iterable; the first one, taken to learn the
// size, is handed over again as frame 0.
struct PictureFeed {
    py::object pictures;
    py::object first;
    int width = 0;
    int height = 0;

    explicit PictureFeed(py::handle frames) {
        pictures = py::reinterpret_steal<py::object>(PyObject_GetIter(frames.ptr()));
        if (!pictures)
            throw py::error_already_set();
        first = next();
        if (!first)
            throw py::value_error("no frames to write");
        py::array a = checkedFrame(first, 0, 0, 0);
        width = static_cast<int>(a.shape(1));
        height = static_cast<int>(a.shape(0));
        if (width < 1 || height < 1 || width > 32767 || height > 32767)
            throw py::value_error("frames must be between 1x1 and 32767x32767 pixels");
    }
    py::object next() {
        PyObject* item = PyIter_Next(pictures.ptr());
        if (!item && PyErr_Occurred())
            throw py::error_already_set();
        return py::reinterpret_steal<py::object>(item);
    }
    // Python's lock must be held.
    bool fill(int64_t index, uint8_t* rgba) {
        py::object picture = index == 0 ? first : next();
        if (!picture)
            return false;
        copyFrame(picture, index, width, height, rgba);
        return true;
    }
};

void write(py::handle path, py::handle frames, py::handle fps, py::handle audio, int audioRate,
           py::handle audioBits, bool alpha, int optimize, int threads) {
    py::object shown;
    keo::lib::ExportSettings s =
        settingsOf(fileSystemPath(path, &shown), fps, alpha, optimize, threads);
    py::array kept;
    const Sound sound = audio.is_none() ? Sound{} : soundOf(audio, audioRate, audioBits, s, kept);
    PictureFeed pictures(frames);
    s.width = pictures.width;
    s.height = pictures.height;
    Interruption stop;
    // With more than one encoder thread this runs on the export's reader
    // thread, where no signal handler runs.
    keo::lib::FrameFeed feedFrames = [&](int64_t index, uint8_t* rgba) {
        py::gil_scoped_acquire locked;
        if (stop.check())
            Interruption::stopExport();
        return pictures.fill(index, rgba);
    };
    s.onFrameWritten = [&](int64_t) {
        py::gil_scoped_acquire locked;
        if (stop.check())
            Interruption::stopExport();
    };
    keo::lib::AudioFeed feedAudio = [&](int64_t start, uint32_t count, uint32_t channels,
                                        float** planar) {
        {
            py::gil_scoped_acquire locked;
            if (stop.check())
                return false; // the export then fails, and the interruption is raised
        }
        return feedSound(sound, start, count, channels, planar);
    };
    withoutGil(shown, [&] {
        std::lock_guard<std::mutex> one(g_exportLock);
        try {
            keo::lib::exportMovie(s, feedFrames, feedAudio);
        } catch (...) {
            if (stop.error)
                std::rethrow_exception(stop.error);
            throw;
        }
    });
}

} // namespace

void bindWrite(py::module_& m) {
    py::options options;
    options.disable_function_signatures();
    m.def("write", &write, py::arg("path"), py::arg("frames"), py::arg("fps"),
          py::arg("audio") = py::none(), py::arg("audio_rate") = 48000,
          py::arg("audio_bits") = py::none(), py::arg("alpha") = false, py::arg("optimize") = 0,
          py::arg("threads") = 0,
          "write(path, frames, fps, audio=None, audio_rate=48000, audio_bits=None, "
          "alpha=False, optimize=0, threads=0)\n--\n\n"
          "Writes a KEO movie of uint8 frames (and sound); see the module's help for the "
          "arguments.");
}

} // namespace keo::python
