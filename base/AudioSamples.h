// Float samples to integers, as the host's audio services convert them.
//
// A float sample f in [-1, 1) stands for the n-bit integer f x 2^(n-1). The
// host rounds to nearest with halves away from zero, holds what lies beyond
// full scale at the nearest end, and makes NaN silence. Whoever must give the
// same integers the host gives (keo audio's stored samples, keomux's floats
// stored as an export stores them) converts through here.
#pragma once

#include <cmath>
#include <cstdint>

namespace keo {

inline int32_t floatToSample(float f, int bits) {
    if (std::isnan(f))
        return 0;
    const double scale = std::ldexp(1.0, bits - 1);
    const double v = std::round(static_cast<double>(f) * scale);
    if (v < -scale)
        return static_cast<int32_t>(-scale);
    if (v > scale - 1)
        return static_cast<int32_t>(scale - 1);
    return static_cast<int32_t>(v);
}

} // namespace keo
