// The frame cache: keyed by (importer id, stream, key), with its own references.
#include "HostFixture.h"

using namespace keo::host;

namespace {

PPixHand makeFrame(const HostSuites& s, int16_t w, int16_t h, PrPixelFormat format) {
    prRect r{};
    r.right = w;
    r.bottom = h;
    PPixHand frame = nullptr;
    s.ppixCreator->CreatePPix(&frame, PrPPixBufferAccess_ReadWrite, format, &r);
    return frame;
}

imFrameFormat formatOf(int32_t w, int32_t h, PrPixelFormat format) {
    imFrameFormat f{};
    f.inFrameWidth = w;
    f.inFrameHeight = h;
    f.inPixelFormat = format;
    return f;
}

} // namespace

TEST_F(HostTest, CacheHitsOnlyTheExactKey) {
    PPixHand frame = makeFrame(s, 4, 2, PrPixelFormat_ARGB_4444_8u);
    ASSERT_EQ(s.ppixCache->AddFrameToCache(7, 0, frame, 3, nullptr, 0), 0);
    // The importer hands its frame to the host, which disposes of it.
    s.ppix->Dispose(frame);
    EXPECT_EQ(count().framesLive, 1);

    imFrameFormat f = formatOf(4, 2, PrPixelFormat_ARGB_4444_8u);
    PPixHand got = nullptr;
    EXPECT_NE(s.ppixCache->GetFrameFromCache(8, 0, 3, 1, &f, &got, nullptr, nullptr), 0);
    EXPECT_NE(s.ppixCache->GetFrameFromCache(7, 1, 3, 1, &f, &got, nullptr, nullptr), 0);
    EXPECT_NE(s.ppixCache->GetFrameFromCache(7, 0, 4, 1, &f, &got, nullptr, nullptr), 0);
    EXPECT_EQ(got, nullptr);
    ASSERT_EQ(s.ppixCache->GetFrameFromCache(7, 0, 3, 1, &f, &got, nullptr, nullptr), 0);
    EXPECT_EQ(got, frame);
    EXPECT_EQ(describeFrame(host, got).callerRefs, 1);
    s.ppix->Dispose(got);
    HostCounters c = count();
    EXPECT_EQ(c.cacheHits, 1);
    EXPECT_EQ(c.cacheMisses, 3);
    EXPECT_EQ(c.cacheEntries, 1);
    // Frames held only by the cache are not leaks; clearing frees them.
    EXPECT_EQ(leakReport(host), "");
    clearFrameCache(host);
    EXPECT_EQ(count().framesLive, 0);
}

TEST_F(HostTest, CacheHitNeedsAMatchingFormatAndSize) {
    PPixHand frame = makeFrame(s, 4, 2, PrPixelFormat_ARGB_4444_8u);
    s.ppixCache->AddFrameToCache(1, 0, frame, 0, nullptr, 0);
    s.ppix->Dispose(frame);
    PPixHand got = nullptr;
    imFrameFormat otherFormat = formatOf(4, 2, PrPixelFormat_BGRA_4444_8u);
    imFrameFormat otherSize = formatOf(8, 2, PrPixelFormat_ARGB_4444_8u);
    imFrameFormat anySize = formatOf(0, 0, PrPixelFormat_ARGB_4444_8u);
    EXPECT_NE(s.ppixCache->GetFrameFromCache(1, 0, 0, 1, &otherFormat, &got, nullptr, nullptr), 0);
    EXPECT_NE(s.ppixCache->GetFrameFromCache(1, 0, 0, 1, &otherSize, &got, nullptr, nullptr), 0);
    imFrameFormat both[2] = {otherFormat, anySize};
    ASSERT_EQ(s.ppixCache->GetFrameFromCache(1, 0, 0, 2, both, &got, nullptr, nullptr), 0);
    s.ppix->Dispose(got);
}

TEST_F(HostTest, ReplacingAnEntryReleasesTheOldFrame) {
    PPixHand first = makeFrame(s, 2, 2, PrPixelFormat_ARGB_4444_8u);
    PPixHand second = makeFrame(s, 2, 2, PrPixelFormat_ARGB_4444_8u);
    s.ppixCache->AddFrameToCache(1, 0, first, 5, nullptr, 0);
    s.ppixCache->AddFrameToCache(1, 0, first, 5, nullptr, 0); // same frame again: kept
    s.ppix->Dispose(first);
    EXPECT_EQ(describeFrame(host, first).cacheRefs, 1);
    s.ppixCache->AddFrameToCache(1, 0, second, 5, nullptr, 0);
    s.ppix->Dispose(second);
    EXPECT_FALSE(describeFrame(host, first).found);
    EXPECT_EQ(count().framesFreed, 1);
    EXPECT_EQ(count().cacheEntries, 1);
}

TEST_F(HostTest, CachingAFrameTheHostDoesNotHaveIsRefused) {
    expectClean = false;
    PPix* bogus[1] = {nullptr};
    EXPECT_NE(s.ppixCache->AddFrameToCache(1, 0, bogus, 0, nullptr, 0), 0);
    EXPECT_EQ(count().violations, 1);
}
