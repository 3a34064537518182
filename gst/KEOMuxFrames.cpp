// Slots, and rates from timestamps.
#include "gst/KEOMuxFrames.h"

#include <gst/gst.h>

#include <cmath>

namespace {

constexpr int64_t kSecond = 1000000000;

// ns x num / (den x 1e9) rounded to nearest, halves up, for either sign.
int64_t slotsIn(int64_t ns, keo::FrameRate rate) {
    const __int128 scaled = static_cast<__int128>(ns) * rate.num * 2;
    const __int128 unit = static_cast<__int128>(rate.den) * kSecond * 2;
    // floor((2 x ns x num + unit / 2) / unit)
    __int128 q = (scaled + unit / 2) / unit;
    if ((scaled + unit / 2) % unit < 0)
        q -= 1;
    return static_cast<int64_t>(q);
}

} // namespace

bool KEOMeasuredRate(double fps, keo::FrameRate* rate) {
    int num = 0, den = 1;
    gst_util_double_to_fraction(fps, &num, &den);
    const keo::FrameRate measured{num, den};
    if (!keo::isRate(measured))
        return false;
    *rate = keo::snapToStandardRate(measured);
    return true;
}

int64_t KEOSlotAt(int64_t ns, int64_t zeroNs, keo::FrameRate rate) {
    return slotsIn(ns - zeroNs, rate);
}

int64_t KEOSlotStart(int64_t slot, int64_t zeroNs, keo::FrameRate rate) {
    return zeroNs +
           static_cast<int64_t>(static_cast<__int128>(slot) * rate.den * kSecond / rate.num);
}

bool KEORateOfTimes(const std::vector<int64_t>& times, keo::FrameRate* rate) {
    const size_t n = times.size();
    if (n < 2)
        return false;
    // Least squares of time against frame number, in times from the first.
    long double meanI = (n - 1) / 2.0L, meanT = 0;
    for (int64_t t : times)
        meanT += static_cast<long double>(t - times[0]) / n;
    long double cov = 0, var = 0;
    for (size_t i = 0; i < n; ++i) {
        const long double di = i - meanI;
        cov += di * (static_cast<long double>(times[i] - times[0]) - meanT);
        var += di * di;
    }
    if (!(cov > 0))
        return false;
    const double fps = static_cast<double>(kSecond * var / cov);
    return KEOMeasuredRate(fps, rate) && keo::rateFitsMovie(*rate);
}

bool KEOTimesFitRate(const std::vector<int64_t>& times, keo::FrameRate rate, size_t* worst) {
    *worst = 0;
    if (times.empty() || !keo::rateFitsMovie(rate))
        return times.empty();
    // The slots' best place: the mean of each frame's time less its slot's.
    const long double frame = static_cast<long double>(kSecond) * rate.den / rate.num;
    long double origin = 0;
    for (size_t i = 0; i < times.size(); ++i)
        origin += (static_cast<long double>(times[i] - times[0]) - i * frame) / times.size();
    long double far = -1;
    for (size_t i = 0; i < times.size(); ++i) {
        const long double off =
            std::fabs(static_cast<long double>(times[i] - times[0]) - origin - i * frame);
        if (off > far) {
            far = off;
            *worst = i;
        }
    }
    return far < frame / 2;
}
