// The Export Param Suite: defaults, driver-set values and refused lookups.
#include "HostFixture.h"

using namespace keo::host;

namespace {

exParamValues read(const HostSuites& s, uint32_t id, const char* identifier, prSuiteError* result) {
    exParamValues v{};
    *result = s.exportParam->GetParamValue(id, 0, identifier, &v);
    return v;
}

} // namespace

TEST_F(HostTest, ExportParamsHaveDefaultsInTheirOwnMembers) {
    const uint32_t id = makeExportRec(host, nullptr, 0, 0).exporterPluginID;
    prSuiteError r;
    EXPECT_EQ(read(s, id, "ADBEVideoWidth", &r).value.intValue, 640);
    EXPECT_EQ(read(s, id, "ADBEVideoHeight", &r).value.intValue, 480);
    EXPECT_EQ(read(s, id, "ADBEVideoFPS", &r).value.timeValue, 8467200000);
    exParamValues rate = read(s, id, "ADBEAudioRatePerSecond", &r);
    EXPECT_EQ(rate.value.floatValue, 48000.0);
    EXPECT_EQ(rate.value.intValue, 0); // only the member the parameter uses is set
    EXPECT_EQ(read(s, id, "ADBEAudioNumChannels", &r).value.intValue, 2);
    EXPECT_EQ(read(s, id, "ADBEAudioSampleType", &r).value.intValue, 3);
    EXPECT_EQ(read(s, id, "KEOTransparency", &r).value.intValue, 0);
    EXPECT_EQ(read(s, id, "KEOOptimizeFor", &r).value.intValue, 0);
    EXPECT_EQ(read(s, id, "KEOEncodeThreads", &r).value.intValue, 1);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(count().paramReads, 9);
}

TEST_F(HostTest, DriverSetsExportParams) {
    const uint32_t id = makeExportRec(host, nullptr, 0, 0).exporterPluginID;
    setParamInt(host, "KEOTransparency", 1);
    setParamFloat(host, "ADBEAudioRatePerSecond", 44100.0);
    setParamTime(host, "ADBEVideoFPS", 10160640000);
    setParamInt(host, "MyOwnParam", 5);
    prSuiteError r;
    EXPECT_EQ(read(s, id, "KEOTransparency", &r).value.intValue, 1);
    EXPECT_EQ(read(s, id, "ADBEAudioRatePerSecond", &r).value.floatValue, 44100.0);
    EXPECT_EQ(read(s, id, "ADBEVideoFPS", &r).value.timeValue, 10160640000);
    EXPECT_EQ(read(s, id, "MyOwnParam", &r).value.intValue, 5);
}

TEST_F(HostTest, UnknownParamExporterOrGroupIsAnError) {
    const uint32_t id = makeExportRec(host, nullptr, 0, 0).exporterPluginID;
    prSuiteError r;
    exParamValues v{};
    read(s, id, "KEOTransparancy", &r);
    EXPECT_EQ(r, suiteError_NotFound);
    read(s, id + 1, "KEOTransparency", &r);
    EXPECT_NE(r, 0);
    EXPECT_NE(s.exportParam->GetParamValue(id, 1, "KEOTransparency", &v), 0);
    EXPECT_NE(s.exportParam->GetParamValue(id, 0, nullptr, &v), 0);
    EXPECT_NE(s.exportParam->GetParamValue(id, 0, "KEOTransparency", nullptr), 0);
}
