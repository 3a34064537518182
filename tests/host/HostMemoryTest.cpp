// Memory functions and the Memory Manager Suite: counting, validation, limits.
#include "HostFixture.h"

#include <cstring>

using namespace keo::host;

TEST_F(HostTest, HandlesAreCountedAndPointToTheirBlock) {
    PlugMemoryFuncs* mem = importerStdParms(host)->piSuites->memFuncs;
    PrMemoryHandle a = mem->newHandle(1216);
    PrMemoryHandle b = mem->newHandle(0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(mem->getHandleSize(a), 1216u);
    // Fresh memory is not zeroed, so an importer must clear it itself.
    EXPECT_EQ(static_cast<unsigned char>((*a)[0]), 0xA5);
    EXPECT_EQ(static_cast<unsigned char>((*a)[1215]), 0xA5);
    EXPECT_EQ(count().handlesLive, 2);
    EXPECT_NE(leakReport(host), "");

    mem->lockHandle(a);
    mem->lockHandle(a);
    EXPECT_EQ(count().handlesLocked, 1);
    mem->unlockHandle(a);
    mem->unlockHandle(a);
    EXPECT_EQ(count().handlesLocked, 0);

    mem->disposeHandle(a);
    mem->disposeHandle(b);
    mem->disposeHandle(nullptr); // harmless, as on the real host
    HostCounters c = count();
    EXPECT_EQ(c.handlesCreated, 2);
    EXPECT_EQ(c.handlesDisposed, 2);
    EXPECT_EQ(c.handlesLive, 0);
    EXPECT_EQ(c.violations, 0);
}

TEST_F(HostTest, HandleMisuseIsReportedNotFollowed) {
    expectClean = false;
    PlugMemoryFuncs* mem = s.memFuncs;
    PrMemoryHandle h = mem->newHandle(16);
    mem->unlockHandle(h); // never locked
    mem->disposeHandle(h);
    mem->disposeHandle(h); // second disposal
    char* notOurs[1] = {nullptr};
    mem->lockHandle(notOurs);
    EXPECT_EQ(count().violations, 3);
    EXPECT_EQ(count().handlesDisposed, 1);
    EXPECT_NE(leakReport(host).find("violation: disposeHandle"), std::string::npos);
}

TEST_F(HostTest, SetHandleSizeKeepsContentsAndRefusesToMoveALockedBlock) {
    PrMemoryHandle h = s.memFuncs->newHandle(4);
    std::memcpy(*h, "abcd", 4);
    ASSERT_EQ(s.memFuncs->setHandleSize(h, 8), 0);
    EXPECT_EQ(std::string(*h, 4), "abcd");
    EXPECT_EQ(s.memFuncs->getHandleSize(h), 8u);
    s.memFuncs->lockHandle(h);
    EXPECT_NE(s.memFuncs->setHandleSize(h, 64), 0);
    EXPECT_EQ(s.memFuncs->setHandleSize(h, 2), 0);
    s.memFuncs->unlockHandle(h);
    s.memFuncs->disposeHandle(h);
}

TEST_F(HostTest, PointersFromBothTablesAreCounted) {
    PrMemoryPtr a = s.memoryManager->NewPtr(100);
    PrMemoryPtr b = s.memFuncs->newPtr(10);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(s.memFuncs->getPtrSize(a), 100u);
    EXPECT_EQ(count().ptrsLive, 2);
    s.memoryManager->PrDisposePtr(a);
    s.memFuncs->disposePtr(b);
    EXPECT_EQ(count().ptrsDisposed, 2);

    expectClean = false;
    s.memoryManager->PrDisposePtr(a); // twice
    EXPECT_EQ(count().violations, 1);
}

TEST_F(HostTest, AllocationLimitMakesHostMemoryRunOut) {
    setAllocationLimit(host, 1);
    PrMemoryHandle h = s.memFuncs->newHandle(8);
    EXPECT_NE(h, nullptr);
    EXPECT_EQ(s.memFuncs->newHandle(8), nullptr);
    EXPECT_EQ(s.memoryManager->NewPtr(8), nullptr);
    setAllocationLimit(host, -1);
    PrMemoryPtr p = s.memoryManager->NewPtr(8);
    EXPECT_NE(p, nullptr);
    s.memFuncs->disposeHandle(h);
    s.memoryManager->PrDisposePtr(p);
}

TEST_F(HostTest, DestroyFreesWhatIsStillOut) {
    expectClean = false;
    s.memFuncs->newHandle(32);
    s.memoryManager->NewPtr(32);
    EXPECT_EQ(leakReport(host),
              "1 memory handle(s) not disposed\n1 memory pointer(s) not disposed\n");
    // TearDown destroys the host; the sanitizer build proves nothing leaks.
}
