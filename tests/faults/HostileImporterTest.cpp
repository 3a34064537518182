// The hostile movies of tests/support/HostileCases.h driven through the
// plug-in module as a host drives it: each movie is opened with
// imOpenFile8, described, and its frames requested; the answers must be the
// ones each case allows, every call must return, and a fresh stand-in host per
// movie must get back everything it handed out. The container tests check the
// reader's own answers to the same movies; this checks what the host sees.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "StandInHost.h"
#include "support/HostileCases.h"
#include "support/SmallStack.h"

namespace {

using keofaults::HostileCase;
using keofaults::Opens;

ImportEntryFunc pluginEntry() {
    static ImportEntryFunc entry = [] {
        void* module = dlopen(KEO_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        return module ? reinterpret_cast<ImportEntryFunc>(dlsym(module, "xImportEntry")) : nullptr;
    }();
    return entry;
}

std::vector<prUTF16Char> utf16(const std::string& s) {
    std::vector<prUTF16Char> out(s.begin(), s.end());
    out.push_back(0);
    return out;
}

struct Answers {
    int32_t open = -1, info = -1;
    std::vector<int32_t> frames;
};

// Opens, describes and asks for `frameCount` frames; closes and checks that
// the host got everything back.
Answers drive(ImportEntryFunc entry, const keotest::Bytes& bytes, size_t frameCount) {
    Answers a;
    keotest::TempFile file(bytes);
    std::vector<prUTF16Char> path = utf16(file.path);
    keo::host::StandInHost* host = keo::host::createHost();
    imStdParms* std = keo::host::importerStdParms(host);
    imImportInfoRec init{};
    entry(imInit, std, &init, nullptr);

    imFileRef ref = imInvalidFileRef;
    imFileOpenRec8 open{};
    open.fileinfo.filepath = path.data();
    a.open = entry(imOpenFile8, std, &ref, &open);
    void* privateData = open.privatedata;
    if (a.open == 0) {
        imFileAccessRec8 access{};
        access.filepath = path.data();
        access.fileref = ref;
        imFileInfoRec8 info{};
        info.privatedata = privateData;
        a.info = entry(imGetInfo8, std, &access, &info);
        privateData = info.privatedata;
        if (a.info == 0 && info.vidScale > 0) {
            const PrTime ticks = keo::host::kTicksPerSecond / info.vidScale * info.vidSampleSize;
            for (size_t f = 0; f < frameCount; f++) {
                imFrameFormat format{info.vidInfo.imageWidth, info.vidInfo.imageHeight,
                                     PrPixelFormat_ARGB_4444_8u};
                imSourceVideoRec rec{};
                rec.inPrivateData = privateData;
                rec.inFrameTime = static_cast<PrTime>(f) * ticks;
                rec.inFrameFormat = &format;
                PPixHand frame = nullptr;
                rec.outFrame = &frame;
                a.frames.push_back(entry(imGetSourceVideo, std, nullptr, &rec));
                if (frame)
                    keo::host::hostSuites(host).ppix->Dispose(frame);
            }
        }
    }
    if (privateData) {
        EXPECT_EQ(entry(imCloseFile, std, &ref, privateData), 0);
    }
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
        entry = pluginEntry();
        ASSERT_NE(entry, nullptr) << "cannot load " << KEO_PLUGIN_PATH;
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
