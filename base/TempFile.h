// A file for scratch data that no other process sees and nothing has to
// clean up: unnamed in $TMPDIR (or /tmp), gone when its descriptor closes,
// even after SIGKILL. Where the file system has no unnamed files, a named
// one is made and unlinked at once.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace keo {

// A descriptor open for reading and writing, or -1 with errno set.
inline int openUnnamedTemporary() {
    const char* dir = std::getenv("TMPDIR");
    if (!dir || !*dir)
        dir = "/tmp";
    int fd = open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
    std::string name = std::string(dir) + "/.keo-scratch-XXXXXX";
    fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0)
        unlink(name.c_str());
    return fd;
}

} // namespace keo
