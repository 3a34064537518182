// The Sequence Render Suite: frame source pictures as bottom-up, padded BGRA frames.
#include "HostFixture.h"

#include <cstring>
#include <vector>

using namespace keo::host;

namespace {

// Pixel (x, y) of the picture at time t: R = x, G = y, B = t, A = 200.
int gradient(void*, PrTime time, int32_t width, int32_t height, uint8_t* rgba) {
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x, rgba += 4) {
            rgba[0] = static_cast<uint8_t>(x);
            rgba[1] = static_cast<uint8_t>(y);
            rgba[2] = static_cast<uint8_t>(time);
            rgba[3] = 200;
        }
    return 0;
}

const PrPixelFormat kBGRA = PrPixelFormat_BGRA_4444_8u;

SequenceRender_ParamsRec request(int32_t w, int32_t h, int32_t onBlack) {
    SequenceRender_ParamsRec p{};
    p.inRequestedPixelFormatArray = &kBGRA;
    p.inRequestedPixelFormatArrayCount = 1;
    p.inWidth = w;
    p.inHeight = h;
    p.inPixelAspectRatioNumerator = 1;
    p.inPixelAspectRatioDenominator = 1;
    p.inRenderQuality = 3;
    p.inDeinterlaceQuality = 3;
    p.inCompositeOnBlack = onBlack;
    return p;
}

class HostRenderTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        pluginID = makeExportRec(host, nullptr, 0, 0).exporterPluginID;
        ASSERT_EQ(s.sequenceRender->MakeVideoRenderer(pluginID, &renderID, 0), 0);
    }
    void TearDown() override {
        s.sequenceRender->ReleaseVideoRenderer(pluginID, renderID);
        HostTest::TearDown();
    }
    uint32_t pluginID = 0, renderID = 0;
};

} // namespace

TEST_F(HostRenderTest, FrameSourceBecomesBottomUpBGRAWithPaddedRows) {
    setRowPadding(host, 8);
    setFrameSource(host, gradient, nullptr);
    SequenceRender_ParamsRec p = request(3, 2, 0);
    SequenceRender_GetFrameReturnRec ret{};
    ASSERT_EQ(s.sequenceRender->RenderVideoFrame(renderID, 9, &p, 0, &ret), 0);
    ASSERT_NE(ret.outFrame, nullptr);
    PrPixelFormat format = 0;
    int32_t rowBytes = 0;
    char* pixels = nullptr;
    s.ppix->GetPixelFormat(ret.outFrame, &format);
    s.ppix->GetRowBytes(ret.outFrame, &rowBytes);
    ASSERT_EQ(s.ppix->GetPixels(ret.outFrame, PrPPixBufferAccess_ReadOnly, &pixels), 0);
    EXPECT_EQ(format, PrPixelFormat_BGRA_4444_8u);
    EXPECT_EQ(rowBytes, 3 * 4 + 8);
    const unsigned char* px = reinterpret_cast<const unsigned char*>(pixels);
    for (int k = 0; k < 2; ++k) {     // memory row k holds picture row 1 - k
        for (int x = 0; x < 3; ++x) { // B, G, R, A
            const unsigned char* p4 = px + k * rowBytes + x * 4;
            EXPECT_EQ(p4[0], 9);
            EXPECT_EQ(p4[1], 1 - k);
            EXPECT_EQ(p4[2], x);
            EXPECT_EQ(p4[3], 200);
        }
        EXPECT_EQ(px[k * rowBytes + 12], 0xEE); // padding is not picture
    }
    const RenderRequestLog& log = lastRenderRequest(host);
    EXPECT_EQ(log.time, 9);
    ASSERT_EQ(log.formats.size(), 1u);
    EXPECT_EQ(log.formats[0], kBGRA);
    EXPECT_EQ(log.params.inCompositeOnBlack, 0);
    s.ppix->Dispose(ret.outFrame);
}

TEST_F(HostRenderTest, CompositeOnBlackPremultipliesAndMakesOpaque) {
    setFrameSource(host, gradient, nullptr);
    SequenceRender_ParamsRec p = request(2, 1, 1);
    SequenceRender_GetFrameReturnRec ret{};
    ASSERT_EQ(s.sequenceRender->RenderVideoFrame(renderID, 255, &p, 0, &ret), 0);
    FrameInfo f = describeFrame(host, ret.outFrame);
    // x = 1, y = 0, t = 255 at alpha 200: R = 1*200/255 -> 1, B = 255*200/255 = 200.
    EXPECT_EQ(f.pixels[4], 200);
    EXPECT_EQ(f.pixels[5], 0);
    EXPECT_EQ(f.pixels[6], 1);
    EXPECT_EQ(f.pixels[7], 255);
    EXPECT_EQ(lastRenderRequest(host).params.inCompositeOnBlack, 1);
    s.ppix->Dispose(ret.outFrame);
}

TEST_F(HostRenderTest, ChosenFailureWithAndWithoutFrame) {
    SequenceRender_ParamsRec p = request(4, 4, 0);
    SequenceRender_GetFrameReturnRec ret{};
    setRenderResult(host, suiteError_RenderAbort, false);
    EXPECT_EQ(s.sequenceRender->RenderVideoFrame(renderID, 0, &p, 0, &ret), 0x30001);
    EXPECT_EQ(ret.outFrame, nullptr);
    setRenderResult(host, 7, true);
    EXPECT_EQ(s.sequenceRender->RenderVideoFrame(renderID, 0, &p, 0, &ret), 7);
    ASSERT_NE(ret.outFrame, nullptr);
    s.ppix->Dispose(ret.outFrame);
    setRenderResult(host, 0, false);
    EXPECT_EQ(s.sequenceRender->RenderVideoFrame(renderID, 0, &p, 0, &ret), 0);
    s.ppix->Dispose(ret.outFrame);
    EXPECT_EQ(count().renderCalls, 3);
}

