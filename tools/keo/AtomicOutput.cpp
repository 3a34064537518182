// Temporary-then-rename output, and removal of temporaries on a signal.
#include "AtomicOutput.h"

#include "Failure.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace keo::tool {
namespace {

// The signal handler may only touch plain memory, so live temporaries are
// kept in fixed slots rather than in a std::vector.
constexpr int kSlots = 8;
constexpr size_t kPathMax = 4096;
char g_tempPaths[kSlots][kPathMax];
volatile sig_atomic_t g_slotUsed[kSlots];

int registerTemp(const std::string& path) {
    if (path.size() >= kPathMax)
        return -1;
    for (int i = 0; i < kSlots; ++i)
        if (!g_slotUsed[i]) {
            std::memcpy(g_tempPaths[i], path.c_str(), path.size() + 1);
            g_slotUsed[i] = 1;
            return i;
        }
    return -1;
}

void unregisterTemp(int slot) {
    if (slot >= 0 && slot < kSlots)
        g_slotUsed[slot] = 0;
}

extern "C" void removeTempsAndDie(int sig) {
    for (int i = 0; i < kSlots; ++i)
        if (g_slotUsed[i])
            unlink(g_tempPaths[i]);
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

} // namespace

AtomicOutput::~AtomicOutput() {
    abandonOutput(*this);
}

void beginOutput(AtomicOutput& out, const std::string& target) {
    abandonOutput(out);
    if (target.empty() || target.back() == '/')
        fail(target.empty() ? "output" : target, "not a file name");
    struct stat st;
    if (stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        fail(target, "is a folder, not a file");
    std::string pattern = folderOf(target) + "/." + baseOf(target) + ".keo-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0)
        fail(target, std::string("cannot create a file there: ") + std::strerror(errno));
    // mkstemp makes the file private (0600); a finished output should get
    // the permissions any newly created file would.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    out.target = target;
    out.temp = name.data();
    out.slot = registerTemp(out.temp);
}

void commitOutput(AtomicOutput& out) {
    if (out.temp.empty())
        return;
    if (std::rename(out.temp.c_str(), out.target.c_str()) != 0) {
        int err = errno;
        abandonOutput(out);
        fail(out.target,
             std::string("cannot move the finished file into place: ") + std::strerror(err));
    }
    unregisterTemp(out.slot);
    out.slot = -1;
    out.temp.clear();
}

void abandonOutput(AtomicOutput& out) {
    if (out.temp.empty())
        return;
    unlink(out.temp.c_str());
    unregisterTemp(out.slot);
    out.slot = -1;
    out.temp.clear();
}

void installOutputCleanup() {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = removeTempsAndDie;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
}

} // namespace keo::tool
