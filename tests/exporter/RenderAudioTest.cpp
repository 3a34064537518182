// RenderAndWriteAllAudio through the stand-in host: block sizes, channel
// interleaving, byte order, and failures that must neither spin nor leak.
#include "ExportFixture.h"

#include "exporter/RenderAudio.h"

#include <cmath>
#include <cstring>

namespace {

using export_test::ExportTest;
using export_test::ReadBack;
using export_test::sourceSample;

constexpr PrTime kTicksPerSample = keo::host::kTicksPerSecond / 48000;

class AudioExportTest : public ExportTest {
protected:
    // Video is not needed here: a small movie with an audio track of the
    // export's channel count and sample size.
    void openAudioMovie(int channelType, int sampleType) {
        keo::host::setParamInt(host, "ADBEAudioNumChannels", channelType);
        keo::host::setParamInt(host, "ADBEAudioSampleType", sampleType);
        openMovie(16, 16, true, 48000, GetNumberOfAudioChannels(channelType),
                  keo::exporter::bytesPerSampleOfType(sampleType) * 8);
    }
    int renderSamples(int64_t samples) {
        return RenderAndWriteAllAudio(&exportRecord, samples * kTicksPerSample);
    }
    const std::vector<uint32_t>& blocks() { return keo::host::lastAudioRenderer(host).blockSizes; }
    void expectRendererReturned() {
        const keo::host::HostCounters c = keo::host::counters(host);
        EXPECT_EQ(c.audioRenderersMade, c.audioRenderersReleased);
        EXPECT_EQ(c.ptrsLive, 0);
    }
};

int16_t littleEndian16(const unsigned char* p) {
    return static_cast<int16_t>(p[0] | (p[1] << 8));
}

TEST(AudioHelpers, ChannelCountsAndSampleWidthsOfHostCodes) {
    EXPECT_EQ(GetNumberOfAudioChannels(1), 1);
    EXPECT_EQ(GetNumberOfAudioChannels(2), 2);
    EXPECT_EQ(GetNumberOfAudioChannels(3), 6);
    for (int other : {0, 4, -1, 100})
        EXPECT_EQ(GetNumberOfAudioChannels(other), -1) << other;
    const int widths[7] = {0, 1, 0, 2, 3, 4, 0}; // codes 0 to 6; 2 is 8-bit two's complement
    for (int code = 0; code < 7; ++code)
        EXPECT_EQ(keo::exporter::bytesPerSampleOfType(code), widths[code]) << code;
    EXPECT_EQ(WriteMarkerAndProjectDataToFile(nullptr, nullptr), 0);
}

TEST(AudioHelpers, SwapReversesEachSampleOfEveryWidth) {
    unsigned char one[3] = {1, 2, 3};
    keo::exporter::swapSampleBytes(one, 3, 1);
    EXPECT_EQ(0, std::memcmp(one, "\x01\x02\x03", 3));

    unsigned char two[4] = {0x34, 0x12, 0x78, 0x56};
    keo::exporter::swapSampleBytes(two, 2, 2);
    EXPECT_EQ(0, std::memcmp(two, "\x12\x34\x56\x78", 4));

    unsigned char three[6] = {1, 2, 3, 4, 5, 6};
    keo::exporter::swapSampleBytes(three, 2, 3);
    EXPECT_EQ(0, std::memcmp(three, "\x03\x02\x01\x06\x05\x04", 6));

    unsigned char four[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    keo::exporter::swapSampleBytes(four, 2, 4);
    EXPECT_EQ(0, std::memcmp(four, "\x04\x03\x02\x01\x08\x07\x06\x05", 8));
}

TEST_F(AudioExportTest, ZeroDurationMakesAndReleasesARendererAndWritesNothing) {
    openAudioMovie(kPrAudioChannelType_Stereo, kPrAudioSampleType_16BitInt);
    EXPECT_EQ(RenderAndWriteAllAudio(&exportRecord, 0), 0);
    // Less than one sample's worth of ticks is no sample either.
    EXPECT_EQ(RenderAndWriteAllAudio(&exportRecord, kTicksPerSample - 1), 0);
    const keo::host::HostCounters c = keo::host::counters(host);
    EXPECT_EQ(c.audioRenderersMade, 2);
    EXPECT_EQ(c.getAudioCalls, 0);
    expectRendererReturned();
    const keo::host::AudioRendererLog& log = keo::host::lastAudioRenderer(host);
    EXPECT_EQ(log.sampleType, kPrAudioSampleType_32BitFloat);
    EXPECT_EQ(log.channelType, kPrAudioChannelType_Stereo);
    EXPECT_EQ(log.sampleRate, 48000.0f);
    closeMovie();
    EXPECT_EQ(ReadBack(path).movie.audioTrackNumberOfSamples(0), 0);
}

TEST_F(AudioExportTest, OneSecondAt48kInBlocksOf1600IsThirtyChunks) {
    openAudioMovie(kPrAudioChannelType_Stereo, kPrAudioSampleType_16BitInt);
    keo::host::setMaxBlips(host, {1600});
    EXPECT_EQ(RenderAndWriteAllAudio(&exportRecord, keo::host::kTicksPerSecond), 0);
    EXPECT_EQ(blocks(), std::vector<uint32_t>(30, 1600));
    expectRendererReturned();
    closeMovie();

    ReadBack back(path);
    ASSERT_EQ(back.movie.audioTrackNumberOfSamples(0), 48000);
    const auto bytes = back.audioBytes(0, 48000);
    ASSERT_EQ(bytes.size(), 48000u * 4);
    for (int64_t i = 0; i < 48000; ++i)
        for (int c = 0; c < 2; ++c)
            ASSERT_EQ(littleEndian16(&bytes[(i * 2 + c) * 2]),
                      static_cast<int16_t>(std::lround(sourceSample(i, c) * 32768.0f)))
                << "frame " << i << " channel " << c;
}

TEST_F(AudioExportTest, BlockFollowsAShrinkingLargestBlockButNeverGrowsPastTheFirst) {
    openAudioMovie(kPrAudioChannelType_Mono, kPrAudioSampleType_16BitInt);
    keo::host::setMaxBlips(host, {1000, 600, 800, 2000});
    EXPECT_EQ(renderSamples(3000), 0);
    EXPECT_EQ(blocks(), (std::vector<uint32_t>{1000, 600, 800, 600}));
    closeMovie();
    EXPECT_EQ(ReadBack(path).movie.audioTrackNumberOfSamples(0), 3000);
}

TEST_F(AudioExportTest, SixChannelsAreInterleavedPerSampleFrame) {
    openAudioMovie(kPrAudioChannelType_51, kPrAudioSampleType_16BitInt);
    EXPECT_EQ(renderSamples(500), 0);
    closeMovie();
    ReadBack back(path);
    ASSERT_EQ(back.movie.audioTrackNumberOfChannels(0), 6);
    const auto bytes = back.audioBytes(0, 500);
    ASSERT_EQ(bytes.size(), 500u * 6 * 2);
    for (int64_t i = 0; i < 500; ++i)
        for (int c = 0; c < 6; ++c)
            ASSERT_EQ(littleEndian16(&bytes[(i * 6 + c) * 2]),
                      static_cast<int16_t>(std::lround(sourceSample(i, c) * 32768.0f)))
                << "frame " << i << " channel " << c;
}

// Every sample width survives the host's float -> integer -> float round trip
// within one step of the integer.
class SampleTypeTest : public AudioExportTest, public ::testing::WithParamInterface<int> {};

TEST_P(SampleTypeTest, SamplesComeBackWithinOneStep) {
    const int sampleType = GetParam();
    const int bytesPerSample = keo::exporter::bytesPerSampleOfType(sampleType);
    openAudioMovie(kPrAudioChannelType_Stereo, sampleType);
    keo::host::setMaxBlips(host, {700});
    ASSERT_EQ(renderSamples(2000), 0);
    closeMovie();

    ReadBack back(path);
    auto bytes = back.audioBytes(0, 2000);
    ASSERT_EQ(bytes.size(), 2000u * 2 * bytesPerSample);
    std::vector<float> left(2000), right(2000);
    float* planar[2] = {left.data(), right.data()};
    char* in = reinterpret_cast<char*>(bytes.data());
    const auto from = bytesPerSample == 1   ? s.audio->UninterleaveAndConvertFrom8BitInteger
                      : bytesPerSample == 2 ? s.audio->UninterleaveAndConvertFrom16BitInteger
                      : bytesPerSample == 3 ? s.audio->UninterleaveAndConvertFrom24BitInteger
                                            : s.audio->UninterleaveAndConvertFrom32BitInteger;
    ASSERT_EQ(from(in, planar, 2, 2000), 0);
    const double step = std::ldexp(1.0, 1 - 8 * bytesPerSample);
    for (int i = 0; i < 2000; ++i)
        for (int c = 0; c < 2; ++c)
            ASSERT_LE(std::fabs(planar[c][i] - sourceSample(i, c)), step + 1e-7)
                << "frame " << i << " channel " << c;
}

INSTANTIATE_TEST_SUITE_P(AllWidths, SampleTypeTest, ::testing::Values(1, 3, 4, 5));

// A movie whose audio is not "sowt" stores big-endian samples; the host
// converts into machine order, so every sample must be turned around.
TEST_F(AudioExportTest, NonSowtMovieGetsBigEndianSamples) {
    keo::host::setParamInt(host, "ADBEAudioNumChannels", kPrAudioChannelType_Stereo);
    keo::host::setParamInt(host, "ADBEAudioSampleType", kPrAudioSampleType_16BitInt);
    openMovie(16, 16, false);
    char twos[] = "twos";
    movie.setAudio(1, 2, 48000, 16, twos);
    ASSERT_FALSE(movie.audioBigEndian());
    EXPECT_EQ(renderSamples(300), 0);
    closeMovie();

    ReadBack back(path);
    ASSERT_STREQ(back.movie.audioType(), "twos");
    const auto bytes = back.audioBytes(0, 300);
    ASSERT_EQ(bytes.size(), 300u * 4);
    for (int64_t i = 0; i < 300; ++i)
        for (int c = 0; c < 2; ++c) {
            const unsigned char* p = &bytes[(i * 2 + c) * 2];
            ASSERT_EQ(static_cast<int16_t>((p[0] << 8) | p[1]),
                      static_cast<int16_t>(std::lround(sourceSample(i, c) * 32768.0f)))
                << "frame " << i << " channel " << c;
        }
}

TEST_F(AudioExportTest, UnsupportedCodesWriteNothingAndReturnTheRenderer) {
    openAudioMovie(kPrAudioChannelType_Stereo, kPrAudioSampleType_16BitInt);
    for (int sampleType :
         {int{kPrAudioSampleType_8BitTwosInt}, int{kPrAudioSampleType_32BitFloat}, 0, 42}) {
        keo::host::setParamInt(host, "ADBEAudioSampleType", sampleType);
        EXPECT_EQ(renderSamples(100), kKEOExportBadAudioFormat) << sampleType;
    }
    keo::host::setParamInt(host, "ADBEAudioSampleType", kPrAudioSampleType_16BitInt);
    for (int channelType : {0, 4, -1}) {
        keo::host::setParamInt(host, "ADBEAudioNumChannels", channelType);
        EXPECT_EQ(renderSamples(100), kKEOExportBadAudioFormat) << channelType;
    }
    // A movie opened for stereo 16-bit cannot take 5.1 or 24-bit blocks.
    keo::host::setParamInt(host, "ADBEAudioNumChannels", kPrAudioChannelType_51);
    EXPECT_EQ(renderSamples(100), kKEOExportBadAudioFormat);
    keo::host::setParamInt(host, "ADBEAudioNumChannels", kPrAudioChannelType_Stereo);
    keo::host::setParamInt(host, "ADBEAudioSampleType", kPrAudioSampleType_24BitInt);
    EXPECT_EQ(renderSamples(100), kKEOExportBadAudioFormat);

    EXPECT_EQ(keo::host::counters(host).getAudioCalls, 0);
    expectRendererReturned();
    closeMovie();
    EXPECT_EQ(ReadBack(path).movie.audioTrackNumberOfSamples(0), 0);
}

TEST_F(AudioExportTest, LargestBlockOfZeroFailsInsteadOfSpinning) {
    openAudioMovie(kPrAudioChannelType_Stereo, kPrAudioSampleType_16BitInt);
    keo::host::setMaxBlips(host, {0});
    EXPECT_EQ(renderSamples(1000), kKEOExportHostFailed);
    keo::host::setMaxBlips(host, {400, -5});
    EXPECT_EQ(renderSamples(1000), kKEOExportHostFailed);
    EXPECT_EQ(blocks(), std::vector<uint32_t>{400});
    expectRendererReturned();
    closeMovie();
    // The block rendered before the failure stays in the movie.
    EXPECT_EQ(ReadBack(path).movie.audioTrackNumberOfSamples(0), 400);
}

TEST_F(AudioExportTest, GetAudioFailureStopsAndKeepsTheBlocksWritten) {
    openAudioMovie(kPrAudioChannelType_Stereo, kPrAudioSampleType_16BitInt);
    keo::host::setMaxBlips(host, {1600});
    keo::host::setGetAudioFailure(host, 2, 77);
    EXPECT_EQ(renderSamples(48000), 77);
    EXPECT_EQ(blocks().size(), 3u);
    expectRendererReturned();
    closeMovie();
    EXPECT_EQ(ReadBack(path).movie.audioTrackNumberOfSamples(0), 3200);
}

TEST_F(AudioExportTest, MissingPiecesAndBadDurationsAreRefused) {
    openAudioMovie(kPrAudioChannelType_Stereo, kPrAudioSampleType_16BitInt);
    EXPECT_EQ(RenderAndWriteAllAudio(nullptr, 0), kKEOExportBadArgument);
    EXPECT_EQ(RenderAndWriteAllAudio(&exportRecord, -1), kKEOExportBadArgument);
    keo::host::setParamFloat(host, "ADBEAudioRatePerSecond", 0.0);
    EXPECT_EQ(renderSamples(10), kKEOExportBadArgument);
    rec.audioSuite = nullptr;
    EXPECT_EQ(renderSamples(10), kKEOExportBadArgument);
    EXPECT_EQ(keo::host::counters(host).audioRenderersMade, 0);
}

TEST_F(AudioExportTest, MovieWithoutAnAudioTrackTakesNoAudio) {
    openMovie(16, 16, false);
    EXPECT_EQ(RenderAndWriteAllAudio(&exportRecord, 0), 0);
    EXPECT_EQ(RenderAndWriteAllAudio(&exportRecord, keo::host::kTicksPerSecond / 10),
              kKEOExportBadAudioFormat);
    EXPECT_EQ(keo::host::counters(host).getAudioCalls, 0);
    expectRendererReturned();
}

} // namespace
