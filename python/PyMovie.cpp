// keo.open and keo.Movie: opening, description, times, sound, pickling,
// iteration, and the bindings with their manual.
#include "Bindings.h"

#include "MovieClock.h"
#include "PyMovie.h"

#include <limits>
#include <memory>

namespace keo::python {

PyMovie::PyMovie(py::handle path, py::handle order) {
    order_ = orderOf(order);
    const std::string bytes = fileSystemPath(path, &name_);
    withoutGil(name_, [&] { reader_ = std::make_unique<MovieReader>(bytes); });
    info_ = reader_->info();
}

void PyMovie::close() {
    withoutGil(name_, [&] { reader_->close(); });
}

void PyMovie::ensureOpen() {
    if (closed())
        throw py::value_error("I/O operation on a closed movie");
}

void PyMovie::throwError(const std::string& why) {
    py::object message = py::module_::import("os").attr("fsdecode")(name_) + py::str(": " + why);
    raiseError(message, name_);
}

PixelOrder PyMovie::orderOf(py::handle name) {
    PixelOrder order;
    if (!py::isinstance<py::str>(name) || !pixelOrderNamed(name.cast<std::string>(), &order))
        throw py::value_error("order must be \"rgba\", \"bgra\", \"argb\", \"rgb\", \"bgr\" or "
                              "\"gray\", not " +
                              py::repr(name).cast<std::string>());
    return order;
}

static py::object fraction(py::object num, py::object den) {
    return py::module_::import("fractions").attr("Fraction")(num, den);
}

py::object PyMovie::fps() const {
    return fraction(py::int_(info_.scale), py::int_(info_.sampleSize));
}

py::object PyMovie::duration() const {
    return fraction(py::int_(static_cast<int64_t>(info_.frames) * info_.sampleSize),
                    py::int_(info_.scale));
}

py::object PyMovie::timeOf(py::handle index) {
    const int i = frameIndex(integerOf(index, "time_of takes a frame index"));
    return fraction(py::int_(static_cast<int64_t>(i) * info_.sampleSize), py::int_(info_.scale));
}

int64_t PyMovie::indexAt(py::handle seconds) {
    py::module_ fractions = py::module_::import("fractions");
    py::module_ numbers = py::module_::import("numbers");
    py::object exact;
    if (py::isinstance(seconds, numbers.attr("Rational")))
        exact = fractions.attr("Fraction")(seconds);
    else if (py::isinstance(seconds, numbers.attr("Real")) ||
             py::hasattr(seconds, "as_integer_ratio"))
        // As printed: 0.12 s is 3/25, not the binary fraction a little below.
        exact = fractions.attr("Fraction")(py::str(seconds));
    else
        throw py::type_error("index_at takes a time in seconds (a number or Fraction)");
    // The time in whole ticks, rounded down, as a host asks for a frame.
    py::object ticks = exact.attr("numerator")
                           .attr("__mul__")(py::int_(kHostTicksPerSecond))
                           .attr("__floordiv__")(exact.attr("denominator"));
    int64_t frame = -1;
    if (ticks.attr("__le__")(py::int_(std::numeric_limits<int64_t>::max())).cast<bool>() &&
        ticks.attr("__ge__")(py::int_(0)).cast<bool>())
        frame = frameAtHostTicks(info_, ticks.cast<int64_t>());
    if (frame < 0 || frame >= info_.frames)
        throw py::value_error(py::str(exact).cast<std::string>() +
                              " s is outside the movie, which lasts " +
                              py::str(duration()).cast<std::string>() + " s");
    return frame;
}

py::array PyMovie::audio(int64_t start, py::object countArg, bool pcm) {
    ensureOpen();
    const int bits = keo::lib::bitsOfSampleType(info_.sampleType);
    if (pcm && info_.hasAudio && bits == 0)
        throwError("the plug-in reports sample type " + std::to_string(info_.sampleType) +
                   ", which has no integer width");
    if (info_.hasAudio && (info_.channels < 1 || info_.channels > 64))
        throwError("the plug-in reports " + std::to_string(info_.channels) + " audio channels");
    const int64_t total = info_.hasAudio ? info_.audioFrames : 0;
    const int channels = info_.hasAudio ? info_.channels : 0;
    // Like a slice: a negative start counts from the end, and a range past
    // the end is cut there.
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
    py::array samples(type, {static_cast<py::ssize_t>(count), static_cast<py::ssize_t>(channels)});
    if (count == 0)
        return samples;
    void* dest = samples.mutable_data();
    // Ctrl-C stops a long read between two of the plug-in's requests.
    auto between = [] {
        py::gil_scoped_acquire locked;
        if (PyErr_CheckSignals() != 0)
            throw py::error_already_set();
    };
    withoutGil(name_, [&] {
        reader_->readAudio(start, count, pcmBits, dest, between);
        // 24-bit samples come left-aligned in their int32, as WAV readers
        // give them: full scale is int32's, so levels read right and
        // keo.write stores them at the level they had.
        if (pcmBits == 24) {
            int32_t* v = static_cast<int32_t*>(dest);
            for (int64_t i = 0, n = count * channels; i < n; ++i)
                v[i] = static_cast<int32_t>(static_cast<uint32_t>(v[i]) << 8);
        }
    });
    return samples;
}

py::dict PyMovie::facts() {
    ensureOpen();
    std::string json;
    withoutGil(name_, [&] { json = reader_->infoJson(); });
    // keo writes the path's bytes as they are; they need not be UTF-8.
    py::object text = py::bytes(json).attr("decode")("utf-8", "surrogateescape");
    py::dict fields = py::module_::import("json").attr("loads")(text);
    fields["file"] = name_;
    return fields;
}

std::string PyMovie::repr() {
    std::string shown = py::repr(name_);
    if (closed())
        return "<keo.Movie " + shown + " (closed)>";
    return "<keo.Movie " + shown + " " + std::to_string(info_.width) + "x" +
           std::to_string(info_.height) + ", " + std::to_string(info_.frames) + " frames at " +
           py::str(fps()).cast<std::string>() + " fps, " + pixelOrderName(order_) + ">";
}

namespace {

// Iteration keeps the movie alive and reads two frames at a time, side by
// side, keeping the second until it is asked for.
struct MovieIterator {
    py::object movie;
    int next = 0;
    // A frame read with the one before it, and its index. The index is
    // kept with it because the lock is let go during a read: threads that
    // share one iterator must never get a frame kept for another index.
    py::object held = py::none();
    int heldIndex = -1;
};

// Docstrings begin with the call's signature in the interpreter's own form
// ("name(args)\n--\n\n"), which help() and inspect.signature read; the
// stub keo/__init__.pyi gives the same signatures with their types.
void bindIterator(py::module_& m) {
    py::class_<MovieIterator>(m, "MovieIterator",
                              "The frames of a keo.Movie, one at a time, in its order. Frames are "
                              "read two at a time, side by side, the second kept until it is "
                              "asked for; a frame that fails raises where it is asked for, and "
                              "iteration can go on after it.")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__",
             [](MovieIterator& it) {
                 PyMovie& movie = it.movie.cast<PyMovie&>();
                 if (it.next >= movie.info().frames)
                     throw py::stop_iteration();
                 const int index = it.next++;
                 py::object frame = std::move(it.held);
                 it.held = py::none();
                 if (it.heldIndex == index)
                     return frame;
                 py::object after;
                 frame = movie.readForIteration(index, &after);
                 if (!after.is_none()) {
                     it.held = std::move(after);
                     it.heldIndex = index + 1;
                 }
                 return frame;
             })
        .def("__length_hint__", [](const MovieIterator& it) {
            return std::max(0, it.movie.cast<PyMovie&>().info().frames - it.next);
        });
}

// Frames by index of every kind, and their times.
void bindFrames(py::class_<PyMovie>& movie) {
    movie.def("__len__", [](const PyMovie& m) { return m.info().frames; })
        .def("__getitem__", &PyMovie::item, py::arg("index"))
        .def("__iter__", [](py::object self) { return MovieIterator{self}; })
        .def("read", &PyMovie::read, py::arg("index"), py::arg("order") = py::none(),
             py::arg("out") = py::none(),
             "read($self, index, order=None, out=None)\n--\n\n"
             "Frames as a uint8 array, into `out` when given.\n\n"
             "index: a frame index (negative counts from the end), a slice, or a list or "
             "array of indices (or a boolean mask of len(movie)). One index gives (height, "
             "width, channels); several give the index's shape before it. order: \"rgba\", "
             "\"bgra\", \"argb\", \"rgb\", \"bgr\" or \"gray\" (luma, (height, width) "
             "without a channel axis), the movie's order when None. out: a C-contiguous "
             "uint8 array of exactly that shape, which is filled and returned; frames "
             "before one that fails are filled, the rest left as they were.")
        .def("time_of", &PyMovie::timeOf, py::arg("index"),
             "time_of($self, index)\n--\n\n"
             "When frame `index` starts, in seconds from the first frame, an exact "
             "fractions.Fraction.")
        .def("index_at", &PyMovie::indexAt, py::arg("seconds"),
             "index_at($self, seconds)\n--\n\n"
             "The frame shown at `seconds` (a number or Fraction; a float as it prints, so "
             "0.12 is 3/25), the one a host asking at that time receives; ValueError outside "
             "the movie. index_at(time_of(i)) is i.");
}

// Description, sound, life cycle.
void bindRest(py::class_<PyMovie>& movie) {
    movie.def_property_readonly("closed", &PyMovie::closed, "True once closed.")
        .def_property_readonly("name", &PyMovie::name, "The path as given to keo.open.")
        .def_property_readonly(
            "width", [](const PyMovie& m) { return m.info().width; }, "Frame width in pixels.")
        .def_property_readonly(
            "height", [](const PyMovie& m) { return m.info().height; }, "Frame height in pixels.")
        .def_property_readonly(
            "order", [](const PyMovie& m) { return pixelOrderName(m.order()); },
            "The byte order of frames read without one: \"rgba\", \"bgra\", \"argb\", "
            "\"rgb\", \"bgr\" or \"gray\".")
        .def_property_readonly("fps", &PyMovie::fps,
                               "Frames per second as the host is told, an exact "
                               "fractions.Fraction (30000/1001 for 29.97).")
        .def_property_readonly("duration", &PyMovie::duration,
                               "The movie's length in seconds, an exact fractions.Fraction.")
        .def_property_readonly(
            "alpha", [](const PyMovie& m) { return m.info().alpha; },
            "True when the first frame carries transparency.")
        .def_property_readonly("info", &PyMovie::facts,
                               "The fields of `keo info --json`, as a dict.")
        .def("audio", &PyMovie::audio, py::arg("start") = 0, py::arg("count") = py::none(),
             py::arg("pcm") = false,
             "audio($self, start=0, count=None, pcm=False)\n--\n\n"
             "Sample frames as an array (frames, channels), float32 or stored integers.\n\n"
             "From `start` (negative counts from the end), `count` of them or to the end: "
             "float32 as the host receives them, or with pcm=True the stored integers "
             "(int8, int16, or int32 for 24 and 32 bits, 24-bit ones left-aligned as WAV "
             "readers give them). A movie without sound gives an empty array.")
        .def("close", &PyMovie::close,
             "close($self)\n--\n\nGives the movie back to the plug-in; waits for reads in "
             "flight. Safe twice.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__",
             [](PyMovie& self, py::args) {
                 self.close();
                 return false;
             })
        .def("__reduce__",
             [](py::object self) {
                 // A movie travels (to a worker process) as its path and
                 // order, and is opened anew where it arrives.
                 PyMovie& m = self.cast<PyMovie&>();
                 m.ensureOpen();
                 return py::make_tuple(self.get_type(),
                                       py::make_tuple(m.name(), pixelOrderName(m.order())));
             })
        .def("__repr__", &PyMovie::repr);
}

} // namespace

void bindMovie(py::module_& m) {
    py::options options;
    options.disable_function_signatures();
    bindIterator(m);
    py::class_<PyMovie> movie(m, "Movie",
                              "Movie(path, order='rgba')\n--\n\n"
                              "An open KEO movie (keo.open makes one). A sequence of frames: "
                              "movie[i], movie[a:b:c], movie[[i, j, ...]], movie[index_array], "
                              "iteration, len(movie). Frames come in the movie's `order`.");
    movie.def(py::init<py::handle, py::handle>(), py::arg("path"), py::arg("order") = "rgba");
    bindFrames(movie);
    bindRest(movie);
    m.def(
        "open",
        [](py::handle path, py::handle order) { return std::make_unique<PyMovie>(path, order); },
        py::arg("path"), py::arg("order") = "rgba",
        "open(path, order='rgba')\n--\n\n"
        "Opens the KEO movie at `path` (str, bytes or os.PathLike) as a keo.Movie whose "
        "frames come in `order`.");
}

} // namespace keo::python
