// keo's failures as Python exceptions, and paths as the file system's bytes.
#include "PyErrors.h"

#include "MovieReader.h"
#include "libkeo/Failure.h"

#include <cstring>

namespace keo::python {
namespace {

PyObject* g_error = nullptr; // keo.Error, kept for the life of the process

// keo's words carry the path's bytes as they are; undecodable ones come back
// as os.fsdecode gives them.
py::object wordsOf(const std::string& words) {
    py::object message = py::reinterpret_steal<py::object>(PyUnicode_DecodeUTF8(
        words.data(), static_cast<Py_ssize_t>(words.size()), "surrogateescape"));
    if (!message)
        throw py::error_already_set();
    return message;
}

} // namespace

py::handle errorType() {
    return g_error;
}

void makeErrorType(py::module_& module) {
    py::dict defaults;
    defaults["filename"] = py::none();
    defaults["frame"] = py::none();
    g_error = PyErr_NewExceptionWithDoc(
        "keo.Error",
        "A file that is not a KEO movie or is damaged, a frame or sound that cannot be "
        "read, or a movie that cannot be written; the message is keo's, naming the file. "
        "`filename` is the path as given, `frame` the frame's index when a frame failed "
        "(else None).",
        PyExc_ValueError, defaults.ptr());
    if (!g_error)
        throw py::error_already_set();
    module.add_object("Error", py::handle(g_error).inc_ref());
}

void raiseError(py::object message, py::handle filename, int frame) {
    py::object error = py::handle(g_error)(message);
    error.attr("filename") = filename;
    if (frame >= 0)
        error.attr("frame") = frame;
    PyErr_SetObject(g_error, error.ptr());
    throw py::error_already_set();
}

void raiseCaught(std::exception_ptr failure, py::handle filename) {
    try {
        std::rethrow_exception(failure);
    } catch (const MovieClosed&) {
        throw py::value_error("I/O operation on a closed movie");
    } catch (const keo::lib::OutOfMemory& f) {
        PyErr_SetObject(PyExc_MemoryError, wordsOf(f.what()).ptr());
        throw py::error_already_set();
    } catch (const keo::lib::Failure& f) {
        if (f.err != 0) {
            // OSError(errno, strerror, filename) makes the subclass that
            // fits the errno, as open() does.
            py::object error = py::handle(PyExc_OSError)(f.err, std::strerror(f.err), filename);
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
            throw py::error_already_set();
        }
        const auto* frame = dynamic_cast<const FrameFailure*>(&f);
        raiseError(wordsOf(f.what()), filename, frame ? frame->frame : -1);
    }
    // Anything else (std::bad_alloc, a Python error from a frame feed) is
    // pybind11's to translate.
}

std::string fileSystemPath(py::handle path, py::object* shown) {
    py::module_ os = py::module_::import("os");
    *shown = os.attr("fspath")(path);
    py::bytes encoded = os.attr("fsencode")(*shown);
    std::string bytes = encoded;
    if (bytes.find('\0') != std::string::npos)
        throw py::value_error("embedded null byte");
    return bytes;
}

} // namespace keo::python
