// The plug-in driver's own answers: the refusals of loading that keo turns
// into messages, what the driver does with an entry that refuses or hands
// back an unusable frame, and the conversions every caller relies on. The
// selector walk on the real module is checked by the importer, exporter and
// fault tests, which all drive it through this driver.
#include <dlfcn.h> // dladdr: where the C library this test runs on lives

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "PluginDriver.h"
#include "StandInHost.h"

namespace {

using namespace keo::host;

std::string mappedFiles() {
    std::ifstream maps("/proc/self/maps");
    std::stringstream all;
    all << maps.rdbuf();
    return all.str();
}

TEST(PluginDriverLoad, EachRefusalHasItsOwnCodeAndWords) {
    PluginModule module;
    EXPECT_EQ(loadModule(&module, "/nonexistent/KEOImporter.so"), kDriverModuleMissing);
    EXPECT_EQ(module.error, std::strerror(ENOENT));
    EXPECT_EQ(module.entry, nullptr);

    // A file that is there but is no shared object: the loader's own reason.
    const std::string notAModule = ::testing::TempDir() + "keo_driver_not_a_module.so";
    std::ofstream(notAModule) << "not a module";
    EXPECT_EQ(loadModule(&module, notAModule), kDriverModuleNotLoaded);
    EXPECT_NE(module.error.find(notAModule), std::string::npos) << module.error;
    std::remove(notAModule.c_str());

    // A shared object without the entry: the C library is one at hand.
    Dl_info libc{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&std::strlen), &libc), 0);
    EXPECT_EQ(loadModule(&module, libc.dli_fname), kDriverNoEntry);
    EXPECT_EQ(module.handle, nullptr) << "a module that cannot be called is let go";

    std::string why;
    EXPECT_EQ(keptEntry("/nonexistent/KEOImporter.so", &why), nullptr);
    EXPECT_EQ(why, std::strerror(ENOENT));
}

TEST(PluginDriverLoad, UnloadLeavesNoMappingAndKeptEntryStays) {
    PluginModule module;
    ASSERT_EQ(loadModule(&module, KEO_PLUGIN_PATH), kDriverOK) << module.error;
    ASSERT_NE(module.entry, nullptr);
    // Nothing else in this program holds the module, so its mapping must go.
    EXPECT_NE(mappedFiles().find("KEOImporter"), std::string::npos);
    EXPECT_EQ(unloadModule(&module), 0) << module.error;
    EXPECT_EQ(module.entry, nullptr);
    EXPECT_EQ(mappedFiles().find("KEOImporter"), std::string::npos);
    EXPECT_EQ(unloadModule(&module), 0) << "a second unload is harmless";

    // The kept module is loaded once, whoever asks.
    ImportEntryFunc kept = keptEntry(KEO_PLUGIN_PATH);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(keptEntry(KEO_PLUGIN_PATH), kept);
}

// A stand-in importer whose answers the test sets; the frame it hands out
// comes from the host the test made.
struct FakeImporter {
    int32_t result = malNoError;
    int16_t frameWidth = 0, frameHeight = 0; // 0: hands back no frame
    int calls = 0;
};
FakeImporter g_fake;
StandInHost* g_host = nullptr;

int32_t fakeEntry(int32_t selector, imStdParms*, void*, void* param2) {
    g_fake.calls++;
    if (selector == imGetSourceVideo && g_fake.frameWidth > 0) {
        const imSourceVideoRec* rec = static_cast<imSourceVideoRec*>(param2);
        const prRect bounds{0, 0, g_fake.frameHeight, g_fake.frameWidth};
        hostSuites(g_host).ppixCreator->CreatePPix(rec->outFrame, PrPPixBufferAccess_ReadWrite,
                                                   PrPixelFormat_ARGB_4444_8u, &bounds);
        // Row r (bottom first in the host's frame) holds the byte r.
        const FrameInfo frame = describeFrame(g_host, *rec->outFrame);
        for (int32_t r = 0; r < frame.height; ++r)
            std::memset(frame.pixels + static_cast<size_t>(r) * frame.rowBytes, r,
                        static_cast<size_t>(frame.width) * 4);
    }
    return g_fake.result;
}

class PluginDriverSession : public ::testing::Test {
protected:
    void SetUp() override {
        g_fake = FakeImporter();
        g_host = createHost();
        ASSERT_NE(g_host, nullptr);
    }
    void TearDown() override {
        EXPECT_EQ(leakReport(g_host), "");
        destroyHost(g_host);
    }
    ImporterSession s;
};

TEST_F(PluginDriverSession, InitPassesARefusalOnAndTakesCacheableForYes) {
    g_fake.result = imIsCacheable;
    EXPECT_EQ(startImporter(&s, fakeEntry, g_host), kDriverOK);
    g_fake.result = imOtherErr;
    EXPECT_EQ(startImporter(&s, fakeEntry, g_host), imOtherErr);
    EXPECT_EQ(openFile(&s, "/a.mov"), imOtherErr);

    ImporterSession unbound;
    EXPECT_EQ(openFile(&unbound, "/a.mov"), kDriverNotStarted);
    EXPECT_EQ(startImporter(&unbound, fakeEntry, nullptr), kDriverNotStarted);
    // Nothing to close is no call at all.
    const int before = g_fake.calls;
    EXPECT_EQ(closeFile(&s), kDriverOK);
    EXPECT_EQ(g_fake.calls, before);
}

