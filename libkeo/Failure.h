// How a keo command gives up: one line on stderr and an exit status.
//
// Commands throw Failure; main catches it and prints "keo: <what>: <why>".
// Status 2 is kept for a movie that cannot be opened (missing, unreadable or
// refused by the plug-in), so scripts can tell "not a movie" from every
// other failure; 3 for a command that went through a movie but could not
// read some of its frames or sound (each is reported as it happens).
//
// Memory that runs out is no fault of the movie: OutOfMemory says "out of
// memory" with status 1, and the Python module raises MemoryError for it.
#pragma once

#include <stdexcept>
#include <string>

namespace keo::lib {

enum ExitStatus {
    kExitOK = 0,
    kExitFailed = 1,
    kExitBadMovie = 2,
    kExitDamaged = 3,
};

struct Failure : std::runtime_error {
    int status;
    int err = 0; // the system's errno when the reason is its words (failWithErrno)
    Failure(const std::string& subject, const std::string& reason, int exitStatus = kExitFailed)
        : std::runtime_error(subject + ": " + reason), status(exitStatus) {}
};

struct OutOfMemory : Failure {
    std::string subject; // what could not be had ("frame 3"), for a caller to name more of
    explicit OutOfMemory(const std::string& what) : Failure(what, "out of memory"), subject(what) {}
};

[[noreturn]] inline void fail(const std::string& what, const std::string& why,
                              int status = kExitFailed) {
    throw Failure(what, why, status);
}

} // namespace keo::lib
