// Encoder worker threads: byte-identical threaded encodes, failure of
// semaphores and threads, semaphore names, and shutdown.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "codec/BandedEncode.h"
#include "codec/DXT24Encode.h"
#include "codec/EncoderThreads.h"
#include "codec/FrameEncoder.h"
#include "codec/FramePayload.h"
#include "codec/encode_picture.h"

namespace {

size_t blockDataBytes(int width, int height, bool alpha) {
    return static_cast<size_t>((width + 3) / 4) * ((height + 3) / 4) * (alpha ? 18 : 10);
}

std::vector<unsigned char> singleThreadEncode(const std::vector<unsigned char>& picture, int width,
                                              int height, int rowBytes, bool alpha) {
    std::vector<unsigned char> out(blockDataBytes(width, height, alpha));
    _stbCompressARGB32_to24(out.data(), picture.data(), width, height, rowBytes, alpha);
    return out;
}

// A pool of its own, so that tests can use any number of workers whatever the
// process-wide pool already runs.
struct LocalPool {
    std::unique_ptr<ThreadInfo[]> infos;
    std::unique_ptr<pthread_t[]> ids;
    int count;
    int running;

    explicit LocalPool(int n) : infos(new ThreadInfo[n]), ids(new pthread_t[n]), count(n) {
        running = StartWorkers(infos.get(), ids.get(), count);
    }
    ~LocalPool() { StopWorkers(infos.get(), ids.get(), count); }

    // A DXT24 frame's bands on every running worker, as
    // stbCompressARGB32_to24_threaded hands them to the process-wide pool.
    std::vector<unsigned char> encode(const std::vector<unsigned char>& picture, int width,
                                      int height, int rowBytes, bool alpha) {
        std::vector<unsigned char> out(blockDataBytes(width, height, alpha));
        KEOBandedFrame frame;
        frame.source = picture.data();
        frame.width = width;
        frame.height = height;
        frame.rowBytes = rowBytes;
        frame.layout = alpha ? kKEOLayoutDXT24Alpha : kKEOLayoutDXT24;
        frame.compress = false;
        frame.blocks = out.data();
        frame.packed = nullptr;
        frame.packedLengths = nullptr;
        EXPECT_TRUE(KEOPlanBands(&frame));
        EncodeBandsOnWorkers(infos.get(), count, count, &frame);
        return out;
    }
};

TEST(ThreadedEncode, ByteIdenticalToSingleThreadForEveryWorkerCount) {
    const int width = 70;
    const int heights[] = {1, 4, 28, 29, 1080};
    for (int workers : {1, 2, 8, 32}) {
        LocalPool pool(workers);
        ASSERT_EQ(pool.running, workers);
        for (int height : heights) {
            const auto picture = encode_test::naturalPicture(width, height, height + workers);
            for (bool alpha : {false, true}) {
                EXPECT_EQ(pool.encode(picture, width, height, 0, alpha),
                          singleThreadEncode(picture, width, height, 0, alpha))
                    << workers << " workers, height " << height << ", alpha " << alpha;
            }
        }
    }
}

TEST(ThreadedEncode, RowPitchIsHonouredInEveryBand) {
    const int width = 13, height = 61, pitch = width * 4 + 20;
    std::vector<unsigned char> picture(static_cast<size_t>(pitch) * height);
    for (size_t i = 0; i < picture.size(); ++i)
        picture[i] = static_cast<unsigned char>(encode_test::hash3(static_cast<uint32_t>(i), 4, 4));
    LocalPool pool(5);
    EXPECT_EQ(pool.encode(picture, width, height, pitch, false),
              singleThreadEncode(picture, width, height, pitch, false));
}

// Test seams that fail chosen calls.
std::atomic<int> g_semCalls{0};
std::atomic<int> g_failSemEvery{0};
sem_t* failingSemOpen(const char* name, int oflag, mode_t mode, unsigned value) {
    const int call = g_semCalls++;
    if (g_failSemEvery > 0 && call % g_failSemEvery == 0)
        return SEM_FAILED;
    return sem_open(name, oflag, mode, value);
}

std::atomic<int> g_threadCalls{0};
int failingThreadCreate(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                        void* arg) {
    if (g_threadCalls++ % 3 == 1)
        return EAGAIN;
    return pthread_create(thread, attr, start, arg);
}

TEST(WorkerFailures, MissingSemaphoresLeaveTheirWorkersOut) {
    const int width = 44, height = 300;
    const auto picture = encode_test::naturalPicture(width, height, 8);
    const auto expected = singleThreadEncode(picture, width, height, 0, false);

    // Every third semaphore fails: records 0, 1, 3, 4, 6 lose one each.
    g_semCalls = 0;
    g_failSemEvery = 3;
    KEOSetSemOpenForTesting(failingSemOpen);
    {
        LocalPool pool(8);
        KEOSetSemOpenForTesting(nullptr);
        EXPECT_GT(pool.running, 0);
        EXPECT_LT(pool.running, 8);
        for (int i = 0; i < 8; ++i) {
            const bool complete =
                pool.infos[i].startSemaphore.handle && pool.infos[i].doneSemaphore.handle;
            EXPECT_EQ(pool.infos[i].running, complete) << i;
        }
        EXPECT_EQ(pool.encode(picture, width, height, 0, false), expected);
    }

    // No semaphore at all: the calling thread does the work.
    g_failSemEvery = 1;
    KEOSetSemOpenForTesting(failingSemOpen);
    {
        LocalPool pool(4);
        KEOSetSemOpenForTesting(nullptr);
        EXPECT_EQ(pool.running, 0);
        EXPECT_EQ(pool.encode(picture, width, height, 0, false), expected);
    }
}

TEST(WorkerFailures, ThreadsThatCannotStartAreLeftOut) {
    const int width = 36, height = 123;
    const auto picture = encode_test::naturalPicture(width, height, 9);
    g_threadCalls = 0;
    KEOSetThreadCreateForTesting(failingThreadCreate);
    LocalPool pool(6);
    KEOSetThreadCreateForTesting(nullptr);
    EXPECT_EQ(pool.running, 4);
    EXPECT_FALSE(pool.infos[1].running);
    EXPECT_FALSE(pool.infos[4].running);
    EXPECT_EQ(pool.encode(picture, width, height, 0, true),
              singleThreadEncode(picture, width, height, 0, true));
}

// Names of this process's semaphores still registered in /dev/shm.
std::vector<std::string> leftoverSemaphoreNames() {
    std::vector<std::string> names;
    const std::string prefix = "sem.keostart_" + std::to_string(getpid()) + "_";
    DIR* dir = opendir("/dev/shm");
    if (!dir)
        return names;
    while (dirent* entry = readdir(dir))
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0)
            names.push_back(entry->d_name);
    closedir(dir);
    return names;
}

