// keo.Movie: a movie's frames as NumPy arrays, by index, slice, list or
// array of indices, or iteration, in any of the module's byte orders; its
// sound, times and what keo info says of it. Reads run without Python's lock
// and stop for Ctrl-C between frames.
#pragma once

#include "FrameOrder.h"
#include "MovieReader.h"
#include "PyErrors.h"

#include <pybind11/numpy.h>

#include <memory>
#include <vector>

namespace keo::python {

// Frames asked for at once: their indices (checked, from 0) and the shape
// they stand in: () for one index, (n,) for a slice or list, an index
// array's own shape.
struct FrameRequest {
    std::vector<int> indices;
    std::vector<py::ssize_t> shape;
};

class PyMovie {
public:
    PyMovie(py::handle path, py::handle order);

    void close();
    bool closed() { return reader_->closed(); }
    py::object name() const { return name_; }
    const keo::lib::MovieInfo& info() const { return info_; }
    PixelOrder order() const { return order_; }

    // PyFrames.cpp: frames by index of every kind.
    py::object read(py::handle index, py::object order, py::object out);
    py::object item(py::handle key) { return read(key, py::none(), py::none()); }

    // PyMovie.cpp: the rest.
    py::array audio(int64_t start, py::object count, bool pcm);
    py::dict facts();
    py::object fps() const;
    py::object duration() const;
    py::object timeOf(py::handle index);
    int64_t indexAt(py::handle seconds);
    std::string repr();
    // Frame `index` of an iteration, in the movie's order; frame index + 1,
    // read at the same time, into *after (None when it failed or there is
    // none: it is then read when asked for).
    py::object readForIteration(int index, py::object* after);

    void ensureOpen();
    [[noreturn]] void throwError(const std::string& why);

    static PixelOrder orderOf(py::handle name);
    static int64_t integerOf(py::handle value, const char* why);
    // A frame index (negative counts from the end), checked.
    int frameIndex(int64_t index) const;

private:
    FrameRequest request(py::handle key);
    std::vector<py::ssize_t> shapeOf(const FrameRequest& r, PixelOrder order) const;
    py::array checkedOut(py::object out, const std::vector<py::ssize_t>& shape);
    void readInto(const FrameRequest& r, PixelOrder order, py::array& frames);
    // Frames of a list, side by side when there are two or more, without
    // Python's lock; a failure is handed back, Ctrl-C raised.
    std::exception_ptr readList(const std::vector<int>& indices, PixelOrder order,
                                const std::vector<uint8_t*>& dests);

    py::object name_;
    PixelOrder order_ = PixelOrder::RGBA;
    std::unique_ptr<MovieReader> reader_;
    keo::lib::MovieInfo info_;
};

} // namespace keo::python
