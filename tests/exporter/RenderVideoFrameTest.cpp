// RenderAndWriteVideoFrame through the stand-in host: the render request,
// the frame's rows as they reach the encoder, and every way a frame can fail
// without spoiling the movie. (The pixel flip itself: tests/base.)
#include "ExportFixture.h"

#include <cstring>
#include <vector>

namespace {

using export_test::ExportTest;
using export_test::ReadBack;

TEST_F(ExportTest, RenderRequestCarriesTheExportSettings) {
    openMovie(64, 48);
    const struct { int transparency, compositeOnBlack; } cases[] = {{0, 1}, {1, 0}, {2, 1}};
    for (const auto& c : cases) {
        keo::host::setParamInt(host, "KEOTransparency", c.transparency);
        ASSERT_EQ(frameAt(3), 0);
        const keo::host::RenderRequestLog& log = keo::host::lastRenderRequest(host);
        EXPECT_EQ(log.params.inCompositeOnBlack, c.compositeOnBlack) << c.transparency;
        EXPECT_EQ(log.videoRenderID, rec.videoRenderID);
        EXPECT_EQ(log.time, timeOf(3));
        EXPECT_EQ(log.cacheFlags, 0);
        EXPECT_EQ(log.formats, std::vector<PrPixelFormat>{PrPixelFormat_BGRA_4444_8u});
        EXPECT_EQ(log.params.inRequestedPixelFormatArrayCount, 1);
        EXPECT_EQ(log.params.inWidth, 64);
        EXPECT_EQ(log.params.inHeight, 48);
        EXPECT_EQ(log.params.inPixelAspectRatioNumerator, 1);
        EXPECT_EQ(log.params.inPixelAspectRatioDenominator, 1);
        EXPECT_EQ(log.params.inRenderQuality, 3);
        EXPECT_EQ(log.params.inFieldType, 0);
        EXPECT_EQ(log.params.inDeinterlace, 0);
        EXPECT_EQ(log.params.inDeinterlaceQuality, 3);
    }
}

// Padded host rows (the default) and packed ones both reach the encoder as a
// packed, top-down picture: the stored samples are exactly what the encoder
// makes of the source, and they decode close to it.
TEST_F(ExportTest, PaddedAndPackedRowsDecodeCloseToTheSource) {
    const int width = 70, height = 38;
    openMovie(width, height);
    ASSERT_EQ(frameAt(0), 0);
    keo::host::setRowPadding(host, 0);
    ASSERT_EQ(frameAt(1), 0);
    closeMovie();

    ReadBack back(path);
    ASSERT_EQ(back.frames(), 2);
    for (int n = 0; n < 2; ++n) {
        EXPECT_EQ(back.sample(n),
                  export_test::expectedSample(timeOf(n), width, height, false, 0, 0))
            << n;
        const auto decoded = back.decodeFrame(n, width, height);
        ASSERT_FALSE(decoded.empty()) << n;
        const auto source = export_test::sourceARGB(timeOf(n), width, height, false);
        EXPECT_GT(encode_test::psnr(source.data(), decoded.data(), decoded.size() / 4), 32.0) << n;
    }
}

TEST_F(ExportTest, StoppedRenderReturnsAtOnceAndStillDisposesItsFrame) {
    openMovie(32, 32);
    for (bool deliver : {true, false}) {
        keo::host::setRenderResult(host, suiteError_RenderAbort, deliver);
        EXPECT_EQ(frameAt(0), suiteError_RenderAbort);
    }
    EXPECT_EQ(keo::host::counters(host).framesLive, 0);
    closeMovie();
    EXPECT_EQ(ReadBack(path).frames(), 0);
}

TEST_F(ExportTest, FailureThatDeliversAFrameIsWrittenAndReported) {
    openMovie(32, 32);
    keo::host::setRenderResult(host, 7, true);
    EXPECT_EQ(frameAt(0), 7);
    closeMovie();
    ReadBack back(path);
    ASSERT_EQ(back.frames(), 1);
    EXPECT_FALSE(back.decodeFrame(0, 32, 32).empty());
}

TEST_F(ExportTest, FailureWithoutAFrameWritesNothing) {
    openMovie(32, 32);
    keo::host::setRenderResult(host, suiteError_Fail, false);
    EXPECT_EQ(frameAt(0), suiteError_Fail);
    keo::host::setRenderResult(host, suiteError_NoError, false);
    // The frame source failing is the host's own failure without a frame.
    keo::host::setFrameSource(
        host, [](void*, PrTime, int32_t, int32_t, uint8_t*) { return 1; }, nullptr);
    EXPECT_EQ(frameAt(1), suiteError_Fail);
    closeMovie();
    EXPECT_EQ(ReadBack(path).frames(), 0);
}

// Fault injection: suite tables that forward to the host except for one call.
keo::host::HostSuites g_real;
PrPixelFormat g_frameFormat;
int g_frameWidth, g_frameHeight;
int32_t g_rowBytesShortBy;

prSuiteError renderNothing(uint32_t, PrTime, const SequenceRender_ParamsRec*, int32_t,
                           SequenceRender_GetFrameReturnRec* result) {
    result->outFrame = nullptr;
    result->returnVal = 0;
    return suiteError_NoError;
}

prSuiteError renderOddFrame(uint32_t, PrTime, const SequenceRender_ParamsRec*, int32_t,
                            SequenceRender_GetFrameReturnRec* result) {
    const prRect bounds{0, 0, static_cast<int16_t>(g_frameHeight),
                        static_cast<int16_t>(g_frameWidth)};
    result->outFrame = nullptr;
    return g_real.ppixCreator->CreatePPix(&result->outFrame, PrPPixBufferAccess_ReadWrite,
                                          g_frameFormat, &bounds);
}

prSuiteError shortRowBytes(PPixHand frame, int32_t* rowBytes) {
    const prSuiteError err = g_real.ppix->GetRowBytes(frame, rowBytes);
    *rowBytes = g_frameWidth * 4 - g_rowBytesShortBy;
    return err;
}

const char* g_failingParam;

prSuiteError paramsFailingOne(uint32_t id, int32_t group, exParamIdentifier identifier,
                              exParamValues* value) {
    if (std::strcmp(identifier, g_failingParam) == 0)
        return suiteError_NotFound;
    return g_real.exportParam->GetParamValue(id, group, identifier, value);
}

TEST_F(ExportTest, SuccessWithoutAFrameIsAFailure) {
    openMovie(32, 32);
    PrSDKSequenceRenderSuite render = *s.sequenceRender;
    render.RenderVideoFrame = &renderNothing;
    rec.sequenceRenderSuite = &render;
    EXPECT_EQ(frameAt(0), kKEOExportNoFrame);
    closeMovie();
    EXPECT_EQ(ReadBack(path).frames(), 0);
}

TEST_F(ExportTest, FramesNotAsRequestedAreRefusedAndDisposed) {
    openMovie(32, 24);
    g_real = s;
    PrSDKSequenceRenderSuite render = *s.sequenceRender;
    render.RenderVideoFrame = &renderOddFrame;
    rec.sequenceRenderSuite = &render;

    const struct {
        PrPixelFormat format;
        int width, height;
        const char* what;
    } cases[] = {{PrPixelFormat_ARGB_4444_8u, 32, 24, "wrong byte order"},
                 {PrPixelFormat_VUYA_4444_32f, 32, 24, "float frame"},
                 {PrPixelFormat_BGRA_4444_8u, 31, 24, "narrower"},
                 {PrPixelFormat_BGRA_4444_8u, 32, 25, "taller"}};
    for (const auto& c : cases) {
        g_frameFormat = c.format;
        g_frameWidth = c.width;
        g_frameHeight = c.height;
        EXPECT_EQ(frameAt(0), kKEOExportBadFrame) << c.what;
        EXPECT_EQ(keo::host::counters(host).framesLive, 0) << c.what;
    }

    // Rows shorter than a packed row would be read past their end.
    g_frameFormat = PrPixelFormat_BGRA_4444_8u;
    g_frameWidth = 32;
    g_frameHeight = 24;
    PrSDKPPixSuite ppix = *s.ppix;
    ppix.GetRowBytes = &shortRowBytes;
    rec.ppixSuite = &ppix;
    for (int32_t shortBy : {4, 1}) {
        g_rowBytesShortBy = shortBy;
        EXPECT_EQ(frameAt(0), kKEOExportBadFrame) << shortBy;
    }
    EXPECT_EQ(keo::host::counters(host).framesLive, 0);
    closeMovie();
    EXPECT_EQ(ReadBack(path).frames(), 0);
}

// A frame the encoder cannot make is not stored as an empty sample, and the
// movie goes on taking frames afterwards.
TEST_F(ExportTest, FailedEncodeWritesNoSampleAndLaterFramesStillLand) {
    openMovie(40, 40);
    g_real = s;
    g_failingParam = "KEOOptimizeFor";
    PrSDKExportParamSuite params = *s.exportParam;
    params.GetParamValue = &paramsFailingOne;
    rec.exportParamSuite = &params;
    EXPECT_EQ(frameAt(0), kKEOExportEncodeFailed);
    EXPECT_EQ(keo::host::counters(host).framesLive, 0);

    rec.exportParamSuite = s.exportParam;
    EXPECT_EQ(frameAt(1), 0);
    closeMovie();
    ReadBack back(path);
    ASSERT_EQ(back.frames(), 1);
    EXPECT_EQ(back.sample(0), export_test::expectedSample(timeOf(1), 40, 40, false, 0, 0));
}

TEST_F(ExportTest, UnreadableSizeStopsBeforeRendering) {
    openMovie(16, 16);
    g_real = s;
    PrSDKExportParamSuite params = *s.exportParam;
    params.GetParamValue = &paramsFailingOne;
    rec.exportParamSuite = &params;
    for (const char* id : {"ADBEVideoWidth", "ADBEVideoHeight", "KEOTransparency"}) {
        g_failingParam = id;
        EXPECT_EQ(frameAt(0), suiteError_NotFound) << id;
    }
    rec.exportParamSuite = s.exportParam;
    keo::host::setParamInt(host, "ADBEVideoWidth", 0);
    EXPECT_EQ(frameAt(0), kKEOExportBadArgument);
    EXPECT_EQ(keo::host::counters(host).renderCalls, 0);
}

TEST_F(ExportTest, MissingRecordOrMovieIsRefused) {
    EXPECT_EQ(RenderAndWriteVideoFrame(0, nullptr), kKEOExportBadArgument);
    exDoExportRec bare = exportRecord;
    bare.privateData = nullptr;
    EXPECT_EQ(RenderAndWriteVideoFrame(0, &bare), kKEOExportBadArgument);
    rec.movFile = nullptr;
    EXPECT_EQ(frameAt(0), kKEOExportBadArgument);
    EXPECT_EQ(keo::host::counters(host).renderCalls, 0);
    EXPECT_STRNE(KEOExportResultText(kKEOExportBadArgument),
                 KEOExportResultText(kKEOExportBadFrame));
}

TEST_F(ExportTest, MovieThatCannotBeWrittenReportsAWriteFailure) {
    path = ::testing::TempDir() + "keo-no-such-dir/x/y.mov";
    openMovie(16, 16);
    EXPECT_EQ(frameAt(0), kKEOExportWriteFailed);
    EXPECT_EQ(keo::host::counters(host).framesLive, 0);
}

} // namespace
