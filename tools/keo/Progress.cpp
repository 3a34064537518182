// Progress bar drawing.
#include "Progress.h"

#include <cstdio>
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
        std::snprintf(line, sizeof line, "\r%s [%s] %lld/%lld frames  %.1f fps ", p.label.c_str(),
                      bar, static_cast<long long>(p.done), static_cast<long long>(p.total), fps);
    } else {
        std::snprintf(line, sizeof line, "\r%s %lld frames  %.1f fps ", p.label.c_str(),
                      static_cast<long long>(p.done), fps);
    }
    std::fputs(line, stderr);
    std::fflush(stderr);
    p.drawn = true;
    p.lastDraw = steady_clock::now();
}

} // namespace

void progressStart(Progress& p, const std::string& label, int64_t total) {
    p.enabled = isatty(STDERR_FILENO) != 0;
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
    if (std::chrono::steady_clock::now() - p.lastDraw >= std::chrono::milliseconds(100) ||
        (p.total > 0 && done >= p.total))
        draw(p);
}

void progressEnd(Progress& p) {
    if (p.enabled && p.drawn) {
        draw(p);
        std::fputc('\n', stderr);
    }
    p.enabled = false;
    p.drawn = false;
}

} // namespace keo::tool
