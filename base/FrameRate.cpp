// Rates as fractions: lowest terms, the nearest fraction of bounded terms,
// what a movie holds, text both ways, and the standard rates.
#include "base/FrameRate.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace keo {
namespace {

constexpr int64_t kMaxParsedPart = 1000000000; // below 2^31: a clock takes it

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

// "12.5" as 125/10, and a shorthand of a 1001-based rate as that rate.
bool parseDecimal(const std::string& text, FrameRate* r) {
    const size_t dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    const std::string frac = dot == std::string::npos ? "" : text.substr(dot + 1);
    int64_t w = 0, f = 0;
    if ((whole.empty() && frac.empty()) || (!whole.empty() && !parseWhole(whole, &w)) ||
        (!frac.empty() && !parseWhole(frac, &f)) || frac.size() > 6 ||
        (dot != std::string::npos && frac.empty()))
        return false;
    int64_t scale = 1;
    for (size_t i = 0; i < frac.size(); ++i)
        scale *= 10;
    r->num = w * scale + f;
    r->den = scale;
    if (f != 0) {
        // 29.97 stands for 30000/1001: the nearest whole rate M with
        // M x 1000/1001 within half a unit of the last digit typed.
        const double x = static_cast<double>(r->num) / r->den;
        const double m = std::round(x * 1.001);
        if (m >= 1 && std::fabs(m * 1000.0 / 1001.0 - x) < 0.5 / scale) {
            r->num = static_cast<int64_t>(m) * 1000;
            r->den = 1001;
        }
    }
    return true;
}

// c / s is exactly the whole rate n (48/2 is 24 frames per second, 49/2 is
// not: read as 24, a 24.5 fps movie would play slow and drift from its
// sound).
bool isWhole(int64_t c, int64_t s, int64_t n) {
    return s != 0 && c % s == 0 && c / s == n;
}

// |a - b| x den(a) x den(b), the distance of two positive rates scaled so
// that distances to one `a` compare as integers.
__int128 gap(FrameRate a, FrameRate b) {
    const __int128 d = static_cast<__int128>(a.num) * b.den - static_cast<__int128>(b.num) * a.den;
    return d < 0 ? -d : d;
}

} // namespace

FrameRate reduced(FrameRate r) {
    if (!isRate(r))
        return r;
    const int64_t g = std::gcd(r.num, r.den);
    return {r.num / g, r.den / g};
}

bool sameRate(FrameRate a, FrameRate b) {
    return static_cast<__int128>(a.num) * b.den == static_cast<__int128>(b.num) * a.den;
}

FrameRate closestRate(FrameRate exact, int64_t maxNum, int64_t maxDen) {
    const FrameRate x = reduced(exact);
    // Terms a 32-bit field holds at most, which keeps the comparisons below
    // inside 128 bits.
    maxNum = std::min<int64_t>(maxNum, INT32_MAX);
    maxDen = std::min<int64_t>(maxDen, INT32_MAX);
    if (!isRate(x) || maxNum < 1 || maxDen < 1 || (x.num <= maxNum && x.den <= maxDen))
        return x;
    // The continued fraction's convergents p1/q1 are the best fractions of
    // their size; past the last that fits, the best is either it or the
    // largest semiconvergent (t p1 + p0) / (t q1 + q0) that fits.
    __int128 p0 = 0, q0 = 1, p1 = 1, q1 = 0;
    __int128 n = x.num, d = x.den;
    for (;;) {
        const __int128 a = n / d;
        const __int128 p2 = a * p1 + p0, q2 = a * q1 + q0;
        if (p2 > maxNum || q2 > maxDen) {
            __int128 t = a;
            if (p1 > 0)
                t = std::min(t, (maxNum - p0) / p1);
            if (q1 > 0)
                t = std::min(t, (maxDen - q0) / q1);
            FrameRate best{static_cast<int64_t>(p1), static_cast<int64_t>(q1)};
            const FrameRate semi{static_cast<int64_t>(t * p1 + p0),
                                 static_cast<int64_t>(t * q1 + q0)};
            if (q1 == 0 || (t >= 1 && gap(x, semi) * q1 < gap(x, best) * semi.den))
                best = semi;
            // Below the least rate the terms can state, the least one.
            return best.num > 0 && best.den > 0 ? best : FrameRate{1, maxDen};
        }
        p0 = p1;
        q0 = q1;
        p1 = p2;
        q1 = q2;
        const __int128 rest = n - a * d;
        if (rest == 0)
            return {static_cast<int64_t>(p1), static_cast<int64_t>(q1)};
        n = d;
        d = rest;
    }
}

