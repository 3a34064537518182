// Frame counts to timecode.
#include "base/Timecode.h"

#include <cstdio>

namespace keo {
namespace {

std::string format(int64_t seconds, int64_t ff, bool drop) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld%c%02lld",
                  static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                  static_cast<long long>(seconds % 60), drop ? ';' : ':',
                  static_cast<long long>(ff));
    return buf;
}

// Frames counted at the whole rate `nominal`, numbers skipped where `drop`.
std::string countedAt(int64_t frames, int64_t nominal, bool drop) {
    int64_t n = frames;
    if (drop) {
        const int64_t skipped = nominal / 15; // 2 at 29.97, 4 at 59.94
        const int64_t perMinute = nominal * 60 - skipped;
        const int64_t perTenMinutes = nominal * 600 - skipped * 9;
        const int64_t tens = n / perTenMinutes, rest = n % perTenMinutes;
        n += skipped * 9 * tens;
        if (rest > skipped)
            n += skipped * ((rest - skipped) / perMinute);
    }
    return format(n / nominal, n % nominal, drop);
}

} // namespace

std::string timecodeOf(int64_t frames, FrameRate rate) {
    const FrameRate r = reduced(rate);
    if (!isRate(r) || frames < 0)
        return "";
    if (r.den == 1)
        return countedAt(frames, r.num, false);
    if (r.den == 1001 && r.num % 1000 == 0) {
        const int64_t nominal = r.num / 1000;
        return countedAt(frames, nominal, nominal == 30 || nominal == 60);
    }
    // The second that frame `frames` starts in, and the first frame that
    // starts within it: ceil(second x rate).
    const __int128 seconds = static_cast<__int128>(frames) * r.den / r.num;
    const __int128 first = (seconds * r.num + r.den - 1) / r.den;
    return format(static_cast<int64_t>(seconds), static_cast<int64_t>(frames - first), false);
}

} // namespace keo
