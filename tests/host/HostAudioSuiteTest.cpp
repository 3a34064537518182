// The Audio Suite: integer <-> float conversions, rounding, clamping, round trips.
#include "HostFixture.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

using namespace keo::host;

namespace {

// Interleaved samples of `bytes` each in machine order (24-bit: low 3 bytes).
std::vector<char> interleaved(const std::vector<int32_t>& values, int bytes) {
    std::vector<char> out(values.size() * bytes);
    for (size_t i = 0; i < values.size(); ++i) {
        if (bytes == 3) {
            uint32_t u = static_cast<uint32_t>(values[i]);
            out[i * 3] = static_cast<char>(u);
            out[i * 3 + 1] = static_cast<char>(u >> 8);
            out[i * 3 + 2] = static_cast<char>(u >> 16);
        } else if (bytes == 1) {
            out[i] = static_cast<char>(values[i]);
        } else if (bytes == 2) {
            int16_t v = static_cast<int16_t>(values[i]);
            std::memcpy(&out[i * 2], &v, 2);
        } else {
            std::memcpy(&out[i * 4], &values[i], 4);
        }
    }
    return out;
}

int32_t sampleAt(const std::vector<char>& buf, size_t i, int bytes) {
    if (bytes == 1)
        return static_cast<int8_t>(buf[i]);
    if (bytes == 2) {
        int16_t v;
        std::memcpy(&v, &buf[i * 2], 2);
        return v;
    }
    if (bytes == 3) {
        const unsigned char* u = reinterpret_cast<const unsigned char*>(&buf[i * 3]);
        int32_t v = u[0] | (u[1] << 8) | (u[2] << 16);
        return v >= 0x800000 ? v - 0x1000000 : v;
    }
    int32_t v;
    std::memcpy(&v, &buf[i * 4], 4);
    return v;
}

using From = prSuiteError (*)(char*, float**, uint32_t, uint32_t);
using To = prSuiteError (*)(float**, char*, uint32_t, uint32_t);

} // namespace

TEST_F(HostTest, IntegersBecomeFloatsPerChannel) {
    From from[4] = {s.audio->UninterleaveAndConvertFrom8BitInteger,
                    s.audio->UninterleaveAndConvertFrom16BitInteger,
                    s.audio->UninterleaveAndConvertFrom24BitInteger,
                    s.audio->UninterleaveAndConvertFrom32BitInteger};
    for (int bytes = 1; bytes <= 4; ++bytes) {
        const int64_t full = int64_t(1) << (bytes * 8 - 1);
        // Two channels, three frames: (min, max), (0, 1), (-1, half).
        std::vector<int32_t> v = {int32_t(-full), int32_t(full - 1), 0, 1, -1, int32_t(full / 2)};
        std::vector<char> in = interleaved(v, bytes);
        float left[3], right[3];
        float* out[2] = {left, right};
        ASSERT_EQ(from[bytes - 1](in.data(), out, 2, 3), 0);
        EXPECT_EQ(left[0], -1.0f) << bytes;
        EXPECT_LT(right[0], 1.0f) << bytes;
        EXPECT_GT(right[0], 0.99f) << bytes;
        EXPECT_EQ(left[1], 0.0f);
        EXPECT_FLOAT_EQ(right[1], static_cast<float>(1.0 / full));
        EXPECT_FLOAT_EQ(left[2], static_cast<float>(-1.0 / full));
        EXPECT_EQ(right[2], 0.5f);
    }
}

TEST_F(HostTest, FloatsBecomeIntegersRoundedAndClamped) {
    To to[4] = {
        s.audio->ConvertAndInterleaveTo8BitInteger, s.audio->ConvertAndInterleaveTo16BitInteger,
        s.audio->ConvertAndInterleaveTo24BitInteger, s.audio->ConvertAndInterleaveTo32BitInteger};
    for (int bytes = 1; bytes <= 4; ++bytes) {
        const double full = std::ldexp(1.0, bytes * 8 - 1);
        const float step = static_cast<float>(1.0 / full);
        float mono[] = {1.0f,         2.5f,        -1.0f,
                        -3.0f,        1.4f * step, 1.5f * step,
                        -1.5f * step, 0.0f,        std::numeric_limits<float>::quiet_NaN()};
        float* in[1] = {mono};
        std::vector<char> out(9 * bytes);
        ASSERT_EQ(to[bytes - 1](in, out.data(), 1, 9), 0);
        const int32_t max = static_cast<int32_t>(full - 1), min = static_cast<int32_t>(-full);
        EXPECT_EQ(sampleAt(out, 0, bytes), max) << bytes;
        EXPECT_EQ(sampleAt(out, 1, bytes), max) << bytes;
        EXPECT_EQ(sampleAt(out, 2, bytes), min) << bytes;
        EXPECT_EQ(sampleAt(out, 3, bytes), min) << bytes;
        if (bytes < 4) { // at 32 bits one step is below a float's resolution near 0
            EXPECT_EQ(sampleAt(out, 4, bytes), 1) << bytes;
            EXPECT_EQ(sampleAt(out, 5, bytes), 2) << bytes;
            EXPECT_EQ(sampleAt(out, 6, bytes), -2) << bytes;
        }
        EXPECT_EQ(sampleAt(out, 7, bytes), 0);
        EXPECT_EQ(sampleAt(out, 8, bytes), 0) << "NaN";
    }
}

