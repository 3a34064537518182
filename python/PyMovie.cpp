// keo.open and keo.Movie: a movie's frames as NumPy arrays, by index,
// slice or iteration, its sound, and what keo info says of it.
#include "Bindings.h"

#include "MovieReader.h"
#include "PyErrors.h"
#include "libkeo/PluginSession.h"

#include <pybind11/numpy.h>

#include <memory>

namespace keo::python {
namespace {

class PyMovie {
public:
    explicit PyMovie(py::handle path) {
        const std::string bytes = fileSystemPath(path, &name_);
        withoutGil(name_, [&] { reader_ = std::make_unique<MovieReader>(bytes); });
        info_ = reader_->info();
    }

    void close() {
        withoutGil(name_, [&] { reader_->close(); });
    }
    bool closed() { return reader_->closed(); }
    py::object name() const { return name_; }
    int width() const { return info_.width; }
    int height() const { return info_.height; }
    int frames() const { return info_.frames; }
    bool alpha() const { return info_.alpha; }
    py::object fps() const {
        return py::module_::import("fractions").attr("Fraction")(info_.scale, info_.sampleSize);
    }

    py::array read(py::handle index, const std::string& order, py::object out) {
        const PixelOrder pixelOrder = orderOf(order);
        const int i = frameIndex(index);
        py::array frame = out.is_none() ? newFrames(-1) : checkedOut(out);
        uint8_t* dest = static_cast<uint8_t*>(frame.mutable_data());
        withoutGil(name_, [&] { reader_->readFrame(i, pixelOrder, dest); });
        return frame;
    }

    py::object item(py::handle key) {
        if (!PySlice_Check(key.ptr()))
            return read(key, "rgba", py::none());
        py::ssize_t start = 0, stop = 0, step = 0, count = 0;
        if (!py::reinterpret_borrow<py::slice>(key).compute(info_.frames, &start, &stop, &step,
                                                            &count))
            throw py::error_already_set();
        ensureOpen();
        py::array frames = newFrames(count);
        uint8_t* dest = static_cast<uint8_t*>(frames.mutable_data());
        const size_t frameBytes = static_cast<size_t>(info_.width) * info_.height * 4;
        for (py::ssize_t k = 0; k < count; ++k) {
            if (PyErr_CheckSignals() != 0)
                throw py::error_already_set();
            const int i = static_cast<int>(start + k * step);
            withoutGil(name_,
                       [&] { reader_->readFrame(i, PixelOrder::RGBA, dest + k * frameBytes); });
        }
        return std::move(frames);
    }

    py::array audio(int64_t start, py::object countArg, bool pcm) {
        ensureOpen();
        const int bits = keo::lib::bitsOfSampleType(info_.sampleType);
        if (pcm && info_.hasAudio && bits == 0)
            throwError("the plug-in reports sample type " + std::to_string(info_.sampleType) +
                       ", which has no integer width");
        if (info_.hasAudio && (info_.channels < 1 || info_.channels > 64))
            throwError("the plug-in reports " + std::to_string(info_.channels) + " audio channels");
        const int64_t total = info_.hasAudio ? info_.audioFrames : 0;
        const int channels = info_.hasAudio ? info_.channels : 0;
        // Like a slice: a negative start counts from the end, and a range
        // past the end is cut there.
        if (start < 0)
            start = std::max<int64_t>(0, start + total);
        start = std::min(start, total);
        int64_t count = total - start;
        if (!countArg.is_none()) {
            const int64_t asked = integerOf(countArg, "count must be an integer or None");
            if (asked < 0)
                throw py::value_error("count must not be negative");
            count = std::min(count, asked);
        }
        const int pcmBits = pcm ? bits : 0;
        py::dtype type = pcmBits == 0    ? py::dtype::of<float>()
                         : pcmBits == 8  ? py::dtype::of<int8_t>()
                         : pcmBits == 16 ? py::dtype::of<int16_t>()
                                         : py::dtype::of<int32_t>();
        if (pcm && !info_.hasAudio)
            type = py::dtype::of<int16_t>();
        py::array samples(type,
                          {static_cast<py::ssize_t>(count), static_cast<py::ssize_t>(channels)});
        if (count > 0) {
            void* dest = samples.mutable_data();
            withoutGil(name_, [&] {
                reader_->readAudio(start, count, pcmBits, dest);
                // 24-bit samples come left-aligned in their int32, as WAV
                // readers give them: full scale is int32's, so levels read
                // right and keo.write stores them at the level they had.
                if (pcmBits == 24) {
                    int32_t* v = static_cast<int32_t*>(dest);
                    for (int64_t i = 0, n = count * channels; i < n; ++i)
                        v[i] = static_cast<int32_t>(static_cast<uint32_t>(v[i]) << 8);
                }
            });
        }
        return samples;
    }

    py::dict info() {
        ensureOpen();
        std::string json;
        withoutGil(name_, [&] { json = reader_->infoJson(); });
        // keo writes the path's bytes as they are; they need not be UTF-8.
        py::object text = py::bytes(json).attr("decode")("utf-8", "surrogateescape");
        py::dict fields = py::module_::import("json").attr("loads")(text);
        fields["file"] = name_;
        return fields;
    }

    std::string repr() {
        std::string shown = py::repr(name_);
        if (closed())
            return "<keo.Movie " + shown + " (closed)>";
        return "<keo.Movie " + shown + " " + std::to_string(info_.width) + "x" +
               std::to_string(info_.height) + ", " + std::to_string(info_.frames) + " frames at " +
               py::str(fps()).cast<std::string>() + " fps>";
    }

private:
    [[noreturn]] void throwError(const std::string& why) {
        py::object message =
            py::module_::import("os").attr("fsdecode")(name_) + py::str(": " + why);
        PyErr_SetObject(errorType().ptr(), message.ptr());
        throw py::error_already_set();
    }

