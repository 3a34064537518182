// The Audio Suite: interleaved signed integers <-> one float array per channel.
//
// Integers are in machine byte order; a 24-bit sample takes 3 bytes. An
// n-bit value v becomes v / 2^(n-1), so full scale maps to [-1, 1). The way
// back multiplies by 2^(n-1), rounds to nearest (halves away from zero) and
// clamps to the integer range; NaN becomes 0. A 32-bit value just below full
// scale does not fit a float's 24-bit mantissa and would round up to 1.0, so
// results are capped at the largest float below 1.
#include "HostState.h"
#include "base/AudioSamples.h"

#include <cmath>
#include <cstring>

namespace keo::host {
namespace {

bool machineIsLittleEndian() {
    const uint16_t probe = 1;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

int32_t loadSample(const char* p, int bytes) {
    switch (bytes) {
    case 1:
        return static_cast<int8_t>(p[0]);
    case 2: {
        int16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    case 3: {
        const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
        uint32_t v = machineIsLittleEndian() ? (u[0] | (u[1] << 8) | (u[2] << 16))
                                             : ((u[0] << 16) | (u[1] << 8) | u[2]);
        // Sign-extend from bit 23.
        return static_cast<int32_t>(v ^ 0x800000u) - 0x800000;
    }
    default: {
        int32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    }
}

void storeSample(char* p, int bytes, int32_t v) {
    switch (bytes) {
    case 1:
        p[0] = static_cast<char>(static_cast<int8_t>(v));
        break;
    case 2: {
        int16_t s = static_cast<int16_t>(v);
        std::memcpy(p, &s, 2);
        break;
    }
    case 3: {
        uint32_t u = static_cast<uint32_t>(v);
        unsigned char b[3] = {static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8),
                              static_cast<unsigned char>(u >> 16)};
        if (!machineIsLittleEndian())
            std::swap(b[0], b[2]);
        std::memcpy(p, b, 3);
        break;
    }
    default:
        std::memcpy(p, &v, 4);
        break;
    }
}

prSuiteError uninterleave(int bytes, char* in, float** out, uint32_t channels, uint32_t frames) {
    if (frames == 0 || channels == 0)
        return suiteError_NoError;
    if (!in || !out)
        return suiteError_InvalidParms;
    for (uint32_t c = 0; c < channels; ++c)
        if (!out[c])
            return suiteError_InvalidParms;
    const double scale = std::ldexp(1.0, bytes * 8 - 1);
    const float belowOne = std::nextafter(1.0f, 0.0f);
    const char* p = in;
    for (uint32_t i = 0; i < frames; ++i)
        for (uint32_t c = 0; c < channels; ++c, p += bytes) {
            float f = static_cast<float>(loadSample(p, bytes) / scale);
            out[c][i] = f < 1.0f ? f : belowOne;
        }
    return suiteError_NoError;
}

prSuiteError interleave(int bytes, float** in, char* out, uint32_t channels, uint32_t frames) {
    if (frames == 0 || channels == 0)
        return suiteError_NoError;
    if (!in || !out)
        return suiteError_InvalidParms;
    for (uint32_t c = 0; c < channels; ++c)
        if (!in[c])
            return suiteError_InvalidParms;
    char* p = out;
    for (uint32_t i = 0; i < frames; ++i)
        for (uint32_t c = 0; c < channels; ++c, p += bytes)
            storeSample(p, bytes, keo::floatToSample(in[c][i], bytes * 8));
    return suiteError_NoError;
}

template <int Bytes> prSuiteError from(char* in, float** out, uint32_t channels, uint32_t frames) {
    return uninterleave(Bytes, in, out, channels, frames);
}
template <int Bytes> prSuiteError to(float** in, char* out, uint32_t channels, uint32_t frames) {
    return interleave(Bytes, in, out, channels, frames);
}

PrSDKAudioSuite g_audioSuite = {from<1>, from<2>, from<3>, from<4>, to<1>, to<2>, to<3>, to<4>};

} // namespace

PrSDKAudioSuite* audioSuiteTable() {
    return &g_audioSuite;
}

} // namespace keo::host
