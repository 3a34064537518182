// How the Python module turns paths into the file system's bytes and keo's
// failures into Python exceptions, and runs work without Python's lock.
//
// A failure whose reason is the system's (keo::lib::Failure with `err`)
// becomes the OSError subclass that fits, with errno and the file name
// (FileNotFoundError, PermissionError, IsADirectoryError, ...); memory that
// ran out (keo::lib::OutOfMemory) MemoryError; a read of a closed movie
// ValueError; every other failure keo.Error, a ValueError, with keo's own
// words naming the file ("clip.mov: frame 3: its data is damaged, cut short
// or cannot be read (error 99)"), the file as given in `filename` and a
// failed frame's index in `frame`.
#pragma once

#include <pybind11/pybind11.h>

#include <exception>
#include <string>
#include <utility>

namespace keo::python {

namespace py = pybind11;

// keo.Error; made once, when the module is imported.
py::handle errorType();
void makeErrorType(py::module_& module);

// Raises keo.Error(message) with `filename` and, when not negative, `frame`.
[[noreturn]] void raiseError(py::object message, py::handle filename, int frame = -1);

// Raises, with Python's lock held, the exception for a failure caught
// without it. `filename` names the file of an OSError or keo.Error.
[[noreturn]] void raiseCaught(std::exception_ptr failure, py::handle filename);

// Runs `work` with Python's lock released, so that other threads run
// meanwhile, and raises what it threw once the lock is back.
template <typename Work> void withoutGil(py::handle filename, Work&& work) {
    std::exception_ptr failure;
    {
        py::gil_scoped_release released;
        try {
            std::forward<Work>(work)();
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (failure)
        raiseCaught(failure, filename);
}

// The file system's bytes for a path given as str, bytes or os.PathLike
// (os.fsencode: a str that came from undecodable bytes goes back to those
// bytes). *shown receives the path as given (os.fspath), for messages.
std::string fileSystemPath(py::handle path, py::object* shown);

} // namespace keo::python
