// Output files that appear whole or not at all.
//
// The bytes go to a temporary file beside the target (same folder, so the
// final rename cannot cross file systems); commitOutput renames it into place.
// Until then the temporary is registered, and an AtomicOutput that goes out
// of scope uncommitted, or a SIGINT/SIGTERM/SIGHUP, removes it.
#pragma once

#include <string>

namespace keo::tool {

struct AtomicOutput {
    std::string target;
    std::string temp; // empty once committed or abandoned
    int slot = -1;    // registration for the signal handler

    AtomicOutput() = default;
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;
    ~AtomicOutput();
};

// Creates the temporary (mode 0666 less the umask) and returns its path in
// out.temp. Throws Failure when the folder is not writable.
void beginOutput(AtomicOutput& out, const std::string& target);
// Moves the temporary onto the target. Throws Failure if the rename fails
// (the temporary is removed then).
void commitOutput(AtomicOutput& out);
// Removes the temporary, if any. Safe to call twice.
void abandonOutput(AtomicOutput& out);

// Installs the signal handlers that remove registered temporaries.
void installOutputCleanup();

} // namespace keo::tool
