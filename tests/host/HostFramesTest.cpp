// Host frames: padded rows, formats, reference counts and access checks.
#include "HostFixture.h"

using namespace keo::host;

namespace {

prRect bounds(int16_t width, int16_t height) {
    prRect r{};
    r.right = width;
    r.bottom = height;
    return r;
}

// An ARGB frame from the host, null when it refused one.
PPixHand argbFrame(const keo::host::HostSuites& s, int16_t width, int16_t height,
                   PrPPixBufferAccess access = PrPPixBufferAccess_ReadWrite) {
    prRect r = bounds(width, height);
    PPixHand frame = nullptr;
    s.ppixCreator->CreatePPix(&frame, access, PrPixelFormat_ARGB_4444_8u, &r);
    return frame;
}

} // namespace

TEST_F(HostTest, CreatedFramesHavePaddedRowsOfTheRequestedFormat) {
    setRowPadding(host, 12);
    prRect r = bounds(5, 3);
    PPixHand frame = nullptr;
    ASSERT_EQ(s.ppixCreator->CreatePPix(&frame, PrPPixBufferAccess_ReadWrite,
                                        PrPixelFormat_ARGB_4444_8u, &r),
              suiteError_NoError);
    int32_t rowBytes = 0;
    PrPixelFormat format = 0;
    prRect got{};
    char* pixels = nullptr;
    EXPECT_EQ(s.ppix->GetRowBytes(frame, &rowBytes), 0);
    EXPECT_EQ(rowBytes, 5 * 4 + 12);
    EXPECT_EQ(s.ppix->GetPixelFormat(frame, &format), 0);
    EXPECT_EQ(format, PrPixelFormat_ARGB_4444_8u);
    EXPECT_EQ(s.ppix->GetBounds(frame, &got), 0);
    EXPECT_EQ(got.right - got.left, 5);
    EXPECT_EQ(got.bottom - got.top, 3);
    ASSERT_EQ(s.ppix->GetPixels(frame, PrPPixBufferAccess_ReadWrite, &pixels), 0);
    // The whole rowBytes x height area is writable (ASan checks the last byte).
    pixels[3 * rowBytes - 1] = 0;
    EXPECT_EQ(static_cast<unsigned char>(pixels[0]), 0xCD);
    EXPECT_EQ(s.ppix->Dispose(frame), 0);

    PPixHand vuya = nullptr;
    ASSERT_EQ(s.ppixCreator->CreatePPix(&vuya, PrPPixBufferAccess_ReadWrite,
                                        PrPixelFormat_VUYA_4444_32f, &r),
              0);
    s.ppix->GetRowBytes(vuya, &rowBytes);
    EXPECT_EQ(rowBytes, 5 * 16 + 12);
    s.ppix->Dispose(vuya);

    setRowPadding(host, 0);
    PPixHand packed = nullptr;
    s.ppixCreator->CreatePPix(&packed, PrPPixBufferAccess_ReadWrite, PrPixelFormat_BGRA_4444_8u,
                              &r);
    s.ppix->GetRowBytes(packed, &rowBytes);
    EXPECT_EQ(rowBytes, 20);
    s.ppix->Dispose(packed);
    HostCounters c = count();
    EXPECT_EQ(c.framesCreated, 3);
    EXPECT_EQ(c.framesFreed, 3);
}

TEST_F(HostTest, BadFrameRequestsAreRefused) {
    PPixHand frame = nullptr;
    prRect empty = bounds(0, 4);
    prRect flipped{};
    flipped.left = 10;
    flipped.right = 2;
    flipped.bottom = 2;
    prRect ok = bounds(4, 4);
    EXPECT_NE(s.ppixCreator->CreatePPix(&frame, 2, PrPixelFormat_ARGB_4444_8u, &empty), 0);
    EXPECT_NE(s.ppixCreator->CreatePPix(&frame, 2, PrPixelFormat_ARGB_4444_8u, &flipped), 0);
    EXPECT_NE(s.ppixCreator->CreatePPix(&frame, 2, 0x12345678, &ok), 0);
    EXPECT_NE(s.ppixCreator->CreatePPix(&frame, 2, PrPixelFormat_ARGB_4444_8u, nullptr), 0);
    EXPECT_EQ(frame, nullptr);
    setAllocationLimit(host, 0);
    EXPECT_EQ(s.ppixCreator->CreatePPix(&frame, 2, PrPixelFormat_ARGB_4444_8u, &ok),
              suiteError_OutOfMemory);
    EXPECT_EQ(count().framesCreated, 0);
}

TEST_F(HostTest, FrameDisposedTwiceIsAViolationAndNotFollowed) {
    expectClean = false;
    PPixHand frame = argbFrame(s, 2, 2);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(s.ppix->Dispose(frame), 0);
    EXPECT_NE(s.ppix->Dispose(frame), 0);
    int32_t rowBytes = 0;
    EXPECT_NE(s.ppix->GetRowBytes(frame, &rowBytes), 0);
    EXPECT_EQ(count().violations, 2);
    EXPECT_EQ(count().framesFreed, 1);
}

TEST_F(HostTest, UndisposedFrameShowsInTheLeakReport) {
    expectClean = false;
    argbFrame(s, 7, 3);
    EXPECT_EQ(leakReport(host), "frame 7x3: 1 reference(s) not disposed\n");
}

TEST_F(HostTest, ReadOnlyFrameRefusesWriteAccess) {
    expectClean = false;
    PPixHand frame = argbFrame(s, 2, 2, PrPPixBufferAccess_ReadOnly);
    ASSERT_NE(frame, nullptr);
    char* pixels = nullptr;
    EXPECT_EQ(s.ppix->GetPixels(frame, PrPPixBufferAccess_ReadOnly, &pixels), 0);
    EXPECT_NE(s.ppix->GetPixels(frame, PrPPixBufferAccess_WriteOnly, &pixels), 0);
    EXPECT_EQ(count().violations, 1);
    s.ppix->Dispose(frame);
}

// keo's host, which does not paint new frames, hands the memory of a frame
// given back to the next frame of its size; two frames held at once must
// never share it, or one frame's pixels would show in the other.
TEST_F(HostTest, FramesHeldAtOnceNeverShareMemoryOnAHostThatReusesIt) {
    HostConfig config;
    config.paintNewFrames = false;
    StandInHost* quiet = createHost(config);
    ASSERT_NE(quiet, nullptr);
    const HostSuites q = hostSuites(quiet);
    q.ppix->Dispose(argbFrame(q, 640, 360));
    PPixHand frames[] = {argbFrame(q, 640, 360), argbFrame(q, 640, 360)};
    char* pixels[2] = {};
    for (int i = 0; i < 2; ++i)
        q.ppix->GetPixels(frames[i], PrPPixBufferAccess_ReadWrite, &pixels[i]);
    EXPECT_NE(pixels[0], pixels[1]);
    for (PPixHand frame : frames)
        q.ppix->Dispose(frame);
    EXPECT_EQ(leakReport(quiet), "");
    destroyHost(quiet);
}
