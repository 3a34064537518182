// The exporter's frame encode reads its three codec settings from the export
// record on every frame: the codec itself takes them only as arguments.
#include "ExportFixture.h"

#include "exporter/ExportParams.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

using export_test::ExportTest;

std::vector<std::string> g_asked;
const char* g_refused = "";
PrSDKExportParamSuite g_host;

prSuiteError recordingParams(uint32_t id, int32_t group, exParamIdentifier identifier,
                             exParamValues* value) {
    g_asked.push_back(identifier);
    if (std::strcmp(identifier, g_refused) == 0)
        return suiteError_NotFound;
    return g_host.GetParamValue(id, group, identifier, value);
}

// Whatever the host holds decides the layout: each combination gives the
// bytes of the encoder called with the same values, and a host that changes
// a setting between two frames is heard on the next frame.
TEST_F(ExportTest, FrameEncodeUsesTheSettingsTheHostHoldsNow) {
    const int width = 20, height = 36;
    const auto picture = export_test::sourceARGB(0, width, height, true);
    uint64_t capacity = 0;
    ASSERT_TRUE(KEOMaxFramePayloadSize(width, height, &capacity));
    std::vector<unsigned char> viaRecord(capacity), direct(capacity);
    const struct {
        int transparency, optimizeFor, threads;
    } cases[] = {{0, 0, 1}, {0, 1, 2}, {0, 2, 4}, {1, 0, 1}, {0, 7, 1}};
    for (const auto& c : cases) {
        keo::host::setParamInt(host, "KEOTransparency", c.transparency);
        keo::host::setParamInt(host, "KEOOptimizeFor", c.optimizeFor);
        keo::host::setParamInt(host, "KEOEncodeThreads", c.threads);
        const int length =
            CompressDXTFrame(const_cast<unsigned char*>(picture.data()), viaRecord.data(), width,
                             height, width * 4, &exportRecord);
        const int expected = CompressDXTFrame(picture.data(), direct.data(), width, height,
                                              width * 4, c.transparency, c.optimizeFor, c.threads);
        ASSERT_GT(expected, 0);
        ASSERT_EQ(length, expected) << c.transparency << " " << c.optimizeFor;
        EXPECT_EQ(0, std::memcmp(viaRecord.data(), direct.data(), static_cast<size_t>(length)));
    }
}

// A setting the host cannot give fails the frame before anything is written:
// guessing a value would store a frame in a layout the user did not choose.
TEST_F(ExportTest, FrameEncodeFailsWhenAnySettingCannotBeRead) {
    const int width = 16, height = 8;
    const auto picture = export_test::sourceARGB(0, width, height, false);
    std::vector<unsigned char> dest(4096, 0xEE);
    g_host = *s.exportParam;
    PrSDKExportParamSuite params = *s.exportParam;
    params.GetParamValue = &recordingParams;
    rec.exportParamSuite = &params;

    g_refused = "";
    g_asked.clear();
    EXPECT_GT(CompressDXTFrame(const_cast<unsigned char*>(picture.data()), dest.data(), width,
                               height, width * 4, &exportRecord),
              0);
    EXPECT_EQ(g_asked,
              (std::vector<std::string>{"KEOTransparency", "KEOOptimizeFor", "KEOEncodeThreads"}));

    for (const char* id : {"KEOTransparency", "KEOOptimizeFor", "KEOEncodeThreads"}) {
        g_refused = id;
        std::fill(dest.begin(), dest.end(), 0xEE);
        EXPECT_EQ(CompressDXTFrame(const_cast<unsigned char*>(picture.data()), dest.data(), width,
                                   height, width * 4, &exportRecord),
                  0)
            << id;
        EXPECT_EQ(dest[0], 0xEE) << id;
    }
    EXPECT_EQ(CompressDXTFrame(const_cast<unsigned char*>(picture.data()), dest.data(), width,
                               height, width * 4, nullptr),
              0);
    rec.exportParamSuite = s.exportParam;
}

} // namespace
