// Frame counts to timecode.
#include "base/Timecode.h"

#include <cstdio>

namespace keo {

std::string timecodeOf(int64_t frames, FrameRate rate) {
    if (rate.num <= 0 || rate.den <= 0 || frames < 0)
        return "";
    int64_t nominal = (rate.num + rate.den / 2) / rate.den;
    if (nominal < 1)
        nominal = 1;
    const bool drop = rate.den == 1001 && (nominal == 30 || nominal == 60);
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
    const int64_t ff = n % nominal;
    const int64_t seconds = n / nominal;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld%c%02lld",
                  static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                  static_cast<long long>(seconds % 60), drop ? ';' : ':',
                  static_cast<long long>(ff));
    return buf;
}

} // namespace keo