TEST_F(HostRenderTest, BadRequestsAreRefusedWithoutAFrame) {
    expectClean = false;
    SequenceRender_GetFrameReturnRec ret{};
    SequenceRender_ParamsRec noBGRA = request(4, 4, 0);
    const PrPixelFormat argb = PrPixelFormat_ARGB_4444_8u;
    noBGRA.inRequestedPixelFormatArray = &argb;
    EXPECT_NE(s.sequenceRender->RenderVideoFrame(renderID, 0, &noBGRA, 0, &ret), 0);
    SequenceRender_ParamsRec empty = request(0, 4, 0);
    EXPECT_NE(s.sequenceRender->RenderVideoFrame(renderID, 0, &empty, 0, &ret), 0);
    SequenceRender_ParamsRec ok = request(4, 4, 0);
    EXPECT_NE(s.sequenceRender->RenderVideoFrame(renderID + 1, 0, &ok, 0, &ret), 0);
    EXPECT_EQ(ret.outFrame, nullptr);
    EXPECT_EQ(count().framesCreated, 0);
    EXPECT_EQ(count().violations, 1); // the unknown renderer
}

// A lent picture at its own pitch becomes the frame a source drawing the
// same picture gives; a lender that has no picture fails the render with no
// frame; setting a source again drops the lender. The picture is 3 x 2
// pixels, rows 5 bytes longer than its pixels: the gradient of time 9, with
// junk between the rows.
TEST_F(HostRenderTest, LentPictureRendersAsADrawnOne) {
    struct Lent {
        uint8_t bytes[2 * 17];
        int calls = 0;
        bool refuse = false;
    } lent;
    std::memset(lent.bytes, 0x77, sizeof lent.bytes);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            uint8_t* px = lent.bytes + y * 17 + x * 4;
            px[0] = uint8_t(x), px[1] = uint8_t(y), px[2] = 9, px[3] = 200;
        }
    auto lend = [](void* context, PrTime, int32_t, int32_t, size_t* pitch) -> const uint8_t* {
        auto* lent = static_cast<Lent*>(context);
        lent->calls++;
        *pitch = 17;
        return lent->refuse ? nullptr : lent->bytes;
    };
    SequenceRender_ParamsRec p = request(3, 2, 1);
    // The frame's bytes, none when the render gives no frame.
    auto render = [&](prSuiteError expected) {
        SequenceRender_GetFrameReturnRec ret{};
        EXPECT_EQ(s.sequenceRender->RenderVideoFrame(renderID, 9, &p, 0, &ret), expected);
        if (!ret.outFrame)
            return std::vector<uint8_t>();
        const FrameInfo f = describeFrame(host, ret.outFrame);
        std::vector<uint8_t> pixels(f.pixels, f.pixels + f.rowBytes * 2);
        s.ppix->Dispose(ret.outFrame);
        return pixels;
    };
    setFrameSource(host, gradient, nullptr);
    const auto drawn = render(0);
    setFrameLender(host, lend, &lent);
    EXPECT_EQ(render(0), drawn);
    lent.refuse = true;
    EXPECT_TRUE(render(suiteError_Fail).empty());
    setFrameSource(host, gradient, nullptr);
    EXPECT_EQ(render(0), drawn);
    EXPECT_EQ(lent.calls, 2);
}

// Renders one after another reuse the memory of the frame given back, and
// the plug-in sees a new frame each time: counted as made and freed, its
// padding the host's paint, the old handle unknown once disposed. A frame
// of another size or row padding is made anew, and one still held is never
// reused.
TEST_F(HostRenderTest, GivenBackFrameServesTheNextRender) {
    setFrameSource(host, gradient, nullptr);
    auto render = [&](int32_t w, int32_t h) {
        SequenceRender_ParamsRec p = request(w, h, 0);
        SequenceRender_GetFrameReturnRec ret{};
        EXPECT_EQ(s.sequenceRender->RenderVideoFrame(renderID, 1, &p, 0, &ret), 0);
        return ret.outFrame;
    };
    PPixHand first = render(4, 2);
    const uint8_t* memory = describeFrame(host, first).pixels;
    s.ppix->Dispose(first);
    EXPECT_FALSE(describeFrame(host, first).found);
    PPixHand second = render(4, 2);
    FrameInfo f = describeFrame(host, second);
    EXPECT_EQ(f.pixels, memory);
    EXPECT_EQ(f.pixels[16], 0xEE);
    PPixHand held = render(4, 2); // the spare is taken: a new frame
    EXPECT_NE(describeFrame(host, held).pixels, memory);
    s.ppix->Dispose(second);
    s.ppix->Dispose(held);
    PPixHand wider = render(5, 2);
    EXPECT_EQ(describeFrame(host, wider).width, 5);
    s.ppix->Dispose(wider);
    setRowPadding(host, 4);
    PPixHand narrower = render(5, 2);
    EXPECT_EQ(describeFrame(host, narrower).rowBytes, 5 * 4 + 4);
    s.ppix->Dispose(narrower);
    EXPECT_EQ(count().framesCreated, 5);
    EXPECT_EQ(count().framesFreed, 5);
}