bool rateFitsMovie(FrameRate r, std::string* why) {
    if (!isRate(r)) {
        if (why)
            *why = "the rate must be above 0";
        return false;
    }
    if (r.num > INT32_MAX || r.den > INT32_MAX ||
        static_cast<__int128>(r.num) > static_cast<__int128>(kMaxMovieFramesPerSecond) * r.den) {
        if (why)
            *why = "a rate of " + frameRateText(r) +
                   " frames per second cannot be stored; a KEO movie holds at most " +
                   std::to_string(kMaxMovieFramesPerSecond) +
                   ", as a fraction whose terms are below 2^31";
        return false;
    }
    return true;
}

bool parseFrameRate(const std::string& text, FrameRate* rate, std::string* why) {
    FrameRate r;
    const size_t slash = text.find('/');
    const bool read = slash != std::string::npos ? parseWhole(text.substr(0, slash), &r.num) &&
                                                       parseWhole(text.substr(slash + 1), &r.den)
                                                 : parseDecimal(text, &r);
    if (!read) {
        *why = "'" + text + "' is not a rate like 25, 29.97 or 30000/1001";
        return false;
    }
    if (!isRate(r)) {
        *why = "the rate must be above 0, got '" + text + "'";
        return false;
    }
    r = reduced(r);
    if (r.num > kMaxParsedPart || r.den > kMaxParsedPart) {
        *why = "'" + text + "' is out of range";
        return false;
    }
    *rate = r;
    return true;
}

std::string frameRateText(FrameRate r) {
    r = reduced(r);
    char buf[64];
    if (r.den == 1)
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(r.num));
    else
        std::snprintf(buf, sizeof buf, "%.6g (%lld/%lld)", static_cast<double>(r.num) / r.den,
                      static_cast<long long>(r.num), static_cast<long long>(r.den));
    return buf;
}

int standardRateCode(int64_t c, int64_t s) {
    if (s == 0)
        return 0;
    // A pair stored as 25/2 is 12.5 frames per second: the bare "scale is
    // the rate" shortcuts only hold for a sample size of 1.
    const bool unit = s == 1;
    const __int128 wide = c;
    if ((s == 1001 && c == 24000) || (c == 2397 && s == 100) || (c == 90000 && s == 3754) ||
        (c == 23976 && s == 1000) || wide * 1000 / s == 23976)
        return 1;
    if ((unit && c == 24) || (c == 24024 && s == 1001) || (c == 90000 && s == 3750) ||
        isWhole(c, s, 24))
        return 2;
    if ((unit && c == 25) || (c == 600 && s == 24) || (c == 90000 && s == 3600) ||
        isWhole(c, s, 25))
        return 3;
    if ((s == 1001 && c == 30000) || (c == 2997 && s == 100) || (c == 29970 && s == 1000) ||
        (c == 90000 && s == 3003) || wide * 100 / s == 2997)
        return 4;
    if ((unit && c == 30) || (c == 600 && s == 20) || (c == 90000 && s == 3000) ||
        isWhole(c, s, 30))
        return 5;
    if ((unit && c == 50) || (c == 600 && s == 12) || (c == 90000 && s == 1800) ||
        isWhole(c, s, 50))
        return 6;
    if ((s == 1001 && c == 60000) || (c == 5994 && s == 100) || (c == 90000 && s == 1502) ||
        wide * 100 / s == 5994)
        return 7;
    if ((unit && c == 60) || (c == 600 && s == 10) || (c == 90000 && s == 1500) ||
        isWhole(c, s, 60))
        return 8;
    return 0;
}

FrameRate snapToStandardRate(FrameRate r) {
    if (!isRate(r))
        return r;
    const FrameRate* best = nullptr;
    for (const FrameRate& s : kStandardFrameRates) {
        // |r - s| <= s / 1000, scaled by r.den x s.den.
        if (gap(r, s) * 1000 > static_cast<__int128>(s.num) * r.den)
            continue;
        // Nearer than the best so far: gap(r, s) / s.den < gap(r, best) / best.den.
        if (!best || gap(r, s) * best->den < gap(r, *best) * s.den)
            best = &s;
    }
    return best ? *best : r;
}

} // namespace keo
