// How a keo command gives up: one line on stderr and an exit status.
//
// Commands throw Failure; main catches it and prints "keo: <what>: <why>".
// Status 2 is kept for a movie that cannot be opened (missing or refused by
// the plug-in), so scripts can tell "not a movie" from every other failure.
#pragma once

#include <stdexcept>
#include <string>

namespace keo::tool {

enum ExitStatus {
    kExitOK = 0,
    kExitFailed = 1,
    kExitBadMovie = 2,
};

struct Failure : std::runtime_error {
    int status;
    Failure(const std::string& subject, const std::string& reason, int exitStatus = kExitFailed)
        : std::runtime_error(subject + ": " + reason), status(exitStatus) {}
};

[[noreturn]] inline void fail(const std::string& what, const std::string& why,
                              int status = kExitFailed) {
    throw Failure(what, why, status);
}

} // namespace keo::tool
