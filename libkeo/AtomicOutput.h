// Output files that appear whole or not at all, and outputs that must never
// be replaced.
//
// What a name given as an output is decides how it is written:
//  - a regular file (or a new name): the bytes go to an unnamed file in the
//    same folder (O_TMPFILE), linked into place by commitOutput, so that not
//    even SIGKILL leaves anything behind; where the file system has no
//    unnamed files, to a short hidden name ".keo-XXXXXX" beside it, removed
//    on every exit a process can catch. A file that is replaced keeps its
//    mode and owner;
//  - a symbolic link: written through; its target is replaced, the link
//    stays;
//  - a character or block device: written in place, never replaced. An
//    output that seeks back (a movie, a WAV file) goes to a device that
//    keeps no file position (/dev/null, /dev/full) through an unnamed file
//    in $TMPDIR, copied to the device when it is complete; a terminal is
//    refused. A FIFO is written only by outputs that stream; a socket is
//    refused;
//  - "-": standard output, written in place under the same rules, and for
//    a seeking output only when it is at the start of a regular file or on
//    a seekable device.
// An output that is one of the inputs (same device and inode, links
// followed) is refused before anything is touched.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace keo::lib {

enum class OutputUse {
    Stream, // written front to back once: PNG, raw frames
    Seek,   // the writer goes back to patch what it wrote: movies, WAV
};

struct AtomicOutput {
    std::string target;    // the name as given, for messages
    std::string writePath; // what the writer opens with "wb" (empty: nothing begun)
    int fd = -1;           // the unnamed file (or spool), while it is not placed
    int dirFd = -1;        // folder of the final name
    std::string name;      // final name inside dirFd
    std::string tempName;  // a hidden name inside dirFd while one exists
    int slot = -1;         // registration of tempName for the signal handlers
    bool inPlace = false;  // a device or standard output: nothing to commit
    bool toStdout = false; // "-": a streaming command writes to stdout itself
    int deviceFd = -1;     // where a spooled output is copied at commit
    bool ownDeviceFd = false;
    bool replacing = false;
    uid_t uid = 0; // owner and mode of the file being replaced
    gid_t gid = 0;
    mode_t mode = 0;

    AtomicOutput() = default;
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;
    ~AtomicOutput();
};

// Decides how `target` is written and prepares it; out.writePath is then
// the path to open for writing. `inputs` are the files the command reads
// ("-" is standard input). Throws Failure with the system's reason.
void beginOutput(AtomicOutput& out, const std::string& target, OutputUse use,
                 const std::vector<std::string>& inputs = {});
// Puts the finished bytes in place (durably, for a file). Throws Failure
// (and leaves nothing) if that fails.
void commitOutput(AtomicOutput& out);
// Drops what was written, if it is not in place yet. Safe to call twice.
void abandonOutput(AtomicOutput& out);

// Installs the handlers that remove hidden temporaries on SIGINT, SIGTERM,
// SIGHUP and SIGPIPE, and lets writes past the file size limit fail with
// "File too large" instead of ending the process.
void installOutputCleanup();

// Failure naming `subject` and the system's reason for `err`.
[[noreturn]] void failWithErrno(const std::string& subject, int err);

} // namespace keo::lib
