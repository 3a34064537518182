// The Sequence Audio Suite: planar blocks from the audio source, the largest
// block that may shrink, failures and the renderer's life.
#include "HostFixture.h"

#include <vector>

using namespace keo::host;

namespace {

// Channel c of sample frame n holds n + c / 10.
int ramp(void*, int64_t first, uint32_t count, uint32_t channels, float** planar) {
    for (uint32_t c = 0; c < channels; ++c)
        for (uint32_t i = 0; i < count; ++i)
            planar[c][i] = static_cast<float>(first + i) + static_cast<float>(c) / 10.0f;
    return 0;
}

class HostAudioTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        pluginID = makeExportRec(host, nullptr, 0, 0).exporterPluginID;
        setAudioSource(host, ramp, nullptr);
    }
    uint32_t make(PrTime start, PrAudioChannelType type) {
        uint32_t id = 0;
        EXPECT_EQ(s.sequenceAudio->MakeAudioRenderer(pluginID, start, type,
                                                     kPrAudioSampleType_32BitFloat, 48000.0f, &id),
                  0);
        return id;
    }
    uint32_t pluginID = 0;
};

const PrTime kTicksPerFrame30 = 8467200000; // 1600 samples at 48000
const PrTime kTicksPerSample48k = 5292000;

} // namespace

TEST_F(HostAudioTest, BlocksFollowEachOtherFromTheStartTime) {
    uint32_t id = make(10 * kTicksPerSample48k, kPrAudioChannelType_51);
    int32_t blip = 0;
    ASSERT_EQ(s.sequenceAudio->GetMaxBlip(id, kTicksPerFrame30, &blip), 0);
    EXPECT_EQ(blip, 1600);
    std::vector<std::vector<float>> store(6, std::vector<float>(4));
    float* planes[6];
    for (int c = 0; c < 6; ++c)
        planes[c] = store[c].data();
    ASSERT_EQ(s.sequenceAudio->GetAudio(id, 4, planes, 0), 0);
    EXPECT_EQ(store[0][0], 10.0f);
    EXPECT_EQ(store[5][3], 13.5f);
    ASSERT_EQ(s.sequenceAudio->GetAudio(id, 2, planes, 0), 0);
    EXPECT_EQ(store[1][0], 14.1f);
    EXPECT_EQ(lastAudioRenderer(host).blockSizes, (std::vector<uint32_t>{4, 2}));
    EXPECT_EQ(s.sequenceAudio->ReleaseAudioRenderer(pluginID, id), 0);
    HostCounters c = count();
    EXPECT_EQ(c.audioRenderersMade, 1);
    EXPECT_EQ(c.audioRenderersReleased, 1);
    EXPECT_EQ(c.getAudioCalls, 2);
}

TEST_F(HostAudioTest, LargestBlockShrinksAndLongerBlocksAreRefused) {
    expectClean = false;
    setMaxBlips(host, {1600, 1000, 400});
    uint32_t id = make(0, kPrAudioChannelType_Mono);
    std::vector<float> buf(1600);
    float* planes[1] = {buf.data()};
    int32_t blip = 0;
    const int32_t expected[] = {1600, 1000, 400, 400};
    for (int32_t e : expected) {
        s.sequenceAudio->GetMaxBlip(id, kTicksPerFrame30, &blip);
        EXPECT_EQ(blip, e);
    }
    EXPECT_NE(s.sequenceAudio->GetAudio(id, 401, planes, 0), 0);
    EXPECT_EQ(s.sequenceAudio->GetAudio(id, 400, planes, 0), 0);
    EXPECT_EQ(count().violations, 1);
    s.sequenceAudio->ReleaseAudioRenderer(pluginID, id);
}

TEST_F(HostAudioTest, ChosenGetAudioCallFails) {
    setGetAudioFailure(host, 1, -77);
    uint32_t id = make(0, kPrAudioChannelType_Stereo);
    float l[8], r[8];
    float* planes[2] = {l, r};
    EXPECT_EQ(s.sequenceAudio->GetAudio(id, 8, planes, 0), 0);
    EXPECT_EQ(s.sequenceAudio->GetAudio(id, 8, planes, 0), -77);
    EXPECT_EQ(s.sequenceAudio->GetAudio(id, 8, planes, 0), 0);
    EXPECT_EQ(l[0], 8.0f); // the failed call delivered nothing and did not advance
    s.sequenceAudio->ReleaseAudioRenderer(pluginID, id);
}

TEST_F(HostAudioTest, RendererRequestsAreChecked) {
    uint32_t id = 0;
    EXPECT_NE(s.sequenceAudio->MakeAudioRenderer(pluginID, 0, 2, kPrAudioSampleType_16BitInt,
                                                 48000.0f, &id),
              0);
    EXPECT_NE(s.sequenceAudio->MakeAudioRenderer(pluginID, 0, 4, 6, 48000.0f, &id), 0);
    EXPECT_NE(s.sequenceAudio->MakeAudioRenderer(pluginID, 0, 2, 6, 44099.0f, &id), 0);
    EXPECT_NE(s.sequenceAudio->MakeAudioRenderer(pluginID + 1, 0, 2, 6, 48000.0f, &id), 0);
    EXPECT_EQ(count().audioRenderersMade, 0);
    const AudioRendererLog& log = lastAudioRenderer(host);
    EXPECT_EQ(log.count, 4);
    EXPECT_EQ(log.sampleRate, 48000.0f);
}

TEST_F(HostAudioTest, UnreleasedAndDoublyReleasedRenderersAreReported) {
    expectClean = false;
    uint32_t id = make(0, kPrAudioChannelType_Stereo);
    EXPECT_EQ(leakReport(host), "1 audio renderer(s) not released\n");
    s.sequenceAudio->ReleaseAudioRenderer(pluginID, id);
    EXPECT_NE(s.sequenceAudio->ReleaseAudioRenderer(pluginID, id), 0);
    EXPECT_EQ(count().violations, 1);
}
