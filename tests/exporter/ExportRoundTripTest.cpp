// A whole export: frames and audio rendered by the stand-in host, written
// into one movie, closed, and read back with the movie reader.
#include "ExportFixture.h"

#include <cmath>

namespace {

using export_test::ExportTest;
using export_test::ReadBack;
using export_test::sourceSample;

struct Layout {
    const char* name;
    int transparency, optimizeFor;
    int isDXT24, hasAlpha;
    double floor; // dB; a little under what the seeded pictures give
};

class ExportRoundTrip : public ExportTest, public ::testing::WithParamInterface<Layout> {};

TEST_P(ExportRoundTrip, FramesAndAudioReadBackCloseToTheSource) {
    const Layout layout = GetParam();
    const int width = 98, height = 66, frameCount = 5;
    const int64_t samples = 48000 / 30 * frameCount;
    keo::host::setParamInt(host, "KEOTransparency", layout.transparency);
    keo::host::setParamInt(host, "KEOOptimizeFor", layout.optimizeFor);
    keo::host::setParamInt(host, "KEOEncodeThreads", 2);
    frames.varyAlpha = layout.hasAlpha != 0;
    openMovie(width, height, true, 48000, 2, 16);

    // Audio lands between frames, as an exporter may interleave them.
    for (int n = 0; n < 3; ++n)
        ASSERT_EQ(frameAt(n), 0) << n;
    ASSERT_EQ(RenderAndWriteAllAudio(&exportRecord, samples * (keo::host::kTicksPerSecond / 48000)),
              0);
    for (int n = 3; n < frameCount; ++n)
        ASSERT_EQ(frameAt(n), 0) << n;
    closeMovie();

    ReadBack back(path);
    ASSERT_EQ(back.frames(), frameCount);
    for (int n = 0; n < frameCount; ++n) {
        const KEOFrameHeader h = back.header(n);
        EXPECT_EQ(h.isDXT24, layout.isDXT24) << n;
        EXPECT_EQ(h.hasAlpha, layout.hasAlpha) << n;
        EXPECT_EQ(back.sample(n),
                  export_test::expectedSample(timeOf(n), width, height, frames.varyAlpha,
                                              layout.transparency, layout.optimizeFor))
            << n;
        const auto decoded = back.decodeFrame(n, width, height);
        ASSERT_FALSE(decoded.empty()) << n;
        const auto source = export_test::sourceARGB(timeOf(n), width, height, frames.varyAlpha);
        const size_t pixels = static_cast<size_t>(width) * height;
        EXPECT_GT(encode_test::psnr(source.data(), decoded.data(), pixels), layout.floor) << n;
        if (layout.hasAlpha) {
            EXPECT_GT(encode_test::psnr(source.data(), decoded.data(), pixels, true), 40.0) << n;
        }
    }

    ASSERT_EQ(back.movie.audioTrackNumberOfSamples(0), samples);
    auto bytes = back.audioBytes(0, static_cast<long>(samples));
    ASSERT_EQ(bytes.size(), static_cast<size_t>(samples) * 4);
    std::vector<float> left(samples), right(samples);
    float* planar[2] = {left.data(), right.data()};
    ASSERT_EQ(s.audio->UninterleaveAndConvertFrom16BitInteger(
                  reinterpret_cast<char*>(bytes.data()), planar, 2, static_cast<uint32_t>(samples)),
              0);
    for (int64_t i = 0; i < samples; ++i)
        for (int c = 0; c < 2; ++c)
            ASSERT_LE(std::fabs(planar[c][i] - sourceSample(i, c)), 1.0 / 32768 + 1e-7)
                << "frame " << i << " channel " << c;
}

INSTANTIATE_TEST_SUITE_P(Layouts, ExportRoundTrip,
                         ::testing::Values(Layout{"DXT24", 0, 0, 1, 0, 36.5},
                                           Layout{"DXT1", 0, 1, 0, 0, 35.0},
                                           Layout{"DXT5", 1, 0, 0, 1, 35.0}),
                         [](const ::testing::TestParamInfo<Layout>& info) {
                             return std::string(info.param.name);
                         });

} // namespace

#include "ImporterReadBack.h"

namespace {

// The same export read back by the importer module, as the host would see
// it: frame size, rate and audio format first, then frames and audio.
TEST_F(ExportTest, ImporterReadsTheExportBack) {
    const int width = 120, height = 68, frameCount = 4;
    const int64_t samples = 48000 / 30 * frameCount;
    keo::host::setParamInt(host, "ADBEAudioNumChannels", kPrAudioChannelType_51);
    openMovie(width, height, true, 48000, 6, 16);
    for (int n = 0; n < frameCount; ++n)
        ASSERT_EQ(frameAt(n), 0) << n;
    ASSERT_EQ(RenderAndWriteAllAudio(&exportRecord, samples * (keo::host::kTicksPerSecond / 48000)),
              0);
    closeMovie();

    export_test::ImporterReadBack imported(host, path);
    ASSERT_EQ(imported.result(), 0);
    const imFileInfoRec8& info = imported.info();
    EXPECT_EQ(info.hasVideo, 1);
    EXPECT_EQ(info.vidInfo.imageWidth, width);
    EXPECT_EQ(info.vidInfo.imageHeight, height);
    EXPECT_EQ(info.vidScale / info.vidSampleSize, 30);
    ASSERT_EQ(info.hasAudio, 1);
    EXPECT_EQ(info.audInfo.numChannels, 6);
    EXPECT_EQ(info.audInfo.sampleRate, 48000.0f);
    EXPECT_EQ(info.audDuration, samples);

    for (int n = 0; n < frameCount; ++n) {
        std::vector<unsigned char> picture;
        ASSERT_EQ(imported.frame(timeOf(n), &picture), 0) << n;
        // Exactly what the encoder's own output decodes to, hence as close to
        // the source as the layout allows.
        const auto expected = export_test::decode(
            export_test::expectedSample(timeOf(n), width, height, false, 0, 0), width, height);
        EXPECT_EQ(picture, expected) << n;
        const auto source = export_test::sourceARGB(timeOf(n), width, height, false);
        EXPECT_GT(encode_test::psnr(source.data(), picture.data(), picture.size() / 4), 35.0) << n;
    }

    std::vector<std::vector<float>> channels;
    ASSERT_EQ(imported.audio(0, static_cast<uint32_t>(samples), &channels), 0);
    ASSERT_EQ(channels.size(), 6u);
    for (int64_t i = 0; i < samples; ++i)
        for (int c = 0; c < 6; ++c)
            ASSERT_LE(std::fabs(channels[c][i] - sourceSample(i, c)), 1.0 / 32768 + 1e-7)
                << "frame " << i << " channel " << c;
}

} // namespace
