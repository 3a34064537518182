// keo's failures as Python exceptions, and paths as the file system's bytes.
#include "PyErrors.h"

#include "libkeo/Failure.h"

#include <cstring>

namespace keo::python {
namespace {

PyObject* g_error = nullptr; // keo.Error, kept for the life of the process

} // namespace

py::handle errorType() {
    return g_error;
}

void makeErrorType(py::module_& module) {
    g_error = PyErr_NewExceptionWithDoc(
        "keo.Error",
        "A file that is not a KEO movie or is damaged, a frame or sound that cannot be "
        "read, or a movie that cannot be written; the message is keo's.",
        PyExc_ValueError, nullptr);
    if (!g_error)
        throw py::error_already_set();
    module.add_object("Error", py::handle(g_error).inc_ref());
}

void raiseCaught(std::exception_ptr failure, py::handle filename) {
    try {
        std::rethrow_exception(failure);
    } catch (const keo::lib::Failure& f) {
        if (f.err != 0) {
            // OSError(errno, strerror, filename) makes the subclass that
            // fits the errno, as open() does.
            py::object error = py::handle(PyExc_OSError)(f.err, std::strerror(f.err), filename);
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
        } else {
            // keo's words carry the path's bytes as they are; undecodable
            // ones come back as os.fsdecode gives them.
            const std::string words = f.what();
            py::object message = py::reinterpret_steal<py::object>(PyUnicode_DecodeUTF8(
                words.data(), static_cast<Py_ssize_t>(words.size()), "surrogateescape"));
            if (!message)
                throw py::error_already_set();
            PyErr_SetObject(g_error, message.ptr());
        }
        throw py::error_already_set();
    }
    // Anything else (MemoryError, a Python error from a frame feed) is
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
