// Frames decoded with the standing decode workers: the LZF pipeline of large
// frames, and a frame decoded on a worker beside the caller's. Every path
// must give the single-thread decode's pixels; a stream that fails part-way
// must fail the frame; a caller must never wait for, or be written to by, a
// worker after it has moved on; and a forked child must decode on workers of
// its own.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "codec/DecodeWorkers.h"
#include "codec/FrameDecodeAhead.h"
#include "codec/FrameEncoder.h"
#include "codec/FramePayload.h"
#include "codec/PipelinedDecode.h"
#include "codec/encode_picture.h"
#include "decode_support.h"

using namespace decode_test;

namespace {

bool haveWorkers() {
    return KEOAllowedDecodeThreads() >= 2;
}

// Seeded blocks with runs of repeated blocks, so that LZF has references of
// many lengths and distances to make, as in real frames.
std::vector<unsigned char> compressibleBlocks(Layout layout, int width, int height, uint32_t seed) {
    auto blocks = randomBlockData(layout, width, height, seed);
    const size_t size = static_cast<size_t>(blockSizeOf(layout));
    for (size_t at = size; at + size <= blocks.size(); at += size)
        if ((at / size) % 5 != 0)
            std::memcpy(&blocks[at], &blocks[at - size], size / 2 + (at / size) % (size / 2));
    return blocks;
}

struct Frame {
    int result;
    std::vector<unsigned char> pixels;
};

// The sample into a padded frame, bottom row first, as hosts lay frames out.
Frame decodeInto(const std::vector<unsigned char>& sample, int width, int height) {
    const long long pitch = width * 4LL + 12;
    Frame f{0, std::vector<unsigned char>(static_cast<size_t>(pitch) * height, kUntouched)};
    const HeapBytes bytes(sample);
    f.result = DecodeFramePayloadInto(bytes.data(), static_cast<unsigned>(bytes.size), width,
                                      height, f.pixels.data(), pitch, true);
    return f;
}

Frame decodeOnOneThread(const std::vector<unsigned char>& sample, int width, int height) {
    SettingGuard guard;
    KEOSetDecodeThreads(1);
    return decodeInto(sample, width, height);
}

// With two threads set explicitly the workers never rest, so a slow test
// machine still takes the pipeline.
Frame decodeOnTwoThreads(const std::vector<unsigned char>& sample, int width, int height) {
    SettingGuard guard;
    KEOSetDecodeThreads(2);
    return decodeInto(sample, width, height);
}

TEST(DecodePipeline, LargeLZFFramesDecodeAsOnOneThread) {
    if (!haveWorkers())
        GTEST_SKIP() << "one core: nothing to pipeline";
    // The smallest frame pipelined, sides that are no multiple of 4, a
    // portrait frame, and one in which the worker is woken late.
    const int sizes[][2] = {{1920, 1080}, {1921, 1083}, {1080, 1920}, {2000, 1100}};
    const Layout layouts[] = {Layout::DXT1, Layout::DXT5, Layout::DXT24, Layout::DXT24Alpha};
    uint32_t seed = 300;
    for (Layout layout : layouts)
        for (const auto& size : sizes) {
            const int w = size[0], h = size[1];
            ASSERT_TRUE(KEOPipelineWanted(w, h));
            const auto sample = lzfSample(layout, compressibleBlocks(layout, w, h, seed++));
            ASSERT_FALSE(sample.empty());
            const Frame alone = decodeOnOneThread(sample, w, h);
            ASSERT_EQ(alone.result, kKEODecodeOK);
            for (int run = 0; run < 3; ++run) {
                const Frame piped = decodeOnTwoThreads(sample, w, h);
                EXPECT_EQ(piped.result, kKEODecodeOK);
                EXPECT_TRUE(piped.pixels == alone.pixels)
                    << w << "x" << h << ", layout " << int(layout) << ", run " << run;
            }
        }
    EXPECT_FALSE(KEOPipelineWanted(1920, 1079));
}

// The frame encoder's streams are one per band of block rows, so the worker
// can unpack from a band's start past the middle while the caller unpacks
// from the beginning. Made so (the caller waiting for the worker, which a
// slow machine might otherwise not run in time), whole frames come out as on
// one thread; a stream one byte short, or with a token left over after the
// frame, fails as on one thread (the worker's half is then not used); and a
// stream compressed in one piece, which cannot be unpacked from its middle,
// decodes all the same.
TEST(DecodePipeline, EncoderFramesUnpackFromBothEndsToTheOneThreadPixels) {
    if (!haveWorkers())
        GTEST_SKIP() << "one core: nothing to pipeline";
    SettingGuard guard;
    KEOSetDecodeThreads(2);
    struct WaitGuard {
        WaitGuard() { KEOPipelineWaitsForWorkerForTesting(true); }
        ~WaitGuard() { KEOPipelineWaitsForWorkerForTesting(false); }
    } wait;
    const int sizes[][2] = {{1920, 1080}, {1922, 1083}};
    for (const auto& size : sizes)
        for (KEOBlockLayout layout : {kKEOLayoutDXT1, kKEOLayoutDXT5, kKEOLayoutDXT24}) {
            const int w = size[0], h = size[1];
            SCOPED_TRACE(testing::Message() << w << "x" << h << " " << KEOLayoutName(layout));
            const auto picture = encode_test::naturalPicture(w, h, 5, layout == kKEOLayoutDXT5);
            uint64_t room = 0;
            ASSERT_TRUE(KEOMaxFramePayloadSize(w, h, &room));
            std::vector<unsigned char> whole(room);
            const int length = KEOEncodeFrame(picture.data(), whole.data(), w, h, 0,
                                              KEOEncodeSettings{layout, true, false, 2});
            ASSERT_GT(length, kKEOFrameHeaderSize);
            whole.resize(static_cast<size_t>(length));
            ASSERT_EQ(whole[6], 1) << "the picture should compress";
            std::vector<unsigned char> cut(whole.begin(), whole.end() - 1);
            auto leftover = whole;
            leftover.insert(leftover.end(), {0x00, 0x42});
            for (auto* s : {&cut, &leftover}) {
                const uint32_t n = static_cast<uint32_t>(s->size() - kKEOFrameHeaderSize);
                for (int i = 0; i < 4; ++i)
                    (*s)[16 + i] = static_cast<unsigned char>(n >> (8 * i));
            }
            const uint64_t before = KEOFramesUnpackedFromBothEnds();
            const Frame both = decodeInto(whole, w, h);
            EXPECT_EQ(KEOFramesUnpackedFromBothEnds(), before + 1);
            EXPECT_EQ(both.result, kKEODecodeOK);
            EXPECT_TRUE(both.pixels == decodeOnOneThread(whole, w, h).pixels);
            EXPECT_EQ(decodeInto(cut, w, h).result, kKEODecodeFailed);
            EXPECT_EQ(decodeInto(leftover, w, h).result, kKEODecodeFailed);
        }
    // Every block row the one above it with a byte changed here and there:
    // compressed in one piece, its references reach a row back across any
    // start the worker could take.
    const int w = 1920, h = 1080;
    auto blocks = randomBlockData(Layout::DXT5, w, h, 3);
    const size_t row = (w / 4) * 16;
    for (size_t at = row; at < blocks.size(); ++at)
        if (at % 61 != 0)
            blocks[at] = blocks[at - row];
    const auto onePiece = lzfSample(Layout::DXT5, blocks);
    const uint64_t before = KEOFramesUnpackedFromBothEnds();
    const Frame f = decodeInto(onePiece, w, h);
    EXPECT_EQ(KEOFramesUnpackedFromBothEnds(), before);
    EXPECT_EQ(f.result, kKEODecodeOK);
    EXPECT_TRUE(f.pixels == decodeOnOneThread(onePiece, w, h).pixels);
}

// A stream refused at its first token, streams cut short early, half-way and
// just before their end (the pipeline has decoded most rows by then), and
// one with a token left over after the frame: each is a failed frame, on
// the pipeline as on one thread, and the next good frame decodes whole.
TEST(DecodePipeline, StreamsThatFailPartWayFailTheFrame) {
    const int w = 1920, h = 1080;
    const auto good = lzfSample(Layout::DXT5, compressibleBlocks(Layout::DXT5, w, h, 41));
    ASSERT_FALSE(good.empty());
    const size_t payload = good.size() - kKEOFrameHeaderSize;
    std::vector<std::vector<unsigned char>> bad;
    auto backFirst = good; // a reference 8192 bytes back before any output
    backFirst.insert(backFirst.begin() + kKEOFrameHeaderSize, {0x3F, 0xFF});
    bad.push_back(backFirst);
    for (double at : {0.001, 0.5, 0.999}) {
        auto cut = good;
        cut.resize(kKEOFrameHeaderSize + static_cast<size_t>(payload * at));
        bad.push_back(cut);
    }
    auto leftover = good;
    leftover.insert(leftover.end(), {0x00, 0x42});
    bad.push_back(leftover);
    for (auto& s : bad) {
        // payloadSize as the bytes say, so only the stream itself is wrong.
        const uint32_t size = static_cast<uint32_t>(s.size() - kKEOFrameHeaderSize);
        for (int i = 0; i < 4; ++i)
            s[16 + i] = static_cast<unsigned char>(size >> (8 * i));
        EXPECT_EQ(decodeOnTwoThreads(s, w, h).result, kKEODecodeFailed) << s.size() << " bytes";
        EXPECT_EQ(decodeOnOneThread(s, w, h).result, kKEODecodeFailed) << s.size() << " bytes";
    }
    const Frame again = decodeOnTwoThreads(good, w, h);
    EXPECT_EQ(again.result, kKEODecodeOK);
    EXPECT_TRUE(again.pixels == decodeOnOneThread(good, w, h).pixels);
}

// With every worker taken (other decodes of the process have them) a large
// frame is decoded by the caller alone, to the same pixels.
TEST(DecodePipeline, BusyWorkersLeaveTheFrameToTheCaller) {
    const int w = 1920, h = 1088;
    const auto sample = lzfSample(Layout::DXT1, compressibleBlocks(Layout::DXT1, w, h, 7));
    const Frame expected = decodeOnOneThread(sample, w, h);
    std::vector<KEODecodeWorker*> taken;
    while (KEODecodeWorker* worker = KEOClaimDecodeWorker())
        taken.push_back(worker);
    const Frame busy = decodeInto(sample, w, h);
    for (KEODecodeWorker* worker : taken)
        EXPECT_FALSE(KEOEndDecodeJob(worker)); // claimed, never posted
    EXPECT_EQ(busy.result, kKEODecodeOK);
    EXPECT_TRUE(busy.pixels == expected.pixels);
}

// While as many frames are being decoded as there are threads to use (two
// readers side by side, one frame each), every core has a frame: claims are
// refused (such a frame is decoded alone, as with busy workers); with one
// frame fewer a claim is granted again.
TEST(DecodeWorkers, NoClaimWhileEveryCoreHasAFrame) {
    if (!haveWorkers())
        GTEST_SKIP() << "one core: no workers";
    SettingGuard guard;
    KEOSetDecodeThreads(2);
    KEOFrameDecodeBegins();
    KEOFrameDecodeBegins();
    EXPECT_EQ(KEOClaimDecodeWorker(), nullptr);
    KEOFrameDecodeEnds();
    KEODecodeWorker* worker = KEOClaimDecodeWorker();
    EXPECT_NE(worker, nullptr);
    if (worker)
        KEOEndDecodeJob(worker);
    KEOFrameDecodeEnds();
}

// A job asleep waiting for progress that never comes is abandoned when its
// caller ends it: the caller does not wait, and the worker returns to the
// pool by itself.
struct WaitingJob {
    KEODecodeWorker* worker;
    std::atomic<uint32_t> progress{0};
};

void waitForever(void* arg) {
    WaitingJob* job = static_cast<WaitingJob*>(arg);
    KEOWorkerWaitFor(job->worker, job->progress, 100);
}

TEST(DecodeWorkers, AJobAsleepInAWaitIsAbandonedAndTheWorkerComesBack) {
    if (!haveWorkers())
        GTEST_SKIP() << "one core: no workers";
    SettingGuard guard;
    KEOSetDecodeThreads(2); // never resting, whatever the tests before did
    static WaitingJob job;  // outlives the worker's use of it
    job.worker = KEOClaimDecodeWorker();
    ASSERT_NE(job.worker, nullptr);
    KEOPostDecodeJob(job.worker, waitForever, &job, true);
    job.progress.store(5, std::memory_order_seq_cst);
    KEOReportProgress(job.worker, 5); // not enough: it stays asleep
    // Ending may find the job not yet taken (called off), asleep (abandoned)
    // or, never, run to its end.
    EXPECT_FALSE(KEOEndDecodeJob(job.worker));
    // Every worker is claimable again once the abandoned one has woken.
    for (;;) {
        std::vector<KEODecodeWorker*> taken;
        while (KEODecodeWorker* worker = KEOClaimDecodeWorker())
            taken.push_back(worker);
        for (KEODecodeWorker* worker : taken)
            KEOEndDecodeJob(worker);
        if (static_cast<int>(taken.size()) == KEOAllowedDecodeThreads() - 1)
            break;
        usleep(1000);
    }
}

// A job that kept its caller waiting for a worker the machine did not run
// makes the next claims go without (8, then 16 when it happens again before
// a job ends on time), under the automatic setting only.
TEST(DecodeWorkers, AfterALateWorkerTheNextClaimsDecodeAlone) {
    if (!haveWorkers())
        GTEST_SKIP() << "one core: no workers";
    SettingGuard guard;
    KEOSetDecodeThreads(kKEODecodeThreadsAuto);
    auto refusedBeforeAClaim = [] {
        int refused = 0;
        KEODecodeWorker* worker;
        while ((worker = KEOClaimDecodeWorker()) == nullptr && refused < 1000)
            ++refused;
        if (worker)
            KEOEndDecodeJob(worker);
        return refused;
    };
    KEODecodeWorkerOnTime();
    refusedBeforeAClaim(); // whatever an earlier test left
    KEODecodeWorkerLate();
    EXPECT_EQ(refusedBeforeAClaim(), 8);
    KEODecodeWorkerLate();
    EXPECT_EQ(refusedBeforeAClaim(), 16);
    KEODecodeWorkerOnTime();
    KEODecodeWorkerLate();
    KEOSetDecodeThreads(2);
    EXPECT_EQ(refusedBeforeAClaim(), 0);
    KEOSetDecodeThreads(kKEODecodeThreadsAuto);
    EXPECT_EQ(refusedBeforeAClaim(), 8);
    KEODecodeWorkerOnTime();
}

// Frame n + 1 decoded on a worker while the caller decodes frame n, as a
// reader in order does; a frame that fails fails alone; and with no worker
// idle the started frame is decoded at once.
TEST(FrameDecodeAhead, FramesDecodedBesideEachOtherAreTheSingleThreadFrames) {
    SettingGuard guard;
    KEOSetDecodeThreads(2); // a worker whenever one is idle
    const int w = 640, h = 360;
    const auto first = lzfSample(Layout::DXT5, compressibleBlocks(Layout::DXT5, w, h, 1));
    const auto second = plainSample(Layout::DXT24, randomBlockData(Layout::DXT24, w, h, 2));
    auto broken = first;
    broken.resize(broken.size() - 3);
    const std::vector<unsigned char>* order[][2] = {
        {&first, &second}, {&second, &first}, {&broken, &second}, {&first, &broken}};
    const long long pitch = w * 4;
    for (const auto& pair : order) {
        std::vector<unsigned char> ahead(static_cast<size_t>(pitch) * h, kUntouched);
        std::vector<unsigned char> here(ahead.size(), kUntouched);
        const HeapBytes aheadSample(*pair[1]), hereSample(*pair[0]);
        KEOFrameDecode next;
        KEOStartFrameDecode(&next, aheadSample.data(), static_cast<unsigned>(aheadSample.size), w,
                            h, ahead.data(), pitch, false);
        const int hereResult =
            DecodeFramePayloadInto(hereSample.data(), static_cast<unsigned>(hereSample.size), w, h,
                                   here.data(), pitch, false);
        const int aheadResult = KEOFinishFrameDecode(&next);
        const Decoded expectHere = decode(*pair[0], w, h);
        const Decoded expectAhead = decode(*pair[1], w, h);
        EXPECT_EQ(hereResult, expectHere.result);
        EXPECT_EQ(aheadResult, expectAhead.result);
        if (expectHere.result == kKEODecodeOK) {
            EXPECT_TRUE(here == expectHere.picture);
        }
        if (expectAhead.result == kKEODecodeOK) {
            EXPECT_TRUE(ahead == expectAhead.picture);
        }
    }

    KEOSetDecodeThreads(1);
    std::vector<unsigned char> frame(static_cast<size_t>(pitch) * h);
    KEOFrameDecode alone;
    EXPECT_FALSE(KEOStartFrameDecode(&alone, first.data(), static_cast<unsigned>(first.size()), w,
                                     h, frame.data(), pitch, false));
    EXPECT_EQ(KEOFinishFrameDecode(&alone), kKEODecodeOK);
    EXPECT_TRUE(frame == decode(first, w, h).picture);
}

// A child forked after the parent's workers started has none of their
// threads: it starts its own and its frames decode as the parent's do.
TEST(DecodeWorkers, AForkedChildDecodesOnWorkersOfItsOwn) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the thread sanitizer cannot start threads after a fork";
#endif
    const int w = 1920, h = 1080;
    const auto sample = lzfSample(Layout::DXT5, compressibleBlocks(Layout::DXT5, w, h, 9));
    const Frame parent = decodeOnTwoThreads(sample, w, h); // starts the parent's workers
    ASSERT_EQ(parent.result, kKEODecodeOK);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        bool same = true;
        for (int i = 0; i < 3; ++i) {
            const Frame f = decodeOnTwoThreads(sample, w, h);
            same = same && f.result == kKEODecodeOK && f.pixels == parent.pixels;
        }
        _exit(same ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
