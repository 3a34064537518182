// Unit tests of keo's own pieces: the progress bar, natural order of file
// names, the test pattern's frame numbers and the WAV writer and reader.
#include "Progress.h"
#include "Stills.h"
#include "TempFolder.h"
#include "TestPattern.h"
#include "Wav.h"
#include "libkeo/Failure.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <pty.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace keo::tool;
using namespace keo::lib;

TEST(Progress, OneBarAtATimeOnATerminal) {
    // Two commands of one pipe share the terminal: the first to claim it
    // draws, the other stays silent until the first is done.
    int master = -1, terminal = -1;
    if (openpty(&master, &terminal, nullptr, nullptr, nullptr) != 0)
        GTEST_SKIP() << "no pseudo-terminal here";
    int first = -1, second = -1;
    EXPECT_TRUE(claimTerminal(terminal, &first));
    EXPECT_FALSE(claimTerminal(terminal, &second));
    EXPECT_EQ(second, -1);
    close(first);
    EXPECT_TRUE(claimTerminal(terminal, &second));
    close(second);
    int notTerminal[2];
    ASSERT_EQ(pipe(notTerminal), 0);
    EXPECT_FALSE(claimTerminal(notTerminal[1], &first));
    close(notTerminal[0]);
    close(notTerminal[1]);
    close(terminal);
    close(master);
}

TEST(NaturalOrder, NumbersCompareByValue) {
    std::vector<std::string> names = {"frame10.png", "frame2.png", "frame1.png", "frame02.png",
                                      "a.png",       "frame.png",  "b9c10.png",  "b9c9.png"};
    std::sort(names.begin(), names.end(), naturalLess);
    EXPECT_EQ(names,
              (std::vector<std::string>{"a.png", "b9c9.png", "b9c10.png", "frame.png", "frame1.png",
                                        "frame02.png", "frame2.png", "frame10.png"}));
    EXPECT_FALSE(naturalLess("x", "x"));
    EXPECT_TRUE(naturalLess("shot_099", "shot_100"));
}

TEST(TestPattern, FrameNumbersReadBack) {
    const int w = 160, h = 96;
    std::vector<uint8_t> rgba(w * h * 4);
    for (int64_t n : {0, 1, 2, 25, 4095, 65535}) {
        renderPattern(n, w, h, rgba.data());
        EXPECT_EQ(readPatternNumber(rgba.data(), w, h), n);
    }
    std::vector<uint8_t> small(64 * 64 * 4);
    renderPattern(3, 64, 64, small.data());
    EXPECT_EQ(readPatternNumber(small.data(), 64, 64), -1);
    std::vector<uint8_t> grey(rgba.size(), 128);
    EXPECT_EQ(readPatternNumber(grey.data(), w, h), -1);
}

TEST_F(TempFolder, WavPcmSamplesReadBackExactly) {
    const std::string path = dir + "/six.wav";
    const int channels = 6, frames = 50;
    std::vector<int32_t> samples(channels * frames);
    for (size_t k = 0; k < samples.size(); ++k)
        samples[k] = static_cast<int32_t>((k * 104729) % (1 << 24)) - (1 << 23);
    samples[0] = -(1 << 23);
    samples[1] = (1 << 23) - 1;
    {
        WavWriter wav;
        createWav(wav, path, channels, 48000, 24);
        writeWavPcm(wav, samples.data(), 20);
        writeWavPcm(wav, samples.data() + 20 * channels, frames - 20);
        finishWav(wav);
    }
    WavReader in;
    openWav(in, path);
    EXPECT_EQ(in.channels, channels);
    EXPECT_EQ(in.rate, 48000);
    EXPECT_EQ(in.bits, 24);
    EXPECT_FALSE(in.isFloat);
    EXPECT_EQ(in.frames, frames);
    // Ask past the end: those frames are silent.
    const uint32_t want = frames + 10;
    std::vector<std::vector<float>> planes(channels, std::vector<float>(want, 7.0f));
    std::vector<float*> planar;
    for (auto& p : planes)
        planar.push_back(p.data());
    EXPECT_TRUE(readWavPlanar(in, 0, want, channels, planar.data()));
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            ASSERT_EQ(planes[c][i], samples[i * channels + c] / 8388608.0f) << i << " " << c;
    for (uint32_t i = frames; i < want; ++i)
        EXPECT_EQ(planes[0][i], 0.0f);
}

TEST_F(TempFolder, EightBitWavIsUnsignedOnDiskAndSignedInMemory) {
    const std::string path = dir + "/eight.wav";
    std::vector<int32_t> samples = {-128, 127, 0, -1};
    {
        WavWriter wav;
        createWav(wav, path, 1, 8000, 8);
        writeWavPcm(wav, samples.data(), 4);
        finishWav(wav);
    }
    std::ifstream raw(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(raw)),
                            std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 4u);
    const unsigned char* data =
        reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size() - 4;
    EXPECT_EQ(data[0], 0);
    EXPECT_EQ(data[1], 255);
    EXPECT_EQ(data[2], 128);
    EXPECT_EQ(data[3], 127);
    WavReader in;
    openWav(in, path);
    EXPECT_EQ(in.bits, 8);
    float v[4];
    float* planar[1] = {v};
    EXPECT_TRUE(readWavPlanar(in, 0, 4, 1, planar));
    EXPECT_EQ(v[0], -1.0f);
    EXPECT_EQ(v[1], 127 / 128.0f);
    EXPECT_EQ(v[3], -1 / 128.0f);
}

TEST_F(TempFolder, UnreadableWavFails) {
    const std::string path = dir + "/bad.wav";
    std::ofstream(path) << "RIFF but not really";
    WavReader in;
    EXPECT_THROW(openWav(in, path), Failure);
    EXPECT_THROW(openWav(in, dir + "/none.wav"), Failure);
}
