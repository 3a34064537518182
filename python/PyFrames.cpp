// Frames of a keo.Movie by index, slice, list or array of indices, into new
// arrays or the caller's.
#include "PyMovie.h"

#include <algorithm>
#include <string>

namespace keo::python {
namespace {

std::string shapeText(const std::vector<py::ssize_t>& shape) {
    std::string text;
    for (py::ssize_t d : shape)
        text += (text.empty() ? "" : ", ") + std::to_string(d);
    return "(" + text + (shape.size() == 1 ? ",)" : ")");
}

} // namespace

int64_t PyMovie::integerOf(py::handle value, const char* why) {
    PyObject* number = PyNumber_Index(value.ptr());
    if (!number) {
        // Only "not an integer" is ours to word; anything else (Ctrl-C in
        // an __index__) goes on as it is.
        if (!PyErr_ExceptionMatches(PyExc_TypeError))
            throw py::error_already_set();
        PyErr_Clear();
        throw py::type_error(why);
    }
    const long long i = PyLong_AsLongLong(number);
    Py_DECREF(number);
    if (i == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        throw py::index_error("frame index out of range");
    }
    return i;
}

int PyMovie::frameIndex(int64_t i) const {
    const int64_t given = i;
    if (i < 0)
        i += info_.frames;
    if (i < 0 || i >= info_.frames)
        throw py::index_error("frame index " + std::to_string(given) + " out of range for " +
                              std::to_string(info_.frames) + " frames");
    return static_cast<int>(i);
}

FrameRequest PyMovie::request(py::handle key) {
    const char* kinds = "movie indices must be integers, slices, or lists or arrays of integers";
    FrameRequest r;
    if (PySlice_Check(key.ptr())) {
        py::ssize_t start = 0, stop = 0, step = 0, count = 0;
        if (!py::reinterpret_borrow<py::slice>(key).compute(info_.frames, &start, &stop, &step,
                                                            &count))
            throw py::error_already_set();
        for (py::ssize_t k = 0; k < count; ++k)
            r.indices.push_back(static_cast<int>(start + k * step));
        r.shape = {count};
        return r;
    }
    if (PyTuple_Check(key.ptr()) || PyUnicode_Check(key.ptr()) || PyBytes_Check(key.ptr()))
        throw py::type_error(kinds);
    if (PyIndex_Check(key.ptr()) && !py::isinstance<py::array>(key)) {
        r.indices.push_back(frameIndex(integerOf(key, kinds)));
        return r;
    }
    py::module_ np = py::module_::import("numpy");
    py::array a = np.attr("asarray")(key);
    const char kind = a.dtype().kind();
    if (kind == 'b') {
        // A mask: one truth value per frame, as NumPy takes it.
        if (a.ndim() != 1 || a.shape(0) != info_.frames)
            throw py::index_error("a boolean index must have one entry for each of the " +
                                  std::to_string(info_.frames) + " frames");
        a = np.attr("flatnonzero")(a);
    } else if (kind != 'i' && kind != 'u' && kind != 'O' && a.size() != 0) {
        // Objects (a list of mixed kinds) are asked for their index below.
        throw py::type_error(kinds);
    }
    for (py::ssize_t d = 0; d < a.ndim(); ++d)
        r.shape.push_back(a.shape(d));
    if (a.ndim() == 0) // a 0-d integer array stands for one index
        r.shape.clear();
    for (py::handle i : a.attr("ravel")().attr("tolist")())
        r.indices.push_back(frameIndex(integerOf(i, kinds)));
    return r;
}

std::vector<py::ssize_t> PyMovie::shapeOf(const FrameRequest& r, PixelOrder order) const {
    std::vector<py::ssize_t> shape = r.shape;
    shape.push_back(info_.height);
    shape.push_back(info_.width);
    if (order != PixelOrder::Gray)
        shape.push_back(keo::pixelBytes(order));
    return shape;
}

py::array PyMovie::checkedOut(py::object out, const std::vector<py::ssize_t>& shape) {
    if (!py::isinstance<py::array>(out))
        throw py::type_error("out must be a numpy.ndarray");
    py::array a = py::reinterpret_borrow<py::array>(out);
    const bool fits = a.ndim() == static_cast<py::ssize_t>(shape.size()) &&
                      std::equal(shape.begin(), shape.end(), a.shape());
    if (a.dtype().kind() != 'u' || a.itemsize() != 1 || !fits)
        throw py::value_error("out must be a uint8 array of shape " + shapeText(shape));
    if (!(a.flags() & py::array::c_style) || !a.writeable())
        throw py::value_error("out must be C-contiguous and writeable");
    return a;
}

std::exception_ptr PyMovie::readList(const std::vector<int>& indices, PixelOrder order,
                                     const std::vector<uint8_t*>& dests) {
    // Ctrl-C stops a long read between two frames: the lock is taken back
    // to look, and the error Python sets stays set for this thread.
    bool interrupted = false;
    auto between = [&interrupted] {
        py::gil_scoped_acquire held;
        interrupted = PyErr_CheckSignals() != 0;
        return !interrupted;
    };
    std::exception_ptr failure;
    {
        py::gil_scoped_release released;
        try {
            reader_->readFrames(indices, order, dests, between);
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (interrupted)
        throw py::error_already_set();
    return failure;
}

void PyMovie::readInto(const FrameRequest& r, PixelOrder order, py::array& frames) {
    ensureOpen();
    if (r.indices.empty())
        return;
    uint8_t* dest = static_cast<uint8_t*>(frames.mutable_data());
    const size_t frameBytes =
        static_cast<size_t>(info_.width) * info_.height * keo::pixelBytes(order);
    std::vector<uint8_t*> dests;
    for (size_t k = 0; k < r.indices.size(); ++k)
        dests.push_back(dest + k * frameBytes);
    if (std::exception_ptr failure = readList(r.indices, order, dests))
        raiseCaught(failure, name_);
}

py::object PyMovie::readForIteration(int index, py::object* after) {
    ensureOpen();
    const std::vector<py::ssize_t> shape = shapeOf(FrameRequest{}, order_);
    py::array first(py::dtype::of<uint8_t>(), shape);
    *after = py::none();
    if (index + 1 >= info_.frames) {
        if (std::exception_ptr failure =
                readList({index}, order_, {static_cast<uint8_t*>(first.mutable_data())}))
            raiseCaught(failure, name_);
        return std::move(first);
    }
    py::array second(py::dtype::of<uint8_t>(), shape);
    const std::vector<uint8_t*> dests{static_cast<uint8_t*>(first.mutable_data()),
                                      static_cast<uint8_t*>(second.mutable_data())};
    if (std::exception_ptr failure = readList({index, index + 1}, order_, dests)) {
        try {
            std::rethrow_exception(failure);
        } catch (const FrameFailure& f) {
            // The frame asked for came; the next is asked for again when
            // its turn comes, and fails there.
            if (f.frame == index + 1)
                return std::move(first);
        } catch (...) {
        }
        raiseCaught(failure, name_);
    }
    *after = std::move(second);
    return std::move(first);
}

py::object PyMovie::read(py::handle index, py::object order, py::object out) {
    const PixelOrder pixels = order.is_none() ? order_ : orderOf(order);
    const FrameRequest r = request(index);
    const std::vector<py::ssize_t> shape = shapeOf(r, pixels);
    py::array frames =
        out.is_none() ? py::array(py::dtype::of<uint8_t>(), shape) : checkedOut(out, shape);
    readInto(r, pixels, frames);
    return std::move(frames);
}

} // namespace keo::python
