// Deciding how an output is written, unnamed or hidden temporaries, and
// their removal on a signal.
#include "libkeo/AtomicOutput.h"

#include "libkeo/Failure.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace keo::lib {
namespace {

// The signal handlers may only touch plain memory, so live temporaries are
// kept in fixed slots: the folder's descriptor and the short name in it.
constexpr int kSlots = 8;
constexpr size_t kTempNameMax = 32;
struct TempSlot {
    int dirFd;
    char name[kTempNameMax];
};
TempSlot g_temps[kSlots];
volatile sig_atomic_t g_slotUsed[kSlots];

int registerTemp(int dirFd, const std::string& name) {
    if (name.size() >= kTempNameMax)
        return -1;
    for (int i = 0; i < kSlots; ++i)
        if (!g_slotUsed[i]) {
            g_temps[i].dirFd = dirFd;
            std::memcpy(g_temps[i].name, name.c_str(), name.size() + 1);
            g_slotUsed[i] = 1;
            return i;
        }
    return -1;
}

void unregisterTemp(int& slot) {
    if (slot >= 0 && slot < kSlots)
        g_slotUsed[slot] = 0;
    slot = -1;
}

extern "C" void removeTempsAndDie(int sig) {
    for (int i = 0; i < kSlots; ++i)
        if (g_slotUsed[i])
            unlinkat(g_temps[i].dirFd, g_temps[i].name, 0);
    signal(sig, SIG_DFL);
    raise(sig);
}

std::string folderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool haveProcFds() {
    return access("/proc/self/fd", X_OK) == 0;
}

std::string procPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

// A short hidden name, so that a target name of up to NAME_MAX bytes still
// has a temporary beside it.
std::string tempCandidate() {
    static std::atomic<unsigned> counter{0};
    char name[kTempNameMax];
    unsigned n = counter++ * 2654435761u ^ static_cast<unsigned>(getpid()) * 40503u ^
                 static_cast<unsigned>(reinterpret_cast<uintptr_t>(&n));
    std::snprintf(name, sizeof name, ".keo-%06x", n & 0xFFFFFF);
    return name;
}

// Follows symbolic links to the name that is finally written; the last one
// may name a file that does not exist yet.
std::string followLinks(const std::string& target, struct stat* st, bool* exists) {
    std::string path = target;
    for (int hops = 0; hops < 40; ++hops) {
        if (lstat(path.c_str(), st) != 0) {
            if (errno != ENOENT)
                failWithErrno(target, errno);
            *exists = false;
            return path;
        }
        if (!S_ISLNK(st->st_mode)) {
            *exists = true;
            return path;
        }
        std::vector<char> link(static_cast<size_t>(st->st_size > 0 ? st->st_size : PATH_MAX) + 1);
        ssize_t n = readlink(path.c_str(), link.data(), link.size());
        if (n < 0)
            failWithErrno(target, errno);
        if (static_cast<size_t>(n) >= link.size())
            failWithErrno(target, ENAMETOOLONG);
        std::string to(link.data(), static_cast<size_t>(n));
        path = to[0] == '/' ? to : folderOf(path) + "/" + to;
    }
    failWithErrno(target, ELOOP);
}

void refuseInputs(const AtomicOutput& out, const struct stat& st,
                  const std::vector<std::string>& inputs) {
    for (const std::string& input : inputs) {
        struct stat in;
        bool known = input == "-" ? fstat(STDIN_FILENO, &in) == 0 : stat(input.c_str(), &in) == 0;
        if (known && in.st_dev == st.st_dev && in.st_ino == st.st_ino)
            fail(out.target, "is also an input (" + (input == "-" ? "standard input" : input) +
                                 "); give another output");
    }
}

const char* kindOf(mode_t mode) {
    return S_ISFIFO(mode) ? "a FIFO" : S_ISSOCK(mode) ? "a socket" : "a terminal or stream device";
}

// A device that keeps no file position (lseek always answers 0) takes a
// seeking output through an unnamed spool file, copied over at commit.
void beginSpool(AtomicOutput& out, int deviceFd, bool ownDeviceFd, const std::string& subject) {
    if (!haveProcFds()) {
        if (ownDeviceFd)
            close(deviceFd);
        fail(subject, "is a device this output cannot seek in, and there is no /proc here to "
                      "spool it; give a file name");
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = tmp && *tmp ? tmp : "/tmp";
    int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::string name = folder + "/.keo-spool-XXXXXX";
        std::vector<char> buf(name.begin(), name.end());
        buf.push_back('\0');
        fd = mkstemp(buf.data());
        if (fd >= 0)
            unlink(buf.data());
    }
    if (fd < 0) {
        int err = errno;
        if (ownDeviceFd)
            close(deviceFd);
        fail(subject, "cannot make a spool file in " + folder + ": " + std::strerror(err));
    }
    out.fd = fd;
    out.deviceFd = deviceFd;
    out.ownDeviceFd = ownDeviceFd;
    out.inPlace = false;
    out.writePath = procPath(fd);
}

bool keepsPosition(int fd) {
    off_t was = lseek(fd, 0, SEEK_CUR);
    bool keeps = was >= 0 && lseek(fd, was + 1, SEEK_SET) == was + 1;
    if (was >= 0)
        lseek(fd, was, SEEK_SET);
    return keeps;
}

int copySpool(AtomicOutput& out) {
    if (lseek(out.fd, 0, SEEK_SET) != 0)
        return errno;
    std::vector<char> buf(1 << 20);
    for (;;) {
        ssize_t n = read(out.fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return 0;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = write(out.deviceFd, buf.data() + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w < 0)
                return errno;
            if (w == 0)
                return EIO;
            done += w;
        }
    }
}

[[noreturn]] void refuseUnseekable(const std::string& subject, mode_t mode) {
    fail(subject, std::string("is ") + kindOf(mode) +
                      ", and this output needs a file it can seek in; give a file name");
}

// Standard output, written where it is.
void beginStandardOutput(AtomicOutput& out, OutputUse use, const std::vector<std::string>& inputs) {
    const std::string subject = "standard output";
    struct stat st;
    if (fstat(STDOUT_FILENO, &st) != 0)
        failWithErrno(subject, errno);
    refuseInputs(out, st, inputs);
    out.inPlace = true;
    if (use == OutputUse::Stream) {
        out.toStdout = true; // the command writes to stdout itself
        return;
    }
    if (S_ISREG(st.st_mode)) {
        int flags = fcntl(STDOUT_FILENO, F_GETFL);
        // A movie's offsets count from the start of the file; bytes before
        // it, or appended writes, would make every one of them wrong.
        if ((flags >= 0 && (flags & O_APPEND)) || lseek(STDOUT_FILENO, 0, SEEK_CUR) != 0)
            fail(subject, "is appended to or not at the start of its file; this output must "
                          "begin a file (use > rather than >>)");
    } else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
        if (isatty(STDOUT_FILENO) || lseek(STDOUT_FILENO, 0, SEEK_CUR) < 0)
            refuseUnseekable(subject, st.st_mode);
        if (!keepsPosition(STDOUT_FILENO))
            return beginSpool(out, STDOUT_FILENO, false, subject);
    } else {
        if (S_ISFIFO(st.st_mode))
            fail(subject, "is a pipe, and this output needs a file it can seek in; give a file "
                          "name or redirect to a file");
        refuseUnseekable(subject, st.st_mode);
    }
    if (!haveProcFds())
        fail(subject, "cannot be reopened here (no /proc); give a file name");
    out.writePath = procPath(STDOUT_FILENO);
}

