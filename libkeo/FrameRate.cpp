// Frame-rate parsing.
#include "libkeo/FrameRate.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace keo::lib {
namespace {

constexpr int64_t kMaxRatePart = 1000000000; // below 2^31: a clock takes it

bool parseWhole(const std::string& s, int64_t* v) {
    if (s.empty() || s.size() > 10)
        return false;
    int64_t n = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    *v = n;
    return true;
}

void reduce(FrameRate* r) {
    int64_t g = std::gcd(r->num, r->den);
    if (g > 1) {
        r->num /= g;
        r->den /= g;
    }
}

} // namespace

bool parseFrameRate(const std::string& text, FrameRate* rate, std::string* why) {
    FrameRate r;
    size_t slash = text.find('/');
    if (slash != std::string::npos) {
        if (!parseWhole(text.substr(0, slash), &r.num) ||
            !parseWhole(text.substr(slash + 1), &r.den)) {
            *why = "'" + text + "' is not a rate like 25, 29.97 or 30000/1001";
            return false;
        }
    } else {
        size_t dot = text.find('.');
        std::string whole = text.substr(0, dot);
        std::string frac = dot == std::string::npos ? "" : text.substr(dot + 1);
        int64_t w = 0, f = 0;
        if ((whole.empty() && frac.empty()) || (!whole.empty() && !parseWhole(whole, &w)) ||
            (!frac.empty() && !parseWhole(frac, &f)) || frac.size() > 6 ||
            (dot != std::string::npos && frac.empty())) {
            *why = "'" + text + "' is not a rate like 25, 29.97 or 30000/1001";
            return false;
        }
        int64_t scale = 1;
        for (size_t i = 0; i < frac.size(); ++i)
            scale *= 10;
        r.num = w * scale + f;
        r.den = scale;
        if (f != 0) {
            // 29.97 stands for 30000/1001: the nearest whole rate M with
            // M x 1000/1001 within half a unit of the last digit typed.
            double x = static_cast<double>(r.num) / r.den;
            double m = std::round(x * 1.001);
            if (m >= 1 && std::fabs(m * 1000.0 / 1001.0 - x) < 0.5 / scale) {
                r.num = static_cast<int64_t>(m) * 1000;
                r.den = 1001;
            }
        }
    }
    if (r.num <= 0 || r.den <= 0) {
        *why = "the rate must be above 0, got '" + text + "'";
        return false;
    }
    reduce(&r);
    if (r.num > kMaxRatePart || r.den > kMaxRatePart) {
        *why = "'" + text + "' is out of range";
        return false;
    }
    *rate = r;
    return true;
}

bool storedRate(const FrameRate& rate, QuicktimeRate* stored, std::string* why) {
    const QuicktimeRate r{static_cast<int32_t>(rate.num), static_cast<int32_t>(rate.den)};
    if (rate.num <= 0 || rate.den <= 0) {
        *why = "the rate must be above 0";
        return false;
    }
    if (rate.num > INT32_MAX || rate.den > INT32_MAX || !QuicktimeRateFits(r)) {
        *why = "a rate of " + frameRateText(rate) +
               " frames per second cannot be stored; a KEO movie holds at most " +
               std::to_string(kQuicktimeMaxFramesPerSecond) +
               ", as a fraction whose parts are below 2^31";
        return false;
    }
    *stored = r;
    return true;
}

FrameClock frameClock(const FrameRate& rate, int64_t ticksPerSecond) {
    // Both parts are at most kMaxRatePart, so they fit the clock's 32 bits.
    return {ticksPerSecond, static_cast<int32_t>(rate.num), static_cast<int32_t>(rate.den)};
}

int64_t ticksPerFrame(const FrameRate& rate, int64_t ticksPerSecond) {
    return nominalTicksPerFrame(frameClock(rate, ticksPerSecond));
}

std::string frameRateText(const FrameRate& rate) {
    char buf[64];
    if (rate.den == 1)
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(rate.num));
    else
        std::snprintf(buf, sizeof buf, "%.6g (%lld/%lld)", static_cast<double>(rate.num) / rate.den,
                      static_cast<long long>(rate.num), static_cast<long long>(rate.den));
    return buf;
}

} // namespace keo::lib