TEST(WorkerSemaphores, AllOpenAtLoadAndNoNameLeftBehind) {
    for (const ThreadInfo& info : g_threadInfos) {
        EXPECT_NE(info.startSemaphore.handle, nullptr);
        EXPECT_NE(info.doneSemaphore.handle, nullptr);
    }
    EXPECT_TRUE(leftoverSemaphoreNames().empty());
    LocalPool pool(3);
    EXPECT_TRUE(leftoverSemaphoreNames().empty());
}

// The process-wide pool starts once, so each of these runs in a fresh process
// (a death test that must exit with 0). The exit also runs the shutdown that
// stops and joins the workers: a hang or a crash there fails the test.
class GlobalPool : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

int encodeAndCompare(int threads, int width, int height) {
    const auto picture = encode_test::naturalPicture(width, height, height);
    std::vector<unsigned char> out(blockDataBytes(width, height, false));
    stbCompressARGB32_to24_threaded(threads, out.data(), picture.data(), width, height, 0, false);
    return out == singleThreadEncode(picture, width, height, 0, false) ? 0 : 1;
}

int fewThreadsThenHundred() {
    int failures = 0;
    failures += encodeAndCompare(0, 40, 100);
    failures += encodeAndCompare(1, 40, 100);
    if (g_numDXT24Threads != 0)
        return 10; // threads 0 and 1 start no worker
    for (int height : {1, 4, 28, 29, 1080})
        failures += encodeAndCompare(100, 52, height);
    if (g_numDXT24Threads != 32)
        return 11;
    // A later count uses the workers already running.
    failures += encodeAndCompare(2, 52, 333);
    failures += encodeAndCompare(8, 52, 1080);
    if (g_numDXT24Threads != 32)
        return 12;
    return failures;
}

TEST_F(GlobalPool, FirstCountOfTwoOrMoreStartsTheWorkersForGood) {
    EXPECT_EXIT(std::exit(fewThreadsThenHundred()), ::testing::ExitedWithCode(0), "");
}

int twoThenMore() {
    int failures = encodeAndCompare(2, 1920, 1080);
    if (g_numDXT24Threads != 2)
        return 20;
    failures += encodeAndCompare(32, 17, 29);
    return g_numDXT24Threads == 2 ? failures : 21;
}

TEST_F(GlobalPool, TwoWorkersServeLaterRequestsForMore) {
    EXPECT_EXIT(std::exit(twoThenMore()), ::testing::ExitedWithCode(0), "");
}

// CompressDXTFrame hands fewer than 29 rows to the calling thread.
int frameHeightsDecideThreading() {
    const int width = 1920;
    std::vector<unsigned char> dest(kKEOFrameHeaderSize + blockDataBytes(width, 32, false));
    auto picture = encode_test::naturalPicture(width, 28, 1);
    if (CompressDXTFrame(picture.data(), dest.data(), width, 28, 0, 0, 0, 8) == 0)
        return 30;
    if (g_numDXT24Threads != 0)
        return 31;
    picture = encode_test::naturalPicture(width, 29, 1);
    if (CompressDXTFrame(picture.data(), dest.data(), width, 29, 0, 0, 0, 8) == 0)
        return 32;
    return g_numDXT24Threads == 8 ? 0 : 33;
}

TEST_F(GlobalPool, FramesOfFewerThan29RowsStayOnTheCallingThread) {
    EXPECT_EXIT(std::exit(frameHeightsDecideThreading()), ::testing::ExitedWithCode(0), "");
}

} // namespace