TEST_F(HostTest, InterleavingPutsChannelsSideBySide) {
    float a[2] = {0.5f, -0.5f}, b[2] = {0.25f, -0.25f}, c[2] = {0.0f, 0.125f};
    float* in[3] = {a, b, c};
    std::vector<char> out(2 * 3 * 2);
    ASSERT_EQ(s.audio->ConvertAndInterleaveTo16BitInteger(in, out.data(), 3, 2), 0);
    const int32_t expected[6] = {16384, 8192, 0, -16384, -8192, 4096};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(sampleAt(out, i, 2), expected[i]) << i;
}

TEST_F(HostTest, IntegerFloatIntegerRoundTripIsExactUpTo24Bits) {
    From from[3] = {s.audio->UninterleaveAndConvertFrom8BitInteger,
                    s.audio->UninterleaveAndConvertFrom16BitInteger,
                    s.audio->UninterleaveAndConvertFrom24BitInteger};
    To to[3] = {s.audio->ConvertAndInterleaveTo8BitInteger,
                s.audio->ConvertAndInterleaveTo16BitInteger,
                s.audio->ConvertAndInterleaveTo24BitInteger};
    for (int bytes = 1; bytes <= 3; ++bytes) {
        const int32_t full = 1 << (bytes * 8 - 1);
        std::vector<int32_t> values;
        const int32_t stride = bytes == 3 ? 97 : 1; // every 8/16-bit value, a spread of 24-bit
        for (int32_t v = -full; v < full; v += stride)
            values.push_back(v);
        values.push_back(full - 1);
        std::vector<char> in = interleaved(values, bytes);
        std::vector<float> floats(values.size());
        float* planes[1] = {floats.data()};
        uint32_t n = static_cast<uint32_t>(values.size());
        ASSERT_EQ(from[bytes - 1](in.data(), planes, 1, n), 0);
        std::vector<char> back(in.size());
        ASSERT_EQ(to[bytes - 1](planes, back.data(), 1, n), 0);
        EXPECT_EQ(back, in) << bytes;
    }
}

TEST_F(HostTest, ThirtyTwoBitRoundTripStaysWithinFloatPrecision) {
    std::vector<int32_t> values = {INT32_MIN, INT32_MAX, 0, 123456789, -987654321, 1 << 20};
    std::vector<char> in = interleaved(values, 4);
    std::vector<float> floats(values.size());
    float* planes[1] = {floats.data()};
    s.audio->UninterleaveAndConvertFrom32BitInteger(in.data(), planes, 1, 6);
    for (float f : floats)
        EXPECT_LT(f, 1.0f);
    std::vector<char> back(in.size());
    s.audio->ConvertAndInterleaveTo32BitInteger(planes, back.data(), 1, 6);
    for (size_t i = 0; i < values.size(); ++i)
        EXPECT_NEAR(sampleAt(back, i, 4), values[i], 128.0) << i;
    EXPECT_EQ(sampleAt(back, 0, 4), INT32_MIN);
    EXPECT_EQ(sampleAt(back, 2, 4), 0);
}

TEST_F(HostTest, ConversionRefusesMissingBuffers) {
    char bytes[4] = {};
    float plane[2];
    float* planes[2] = {plane, nullptr};
    EXPECT_NE(s.audio->UninterleaveAndConvertFrom16BitInteger(bytes, planes, 2, 1), 0);
    EXPECT_NE(s.audio->ConvertAndInterleaveTo16BitInteger(planes, bytes, 2, 1), 0);
    EXPECT_NE(s.audio->UninterleaveAndConvertFrom8BitInteger(nullptr, planes, 1, 1), 0);
    // Nothing to convert needs no buffers.
    EXPECT_EQ(s.audio->UninterleaveAndConvertFrom8BitInteger(nullptr, nullptr, 2, 0), 0);
}
