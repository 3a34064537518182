// The exporter entry's calls through the stand-in host: a whole export in
// begin, frames, sound and end, with the host's books balanced after it,
// and every way a begin can fail giving back what it took.
#include "ExportFixture.h"

#include "exporter/ExportSession.h"

#include <cerrno>
#include <cstdio>
#include <string>

namespace {

using export_test::ReadBack;

class ExportSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        host = keo::host::createHost();
        ASSERT_NE(host, nullptr);
        keo::host::setFrameSource(host, &export_test::seededFrameSource, &frames);
        keo::host::setAudioSource(host, &export_test::seededAudioSource, nullptr);
        keo::host::setParamInt(host, "ADBEVideoWidth", 64);
        keo::host::setParamInt(host, "ADBEVideoHeight", 48);
        keo::host::setParamTime(host, "ADBEVideoFPS", kTicksPerFrame);
        record = keo::host::makeExportRec(host, nullptr, 0, 0);
        path = ::testing::TempDir() + "keo_session_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".mov";
        std::remove(path.c_str());
    }
    void TearDown() override {
        EXPECT_EQ(KEOExportEnd(&record, nullptr), 0);
        EXPECT_EQ(keo::host::leakReport(host), "");
        keo::host::destroyHost(host);
        std::remove(path.c_str());
    }
    int begin(int* writeErrno = nullptr) {
        return KEOExportBegin(keo::host::exporterStdParms(host), &record,
                              KEOExportMovie{path.c_str(), {30, 1}}, writeErrno);
    }

    static constexpr PrTime kTicksPerFrame = keo::host::kTicksPerSecond / 30;
    keo::host::StandInHost* host = nullptr;
    export_test::FrameSourceState frames;
    exDoExportRec record{};
    std::string path;
};

// Three frames and their sound: the movie holds them with its sound track,
// every suite and renderer is given back, and the settings the render path
// does not need on every frame are read once: a frame reads only the size
// and transparency, and the encoder's three. (That each stored sample is
// what the encoder makes of the source is the round-trip tests'.)
TEST_F(ExportSessionTest, WholeExportWritesTheMovieAndGivesEverythingBack) {
    ASSERT_EQ(begin(), 0);
    ASSERT_NE(record.privateData, nullptr);
    for (int i = 0; i < 3; ++i) {
        const int64_t readsBefore = keo::host::counters(host).paramReads;
        ASSERT_EQ(KEOExportFrame(&record, i * kTicksPerFrame), 0);
        EXPECT_EQ(keo::host::counters(host).paramReads - readsBefore, 6);
    }
    ASSERT_EQ(KEOExportAudio(&record, 3 * kTicksPerFrame), 0);
    int writeErrno = -1;
    ASSERT_EQ(KEOExportEnd(&record, &writeErrno), 0);
    EXPECT_EQ(writeErrno, 0);
    EXPECT_EQ(record.privateData, nullptr);
    EXPECT_EQ(keo::host::counters(host).suitesHeld, 0);
    ReadBack back(path);
    EXPECT_EQ(back.frames(), 3);
    EXPECT_EQ(back.movie.audioTracks(), 1);
}

// Begins that cannot go on: each answers its code, leaves no private
// record, holds nothing of the host's, says why when the system did, and
// leaves nothing to render into.
TEST_F(ExportSessionTest, FailedBeginsGiveBackWhatTheyTook) {
    const struct {
        const char* what;
        const char* param; // an export setting made unusable, if any
        int32_t value;
        bool missingFolder;
        int result, writeErrno;
    } cases[] = {
        {"movie in a folder that does not exist", nullptr, 0, true, kKEOExportWriteFailed, ENOENT},
        {"a frame size the writer refuses", "ADBEVideoWidth", 0, false, kKEOExportWriteFailed, 0},
        {"sound of a channel layout movies lack", "ADBEAudioNumChannels", 7, false,
         kKEOExportBadAudioFormat, 0},
        {"sound of a sample type movies lack", "ADBEAudioSampleType", 2, false,
         kKEOExportBadAudioFormat, 0},
    };
    const std::string goodPath = path;
    for (const auto& c : cases) {
        if (c.param)
            keo::host::setParamInt(host, c.param, c.value);
        path = c.missingFolder ? ::testing::TempDir() + "keo_no_such_folder/movie.mov" : goodPath;
        int writeErrno = -1;
        EXPECT_EQ(begin(&writeErrno), c.result) << c.what;
        EXPECT_EQ(writeErrno, c.writeErrno) << c.what;
        EXPECT_EQ(record.privateData, nullptr) << c.what;
        EXPECT_EQ(keo::host::counters(host).suitesHeld, 0) << c.what;
        EXPECT_EQ(keo::host::leakReport(host), "") << c.what;
        EXPECT_EQ(KEOExportFrame(&record, 0), kKEOExportBadArgument) << c.what;
        EXPECT_EQ(KEOExportAudio(&record, kTicksPerFrame), kKEOExportBadArgument) << c.what;
        EXPECT_EQ(KEOExportWriteErrno(&record), 0) << c.what;
        // Put the setting back for the next case.
        keo::host::setParamInt(host, "ADBEVideoWidth", 64);
        keo::host::setParamInt(host, "ADBEAudioNumChannels", kPrAudioChannelType_Stereo);
        keo::host::setParamInt(host, "ADBEAudioSampleType", kPrAudioSampleType_16BitInt);
    }
    EXPECT_EQ(keo::host::counters(host).renderCalls, 0);
    path = goodPath;
    // A record of another exporter reads no setting at all.
    record.exporterPluginID ^= 1;
    EXPECT_EQ(begin(), kKEOExportBadArgument);
    EXPECT_EQ(record.privateData, nullptr);
    record.exporterPluginID ^= 1;
    // A second begin on a record that has its export is refused, and the
    // export it has goes on.
    ASSERT_EQ(begin(), 0);
    void* first = record.privateData;
    EXPECT_EQ(begin(), kKEOExportBadArgument);
    EXPECT_EQ(record.privateData, first);
}

} // namespace