    void ensureOpen() {
        if (closed())
            throw py::value_error("I/O operation on a closed movie");
    }

    static PixelOrder orderOf(const std::string& order) {
        if (order == "rgba")
            return PixelOrder::RGBA;
        if (order == "bgra")
            return PixelOrder::BGRA;
        if (order == "argb")
            return PixelOrder::ARGB;
        throw py::value_error("order must be \"rgba\", \"bgra\" or \"argb\", not \"" + order +
                              "\"");
    }

    static int64_t integerOf(py::handle value, const char* why) {
        PyObject* number = PyNumber_Index(value.ptr());
        if (!number) {
            PyErr_Clear();
            throw py::type_error(why);
        }
        const long long i = PyLong_AsLongLong(number);
        Py_DECREF(number);
        if (i == -1 && PyErr_Occurred())
            throw py::error_already_set();
        return i;
    }

    int frameIndex(py::handle index) {
        int64_t i = integerOf(index, "movie indices must be integers or slices");
        if (i < 0)
            i += info_.frames;
        if (i < 0 || i >= info_.frames)
            throw py::index_error("frame index out of range");
        ensureOpen();
        return static_cast<int>(i);
    }

    // (count, height, width, 4), or one frame without the first axis.
    py::array newFrames(py::ssize_t count) {
        std::vector<py::ssize_t> shape{info_.height, info_.width, 4};
        if (count >= 0)
            shape.insert(shape.begin(), count);
        return py::array(py::dtype::of<uint8_t>(), shape);
    }

    py::array checkedOut(py::object out) {
        if (!py::isinstance<py::array>(out))
            throw py::type_error("out must be a numpy.ndarray");
        py::array frame = py::reinterpret_borrow<py::array>(out);
        const bool fits = frame.ndim() == 3 && frame.shape(0) == info_.height &&
                          frame.shape(1) == info_.width && frame.shape(2) == 4;
        if (frame.dtype().kind() != 'u' || frame.itemsize() != 1 || !fits)
            throw py::value_error("out must be a uint8 array of shape (" +
                                  std::to_string(info_.height) + ", " +
                                  std::to_string(info_.width) + ", 4)");
        if (!(frame.flags() & py::array::c_style) || !frame.writeable())
            throw py::value_error("out must be C-contiguous and writeable");
        return frame;
    }

    py::object name_;
    std::unique_ptr<MovieReader> reader_;
    keo::lib::MovieInfo info_;
};

// Iteration keeps the movie alive and reads one frame at a time.
struct MovieIterator {
    py::object movie;
    int next = 0;
};

} // namespace

void bindMovie(py::module_& m) {
    py::class_<PyMovie>(m, "Movie",
                        "An open KEO movie (made by keo.open). A sequence of frames: movie[i], "
                        "movie[a:b:c], iteration, len(movie).")
        .def(py::init<py::handle>(), py::arg("path"))
        .def("close", &PyMovie::close,
             "Gives the movie back to the plug-in; waits for reads in flight. Safe twice.")
        .def_property_readonly("closed", &PyMovie::closed)
        .def_property_readonly("name", &PyMovie::name, "The path as given to keo.open.")
        .def_property_readonly("width", &PyMovie::width)
        .def_property_readonly("height", &PyMovie::height)
        .def_property_readonly("fps", &PyMovie::fps,
                               "Frames per second as the host is told, an exact "
                               "fractions.Fraction (30000/1001 for 29.97).")
        .def_property_readonly("alpha", &PyMovie::alpha,
                               "True when the first frame carries transparency.")
        .def_property_readonly("info", &PyMovie::info,
                               "The fields of `keo info --json`, as a dict.")
        .def("__len__", &PyMovie::frames)
        .def("__getitem__", &PyMovie::item, py::arg("index"))
        .def("__iter__",
             [](py::object self) {
                 return MovieIterator{self, 0};
             })
        .def("read", &PyMovie::read, py::arg("index"), py::arg("order") = "rgba",
             py::arg("out") = py::none(),
             "Frame `index` (negative counts from the end) as a uint8 array (height, width, "
             "4) in `order` \"rgba\", \"bgra\" or \"argb\"; into `out` when given (a "
             "C-contiguous uint8 array of that shape), which is returned.")
        .def("audio", &PyMovie::audio, py::arg("start") = 0, py::arg("count") = py::none(),
             py::arg("pcm") = false,
             "Sample frames from `start` (negative counts from the end), `count` of them or "
             "to the end, as an array (frames, channels): float32 as the host receives them, "
             "or with pcm=True the stored integers (int8, int16, or int32 for 24 and 32 "
             "bits, 24-bit ones left-aligned as WAV readers give them). A movie without "
             "sound gives an empty array.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__",
             [](PyMovie& self, py::args) {
                 self.close();
                 return false;
             })
        .def("__repr__", &PyMovie::repr);

    py::class_<MovieIterator>(m, "_MovieIterator")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", [](MovieIterator& it) {
            PyMovie& movie = it.movie.cast<PyMovie&>();
            if (it.next >= movie.frames())
                throw py::stop_iteration();
            return movie.read(py::int_(it.next++), "rgba", py::none());
        });

    m.def(
        "open", [](py::handle path) { return std::make_unique<PyMovie>(path); }, py::arg("path"),
        "Opens the KEO movie at `path` (str, bytes or os.PathLike) and returns a keo.Movie.");
}

} // namespace keo::python
