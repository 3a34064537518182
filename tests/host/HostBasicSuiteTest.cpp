// SPBasicSuite: suites by name and version, and counts that prove they come back.
#include "HostFixture.h"

#include <string>
#include <utility>
#include <vector>

using namespace keo::host;

namespace {

const std::pair<const char*, int32_t> kAllSuites[] = {
    {kPrSDKPPixCreatorSuite, 1},    {kPrSDKPPixCacheSuite, 8},     {kPrSDKPPixSuite, 1},
    {kPrSDKTimeSuite, 1},           {kPrSDKAudioSuite, 1},         {kPrSDKExportParamSuite, 1},
    {kPrSDKSequenceRenderSuite, 1}, {kPrSDKSequenceAudioSuite, 1}, {kPrSDKMemoryManagerSuite, 1},
};

} // namespace

TEST_F(HostTest, EverySuiteIsAcquiredByNameAndVersionAndReleased) {
    SPBasicSuite* basic = importerStdParms(host)->piSuites->utilFuncs->getSPBasicSuite();
    ASSERT_EQ(basic, exporterStdParms(host)->getSPBasicSuite());
    for (const auto& suite : kAllSuites) {
        const void* table = nullptr;
        ASSERT_EQ(basic->AcquireSuite(suite.first, suite.second, &table), kSPNoError)
            << suite.first;
        EXPECT_NE(table, nullptr);
    }
    EXPECT_EQ(count().suitesHeld, 9);
    EXPECT_EQ(suiteHeld(host, kPrSDKPPixCacheSuite, 8), 1);
    EXPECT_NE(leakReport(host).find("\"Premiere Time Suite\" version 1"), std::string::npos);
    for (const auto& suite : kAllSuites)
        EXPECT_EQ(basic->ReleaseSuite(suite.first, suite.second), kSPNoError);
    HostCounters c = count();
    EXPECT_EQ(c.suitesAcquired, 9);
    EXPECT_EQ(c.suitesReleased, 9);
    EXPECT_EQ(c.suitesHeld, 0);
}

TEST_F(HostTest, SuiteCallsAreLoggedInOrder) {
    const void* table = nullptr;
    s.basic->AcquireSuite(kPrSDKPPixSuite, 1, &table);
    s.basic->AcquireSuite(kPrSDKTimeSuite, 1, &table);
    s.basic->AcquireSuite(kPrSDKTimeSuite, 2, &table); // refused: not logged
    s.basic->ReleaseSuite(kPrSDKPPixSuite, 1);
    s.basic->ReleaseSuite(kPrSDKTimeSuite, 1);
    EXPECT_EQ(suiteCalls(host), (std::vector<std::string>{"acquire Premiere PPix Suite 1",
                                                          "acquire Premiere Time Suite 1",
                                                          "release Premiere PPix Suite 1",
                                                          "release Premiere Time Suite 1"}));
}

TEST_F(HostTest, InterfaceVersionReachesBothSides) {
    EXPECT_EQ(importerStdParms(host)->imInterfaceVer, 6);
    setInterfaceVersion(host, 5);
    EXPECT_EQ(importerStdParms(host)->imInterfaceVer, 5);
    EXPECT_EQ(exporterStdParms(host)->interfaceVer, 5);
}

TEST_F(HostTest, AcquiredTablesAreTheWorkingOnes) {
    const void* table = nullptr;
    ASSERT_EQ(s.basic->AcquireSuite(kPrSDKTimeSuite, 1, &table), kSPNoError);
    PrTime ticks = 0;
    EXPECT_EQ(static_cast<const PrSDKTimeSuite*>(table)->GetTicksPerSecond(&ticks), 0);
    EXPECT_EQ(ticks, kTicksPerSecond);
    s.basic->ReleaseSuite(kPrSDKTimeSuite, 1);
}

TEST_F(HostTest, UnknownNameOrVersionIsRefused) {
    const void* table = nullptr;
    EXPECT_EQ(s.basic->AcquireSuite(kPrSDKPPixCacheSuite, 7, &table), kSPSuiteNotFoundError);
    EXPECT_EQ(s.basic->AcquireSuite("Premiere PPix Suite ", 1, &table), kSPSuiteNotFoundError);
    EXPECT_EQ(s.basic->AcquireSuite(nullptr, 1, &table), kSPBadParameterError);
    EXPECT_EQ(s.basic->AcquireSuite(kPrSDKPPixSuite, 1, nullptr), kSPBadParameterError);
    EXPECT_EQ(table, nullptr);
    EXPECT_EQ(count().acquireFailures, 4);
    EXPECT_EQ(count().suitesHeld, 0);
}

TEST_F(HostTest, ReleaseWithoutAcquireIsAViolation) {
    expectClean = false;
    const void* table = nullptr;
    s.basic->AcquireSuite(kPrSDKAudioSuite, 1, &table);
    EXPECT_EQ(s.basic->ReleaseSuite(kPrSDKAudioSuite, 1), kSPNoError);
    EXPECT_NE(s.basic->ReleaseSuite(kPrSDKAudioSuite, 1), kSPNoError);
    EXPECT_NE(s.basic->ReleaseSuite("No Such Suite", 1), kSPNoError);
    EXPECT_EQ(count().violations, 2);
    EXPECT_EQ(count().suitesReleased, 1);
}

TEST(HostSlots, TwoHostsKeepTheirOwnState) {
    StandInHost* a = createHost();
    StandInHost* b = createHost();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    PlugMemoryFuncs* memA = importerStdParms(a)->piSuites->memFuncs;
    PlugMemoryFuncs* memB = importerStdParms(b)->piSuites->memFuncs;
    PrMemoryHandle h = memA->newHandle(8);
    EXPECT_EQ(counters(a).handlesLive, 1);
    EXPECT_EQ(counters(b).handlesLive, 0);
    memB->disposeHandle(h); // not b's handle
    EXPECT_EQ(counters(b).violations, 1);
    EXPECT_EQ(counters(a).handlesLive, 1);
    memA->disposeHandle(h);
    destroyHost(b);
    destroyHost(a);
}

TEST(HostSlots, SlotsRunOutAndAreReusedAndStaleTablesFailHarmlessly) {
    StandInHost* hosts[kMaxHosts];
    for (auto& h : hosts) {
        h = createHost();
        ASSERT_NE(h, nullptr);
    }
    EXPECT_EQ(createHost(), nullptr);
    HostSuites stale = hostSuites(hosts[0]);
    destroyHost(hosts[0]);
    const void* table = nullptr;
    SPBasicSuite* basic = stale.basic;
    EXPECT_NE(basic->AcquireSuite(kPrSDKTimeSuite, 1, &table), kSPNoError);
    EXPECT_EQ(stale.memoryManager->NewPtr(4), nullptr);
    hosts[0] = createHost();
    EXPECT_NE(hosts[0], nullptr);
    for (auto& h : hosts)
        destroyHost(h);
}
