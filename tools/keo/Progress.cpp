// Progress bar drawing, and the terminal lock that keeps one bar at a time.
#include "Progress.h"

#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <unistd.h>

namespace keo::tool {
namespace {

void draw(Progress& p) {
    using namespace std::chrono;
    double seconds = duration<double>(steady_clock::now() - p.start).count();
    double fps = seconds > 0 ? static_cast<double>(p.done) / seconds : 0.0;
    char line[160];
    if (p.total > 0) {
        constexpr int kWidth = 30;
        int filled = static_cast<int>(p.done * kWidth / p.total);
        char bar[kWidth + 1];
        for (int i = 0; i < kWidth; ++i)
            bar[i] = i < filled ? '=' : (i == filled ? '>' : ' ');
        bar[kWidth] = '\0';
        std::snprintf(line, sizeof line, "\r%s [%s] %lld/%lld frames  %.1f fps\033[K",
                      p.label.c_str(), bar, static_cast<long long>(p.done),
                      static_cast<long long>(p.total), fps);
    } else {
        std::snprintf(line, sizeof line, "\r%s %lld frames  %.1f fps\033[K", p.label.c_str(),
                      static_cast<long long>(p.done), fps);
    }
    std::fputs(line, stderr);
    std::fflush(stderr);
    p.drawn = true;
    p.lastDraw = steady_clock::now();
}

} // namespace

bool claimTerminal(int fd, int* lockFd) {
    *lockFd = -1;
    const char* name = ttyname(fd);
    if (!name)
        return false;
    // Processes of one pipe share the open terminal, and a lock taken on a
    // shared open file is everyone's; a file opened anew is this process's
    // own, and the lock is on the terminal itself.
    int own = open(name, O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (own < 0)
        return false;
    if (flock(own, LOCK_EX | LOCK_NB) != 0) {
        close(own);
        return false;
    }
    *lockFd = own;
    return true;
}

Progress::~Progress() {
    if (lockFd >= 0)
        close(lockFd);
}

void progressStart(Progress& p, const std::string& label, int64_t total, bool quiet) {
    progressEnd(p);
    p.enabled = !quiet && isatty(STDERR_FILENO) && claimTerminal(STDERR_FILENO, &p.lockFd);
    p.label = label;
    p.total = total;
    p.done = 0;
    p.start = std::chrono::steady_clock::now();
    p.lastDraw = p.start;
    p.drawn = false;
}

void progressStep(Progress& p, int64_t done) {
    p.done = done;
    if (!p.enabled)
        return;
    if (!p.drawn ||
        std::chrono::steady_clock::now() - p.lastDraw >= std::chrono::milliseconds(100) ||
        (p.total > 0 && done >= p.total))
        draw(p);
}

void progressPause(Progress& p) {
    if (p.enabled && p.drawn) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        p.drawn = false;
    }
}

void progressEnd(Progress& p) {
    if (p.enabled && p.drawn) {
        draw(p);
        std::fputc('\n', stderr);
    }
    p.enabled = false;
    p.drawn = false;
    if (p.lockFd >= 0)
        close(p.lockFd);
    p.lockFd = -1;
}

namespace {

// `run` (an export) with the bar drawn as its frames are written.
keo::lib::ExportStats
withProgress(const keo::lib::ExportSettings& settings, int64_t expected, bool quiet,
             const std::function<keo::lib::ExportStats(const keo::lib::ExportSettings&)>& run) {
    Progress progress;
    progressStart(progress, "export", expected, quiet);
    keo::lib::ExportSettings s = settings;
    s.onFrameWritten = [&progress](int64_t written) { progressStep(progress, written); };
    try {
        keo::lib::ExportStats stats = run(s);
        progressEnd(progress);
        return stats;
    } catch (...) {
        progressEnd(progress);
        throw;
    }
}

} // namespace

keo::lib::ExportStats exportWithProgress(const keo::lib::ExportSettings& settings,
                                         const keo::lib::FrameFeed& frames,
                                         const keo::lib::AudioFeed& audio, int64_t expected,
                                         bool quiet) {
    return withProgress(settings, expected, quiet, [&](const keo::lib::ExportSettings& s) {
        return keo::lib::exportMovie(s, frames, audio);
    });
}

keo::lib::ExportStats exportWithProgress(const keo::lib::ExportSettings& settings,
                                         const keo::lib::PictureSource& pictures,
                                         const keo::lib::AudioFeed& audio, int64_t expected,
                                         bool quiet) {
    return withProgress(settings, expected, quiet, [&](const keo::lib::ExportSettings& s) {
        return keo::lib::exportMovie(s, pictures, audio);
    });
}

} // namespace keo::tool
