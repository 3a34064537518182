// The hostile movies of tests/support/HostileCases.h driven through the
// plug-in module as a host drives it: each movie is opened with
// imOpenFile8, described, and its frames requested; the answers must be the
// ones each case allows, every call must return, and a fresh stand-in host per
// movie must get back everything it handed out. The container tests check the
// reader's own answers to the same movies; this checks what the host sees.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PluginDriver.h"
#include "StandInHost.h"
#include "support/HostileCases.h"
#include "support/SmallStack.h"

namespace {

using keofaults::HostileCase;
using keofaults::Opens;

struct Answers {
    int32_t open = -1, info = -1;
    std::vector<int32_t> frames;
};

// Opens, describes and asks for `frameCount` frames; closes and checks that
// the host got everything back.
Answers drive(ImportEntryFunc entry, const keotest::Bytes& bytes, size_t frameCount) {
    Answers a;
    keotest::TempFile file(bytes);
    keo::host::StandInHost* host = keo::host::createHost();
    keo::host::ImporterSession s;
    keo::host::startImporter(&s, entry, host);
    a.open = keo::host::openFile(&s, file.path);
    if (a.open == 0) {
        a.info = keo::host::describeFile(&s);
        const imFileInfoRec8& info = s.info;
        if (a.info == 0 && info.vidScale > 0) {
            const PrTime ticks = keo::host::kTicksPerSecond / info.vidScale * info.vidSampleSize;
            for (size_t f = 0; f < frameCount; f++) {
                imFrameFormat format{info.vidInfo.imageWidth, info.vidInfo.imageHeight,
                                     PrPixelFormat_ARGB_4444_8u};
                PPixHand frame = nullptr;
                a.frames.push_back(
                    keo::host::requestFrame(&s, static_cast<PrTime>(f) * ticks, &format, &frame));
                if (frame)
                    keo::host::hostSuites(host).ppix->Dispose(frame);
            }
        }
    }
    EXPECT_EQ(keo::host::closeFile(&s), 0);
    EXPECT_EQ(keo::host::leakReport(host), "");
    keo::host::destroyHost(host);
    return a;
}

void checkCase(ImportEntryFunc entry, const HostileCase& c) {
    SCOPED_TRACE(c.id + ": " + c.defect);
    const Answers a = drive(entry, c.bytes, c.frames.size());
    ASSERT_TRUE(a.open == 0 || a.open == imBadFile) << a.open;
    const bool described = a.open == 0 && a.info == 0;
    if (a.open == 0) {
        ASSERT_TRUE(a.info == 0 || a.info == imBadFile) << a.info;
    }
    switch (c.opens) {
    case Opens::Yes:
        ASSERT_TRUE(described) << "open " << a.open << ", info " << a.info;
        break;
    case Opens::Refused:
        EXPECT_EQ(a.open, imBadFile);
        break;
    case Opens::NoVideo:
        EXPECT_FALSE(described);
        break;
    case Opens::Any:
        break;
    }
    if (described && !c.frames.empty()) {
        EXPECT_EQ(a.frames, c.frames);
    }
}

class HostileThroughThePlugin : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        entry = keo::host::keptEntry(KEO_PLUGIN_PATH, &why);
        ASSERT_NE(entry, nullptr) << "cannot load " << KEO_PLUGIN_PATH << ": " << why;
    }
    // Every case of one kind.
    void checkKind(keofaults::Kind kind) {
        int checked = 0;
        for (const HostileCase& c : keofaults::hostileCases())
            if (c.kind == kind) {
                checkCase(entry, c);
                checked++;
            }
        EXPECT_GT(checked, 0);
    }
    ImportEntryFunc entry = nullptr;
};

TEST_F(HostileThroughThePlugin, AtomStructure) {
    checkKind(keofaults::Kind::Structure);
}

TEST_F(HostileThroughThePlugin, SampleTables) {
    checkKind(keofaults::Kind::Tables);
}

TEST_F(HostileThroughThePlugin, SampleDescriptions) {
    checkKind(keofaults::Kind::Descriptions);
}

TEST_F(HostileThroughThePlugin, TrackDimensions) {
    checkKind(keofaults::Kind::Dimensions);
}

// Deep nesting on the stack size of a host's worker thread: the refusal
// must not depend on the main thread's large stack.
TEST_F(HostileThroughThePlugin, DeepNestingOnASmallThreadStack) {
    const keotest::Bytes& bytes = keofaults::hostileCase("cmov-nested-10000").bytes;
    int32_t open = -1;
    ASSERT_TRUE(keotest::runOnSmallStack([&] { open = drive(entry, bytes, 0).open; }));
    EXPECT_EQ(open, imBadFile);
}

} // namespace
