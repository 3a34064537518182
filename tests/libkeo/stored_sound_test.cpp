// The stored sound read with the container: every width gives back the
// integers written, with their sign, from any first sample frame across
// chunks.
#include "container/MovFile.h"
#include "libkeo/StoredSound.h"
#include "tools/TempFolder.h"

#include <gtest/gtest.h>
#include <tuple>
#include <vector>

using namespace keo::lib;

namespace {

using SoundTest = TempFolder;

// Stereo samples of `bits` little-endian, as the writer stores them, in
// two chunks of 3 and 2 sample frames.
bool writeSound(const std::string& path, int bits, const std::vector<int32_t>& samples) {
    MovFile m;
    char zuvm[] = "ZUVM";
    if (!m.openWrite(path.c_str(), zuvm, 16, 16, {25, 1}, 1, 1, 48000, 2, bits))
        return false;
    for (size_t first : {size_t{0}, size_t{6}}) {
        const size_t end = first == 0 ? 6 : samples.size();
        std::vector<unsigned char> bytes;
        for (size_t i = first; i < end; ++i)
            for (int b = 0; b < bits; b += 8)
                bytes.push_back(static_cast<unsigned char>(static_cast<uint32_t>(samples[i]) >> b));
        fwrite_L(bytes.data(), bytes.size(), 1, m.prepareToWriteAudioSample());
        m.endWriteAudioSample(static_cast<int>((end - first) / 2));
    }
    return m.close() == 0;
}

} // namespace

TEST_F(SoundTest, EveryWidthGivesBackTheStoredIntegers) {
    const struct {
        int bits;
        std::vector<int32_t> samples; // 5 stereo sample frames: extremes and near zero
    } cases[] = {
        {8, {-128, 127, -1, 0, 1, -2, 100, -100, 64, -64}},
        {16, {-32768, 32767, -1, 0, 1, -2, 12345, -12345, 256, -256}},
        {24, {-8388608, 8388607, -1, 0, 1, -2, 1234567, -1234567, 65536, -65536}},
        // The low 8 bits that the host's floats would lose are kept.
        {32, {INT32_MIN, INT32_MAX, -1, 0, 1, -2, 2058795962, -2058795963, 257, -257}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bits);
        const std::string path = file("sound.mov");
        ASSERT_TRUE(writeSound(path, c.bits, c.samples));
        StoredSound sound(path);
        EXPECT_EQ(std::make_tuple(sound.bits(), sound.channels(), sound.rate()),
                  std::make_tuple(c.bits, 2, 48000));
        ASSERT_EQ(sound.frames(), 5);
        std::vector<int32_t> all(10), tail(6);
        sound.read(0, 5, all.data());
        EXPECT_EQ(all, c.samples);
        sound.read(2, 3, tail.data());
        EXPECT_EQ(tail, std::vector<int32_t>(c.samples.begin() + 4, c.samples.end()));
    }
}