// A device or FIFO, written where it is.
void beginInPlace(AtomicOutput& out, const std::string& path, const struct stat& st,
                  OutputUse use) {
    if (S_ISSOCK(st.st_mode))
        fail(out.target, "is a socket; keo writes files, devices and FIFOs only");
    if (S_ISFIFO(st.st_mode)) {
        if (use == OutputUse::Seek)
            refuseUnseekable(out.target, st.st_mode);
    } else if (use == OutputUse::Seek) {
        int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            failWithErrno(out.target, errno);
        if (isatty(fd) || lseek(fd, 0, SEEK_CUR) < 0) {
            close(fd);
            refuseUnseekable(out.target, st.st_mode);
        }
        if (!keepsPosition(fd))
            return beginSpool(out, fd, true, out.target);
        close(fd);
    }
    out.inPlace = true;
    out.writePath = path;
}

// A regular file or a new name: an unnamed file in the same folder, or a
// hidden one where unnamed files cannot be made or linked.
void beginFile(AtomicOutput& out, const std::string& path, const struct stat& st, bool exists) {
    if (exists) {
        // What open(O_WRONLY) would refuse is refused too, although the
        // rename would get past it: a read-only file is meant to stay.
        if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
            failWithErrno(out.target, errno);
        out.replacing = true;
        out.uid = st.st_uid;
        out.gid = st.st_gid;
        out.mode = st.st_mode & 07777;
    }
    const std::string folder = folderOf(path);
    out.name = baseOf(path);
    out.dirFd = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (out.dirFd < 0)
        failWithErrno(out.target, errno);
    if (haveProcFds()) {
        out.fd = openat(out.dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (out.fd >= 0) {
            out.writePath = procPath(out.fd);
            return;
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)
            failWithErrno(out.target, errno);
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = tempCandidate();
        int fd = openat(out.dirFd, name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            failWithErrno(out.target, errno);
        }
        out.fd = fd;
        out.tempName = name;
        out.slot = registerTemp(out.dirFd, name);
        out.writePath = folder.size() + name.size() + 2 <= PATH_MAX || !haveProcFds()
                            ? folder + "/" + name
                            : procPath(out.dirFd) + "/" + name;
        return;
    }
    failWithErrno(out.target, EEXIST);
}

void closeFds(AtomicOutput& out) {
    if (out.fd >= 0)
        close(out.fd);
    if (out.deviceFd >= 0 && out.ownDeviceFd)
        close(out.deviceFd);
    out.deviceFd = -1;
    out.ownDeviceFd = false;
    if (out.dirFd >= 0)
        close(out.dirFd);
    out.fd = -1;
    out.dirFd = -1;
}

// Links the unnamed file under a hidden name; returns errno or 0.
int linkHidden(AtomicOutput& out) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = tempCandidate();
        if (linkat(AT_FDCWD, procPath(out.fd).c_str(), out.dirFd, name.c_str(),
                   AT_SYMLINK_FOLLOW) == 0) {
            out.tempName = name;
            out.slot = registerTemp(out.dirFd, name);
            return 0;
        }
        if (errno != EEXIST)
            return errno;
    }
    return EEXIST;
}

