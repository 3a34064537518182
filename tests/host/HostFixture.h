// A fresh stand-in host per test, checked for leaks unless the test opts out.
#pragma once

#include "StandInHost.h"

#include <gtest/gtest.h>

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        host = keo::host::createHost();
        ASSERT_NE(host, nullptr);
        s = keo::host::hostSuites(host);
    }
    void TearDown() override {
        if (expectClean) {
            EXPECT_EQ(keo::host::leakReport(host), "");
        }
        keo::host::destroyHost(host);
    }
    keo::host::HostCounters count() { return keo::host::counters(host); }

    keo::host::StandInHost* host = nullptr;
    keo::host::HostSuites s{};
    bool expectClean = true; // tests that leave things out on purpose clear it
};