TEST_F(PluginDriverSession, ReadFrameTurnsRowsTopDownAndRefusesAFrameOfAnotherSize) {
    bindImporter(&s, fakeEntry, g_host);
    s.info.vidInfo.imageWidth = 2;
    s.info.vidInfo.imageHeight = 3;
    std::vector<uint8_t> argb(2 * 3 * 4, 0xEE);

    // A yes without a frame.
    EXPECT_EQ(readFrame(&s, 0, argb.data()), kDriverNoFrame);
    // A refusal with no frame keeps the importer's own result.
    g_fake.result = imFrameOrAudioErr;
    EXPECT_EQ(readFrame(&s, 0, argb.data()), imFrameOrAudioErr);

    g_fake.result = malNoError;
    g_fake.frameWidth = 2;
    g_fake.frameHeight = 3;
    ASSERT_EQ(readFrame(&s, 0, argb.data()), kDriverOK);
    // The host's bottom row (2) comes out first.
    const std::vector<uint8_t> expected = {2, 2, 2, 2, 2, 2, 2, 2, 1, 1, 1, 1,
                                           1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(argb, expected);

    // One row short: not copied (the buffer is only as large as asked), and
    // the frame still goes back to the host, which TearDown checks.
    g_fake.frameHeight = 2;
    std::fill(argb.begin(), argb.end(), 0xEE);
    EXPECT_EQ(readFrame(&s, 0, argb.data()), kDriverNoFrame);
    EXPECT_EQ(argb, std::vector<uint8_t>(argb.size(), 0xEE));
}

TEST(PluginDriverTime, FrameTimesOfFileValuesNeitherWrapNorDivideByZero) {
    imFileInfoRec8 info{};
    info.vidScale = 25;
    info.vidSampleSize = 1;
    EXPECT_EQ(ticksPerFrame(info), kTicksPerSecond / 25);
    EXPECT_EQ(frameTime(info, 3), 3 * (kTicksPerSecond / 25));
    info.vidScale = 30000;
    info.vidSampleSize = 1001;
    EXPECT_EQ(ticksPerFrame(info), kTicksPerSecond * 1001 / 30000);
    // 13 frames per second is no whole number of ticks a frame: the figure
    // shown is the nearest, but each frame starts where its exact start
    // rounds down, and frame 13 at one second sharp.
    info.vidScale = 13;
    info.vidSampleSize = 1;
    EXPECT_EQ(ticksPerFrame(info), 19539692308);
    EXPECT_EQ(frameTime(info, 1), 19539692307);
    EXPECT_EQ(frameTime(info, 13), kTicksPerSecond);

    info.vidScale = 0;
    EXPECT_EQ(ticksPerFrame(info), 0);
    info.vidScale = 1;
    info.vidSampleSize = -1;
    EXPECT_EQ(ticksPerFrame(info), 0);
    // A sample size that takes the host's clock past 2^63 gives no rate,
    // not a wrapped one.
    info.vidSampleSize = INT32_MAX;
    EXPECT_EQ(ticksPerFrame(info), 0);
    // A frame number far past any movie saturates.
    info.vidSampleSize = 1;
    EXPECT_EQ(frameTime(info, INT64_MAX / 2), INT64_MAX);
    EXPECT_EQ(frameTime(info, INT64_MIN / 2), INT64_MIN);
}

TEST(PluginDriverPath, Utf16OfAnyBytes) {
    auto units = [](const std::string& s) { return utf16Path(s); };
    using U = std::vector<prUTF16Char>;
    EXPECT_EQ(units(""), U{0});
    EXPECT_EQ(units("a/\xC3\xA9"), (U{'a', '/', 0xE9, 0}));
    EXPECT_EQ(units("\xE2\x82\xAC"), (U{0x20AC, 0}));
    // Beyond the first plane: a surrogate pair.
    EXPECT_EQ(units("\xF0\x9F\x8E\xAC"), (U{0xD83C, 0xDFAC, 0}));
    // A lead byte without its continuation, one cut by the end of the
    // string, and a byte of no sequence ride as U+DC80 + (byte - 0x80):
    // nothing is read past the end, nothing dropped, and none becomes the
    // character of its Latin-1 reading (the name of another file).
    EXPECT_EQ(units("\xC3x"), (U{0xDCC3, 'x', 0}));
    EXPECT_EQ(units("x\xE2\x82"), (U{'x', 0xDCE2, 0xDC82, 0}));
    EXPECT_EQ(units("\xFF"), (U{0xDCFF, 0}));
}

} // namespace