int placeFile(AtomicOutput& out) {
    if (fsync(out.fd) != 0)
        return errno;
    if (out.replacing) {
        // Owner first: changing it clears the set-id bits that the mode
        // then puts back. A user who may not give the file away keeps it.
        if (fchown(out.fd, out.uid, out.gid) != 0)
            out.mode &= 0777;
        fchmod(out.fd, out.mode);
    }
    if (out.tempName.empty()) {
        // A new name is linked straight into place, so that no other name
        // ever exists; an existing file is replaced by a rename, which
        // needs a name to rename from.
        if (!out.replacing && linkat(AT_FDCWD, procPath(out.fd).c_str(), out.dirFd,
                                     out.name.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return 0;
        if (!out.replacing && errno != EEXIST)
            return errno;
        if (int err = linkHidden(out))
            return err;
    }
    if (renameat(out.dirFd, out.tempName.c_str(), out.dirFd, out.name.c_str()) != 0)
        return errno;
    unregisterTemp(out.slot);
    out.tempName.clear();
    return 0;
}

} // namespace

void failWithErrno(const std::string& subject, int err) {
    Failure failure(subject, std::strerror(err));
    failure.err = err;
    throw failure;
}

AtomicOutput::~AtomicOutput() {
    abandonOutput(*this);
}

void beginOutput(AtomicOutput& out, const std::string& target, OutputUse use,
                 const std::vector<std::string>& inputs) {
    abandonOutput(out);
    out.target = target;
    out.name.clear();
    out.inPlace = false;
    out.toStdout = false;
    out.replacing = false;
    if (target == "-")
        return beginStandardOutput(out, use, inputs);
    if (target.empty())
        fail("output", "the name is empty");
    if (target.back() == '/')
        failWithErrno(target, EISDIR);
    struct stat st;
    bool exists = false;
    const std::string path = followLinks(target, &st, &exists);
    if (exists) {
        if (stat(path.c_str(), &st) != 0)
            failWithErrno(target, errno);
        refuseInputs(out, st, inputs);
        if (S_ISDIR(st.st_mode))
            failWithErrno(target, EISDIR);
        if (!S_ISREG(st.st_mode))
            return beginInPlace(out, path, st, use);
    }
    beginFile(out, path, st, exists);
}

void commitOutput(AtomicOutput& out) {
    if (out.writePath.empty() || out.inPlace) {
        out.writePath.clear();
        return;
    }
    int err = out.deviceFd >= 0 ? copySpool(out) : placeFile(out);
    if (err != 0) {
        abandonOutput(out);
        failWithErrno(out.target, err);
    }
    closeFds(out);
    out.writePath.clear();
}

void abandonOutput(AtomicOutput& out) {
    if (!out.tempName.empty())
        unlinkat(out.dirFd, out.tempName.c_str(), 0);
    unregisterTemp(out.slot);
    out.tempName.clear();
    closeFds(out);
    out.writePath.clear();
}

void installOutputCleanup() {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = removeTempsAndDie;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        sigaction(sig, &sa, nullptr);
    // Past RLIMIT_FSIZE the write itself then fails with EFBIG, which is
    // reported ("File too large") and cleaned up like any failed write.
    signal(SIGXFSZ, SIG_IGN);
}

} // namespace keo::lib
