// Failures of the writer: files that cannot be made, arguments and calls out
// of order, chunks and durations too large for their 32-bit fields (a full
// disk: writer_disk_full_test.cpp). Each is reported by the call that met
// it, and the file then either has no movie atom (the importer refuses it)
// or opens with exactly the chunks that succeeded.
#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>

#include "container/MovFile.h"
#include "container/QuicktimeFile.h"
#include "writer_support.h"

using namespace writertest;

namespace {

char kZuvm[] = "ZUVM";

// A 32 x 32 movie (with sound when asked) being written that already holds
// one good frame `a`, so there is something a later failure must leave
// readable.
struct OneFrameWritten {
    TempMovie temp;
    MovFile movie;
    Bytes a = pattern(100, 0);
    bool ok;
    explicit OneFrameWritten(bool withAudio = false)
        : ok(openVideo(movie, temp.path, withAudio) && movie.writeFrame(0, 100, a.data()) == 0) {}
};

} // namespace

TEST(WriterFailure, FileThatCannotBeCreated) {
    MovFile movie;
    EXPECT_EQ(
        movie.openWrite("/nonexistent-keo-dir/movie.mov", kZuvm, 32, 32, {25, 1}, 1, 0, 0, 0, 0),
        nullptr);
    EXPECT_EQ(movie.file, nullptr);
    EXPECT_EQ(movie.prepareToWriteFrame(0), nullptr);
    Bytes frame = pattern(10, 1);
    EXPECT_NE(movie.writeFrame(0, 10, frame.data()), 0);
    EXPECT_NE(movie.endWriteFrame(), 0);
    EXPECT_EQ(movie.prepareToWriteAudioSample(), nullptr);
    EXPECT_EQ(movie.close(), 0);
}

TEST(WriterFailure, ArgumentsThatCannotBeWrittenTouchNoFile) {
    TempMovie temp;
    Bytes before = pattern(300, 9);
    {
        FILE* f = std::fopen(temp.path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(before.data(), 1, before.size(), f);
        std::fclose(f);
    }
    MovFile movie;
    const char* path = temp.path.c_str();
    EXPECT_EQ(movie.openWrite(path, kZuvm, 0, 32, {25, 1}, 1, 0, 0, 0, 0), nullptr);
    EXPECT_EQ(movie.openWrite(path, kZuvm, 32, 70000, {25, 1}, 1, 0, 0, 0, 0), nullptr);
    EXPECT_EQ(movie.openWrite(path, kZuvm, 32, 32, {0, 1}, 1, 0, 0, 0, 0), nullptr);
    EXPECT_EQ(movie.openWrite(path, kZuvm, 32, 32, {-25, 1}, 1, 0, 0, 0, 0), nullptr);
    EXPECT_EQ(movie.openWrite(path, kZuvm, 32, 32, {25, 0}, 1, 0, 0, 0, 0), nullptr);
    EXPECT_EQ(movie.openWrite(path, kZuvm, 32, 32, {25, 1}, 1, 1, 48000, 2, 12), nullptr);
    EXPECT_EQ(movie.openWrite(path, kZuvm, 32, 32, {25, 1}, 1, 1, 48000, 0, 16), nullptr);
    EXPECT_EQ(movie.openWrite(path, kZuvm, 32, 32, {25, 1}, 1, 1, 0, 2, 16), nullptr);
    EXPECT_EQ(movie.openWrite(path, kZuvm, 32, 32, {25, 1}, 1, 1, 192000, 2, 16), nullptr);
    EXPECT_EQ(movie.file, nullptr);
    EXPECT_EQ(readFile(temp.path), before);
    // Rates past a million frames per second, whole or by a hair.
    EXPECT_EQ(movie.openWrite(path, kZuvm, 32, 32, {1000001, 1}, 1, 0, 0, 0, 0), nullptr);
    EXPECT_EQ(movie.openWrite(path, kZuvm, 32, 32, {2000001, 2}, 1, 0, 0, 0, 0), nullptr);
    EXPECT_EQ(movie.file, nullptr);
}

TEST(WriterFailure, CallsOutOfOrderChangeNothing) {
    TempMovie temp;
    MovFile movie;
    ASSERT_TRUE(openVideo(movie, temp.path, true));
    Bytes a = pattern(100, 0), b = pattern(60, 1);
    EXPECT_NE(movie.endWriteFrame(), 0);
    EXPECT_NE(movie.endWriteAudioSample(10), 0);
    EXPECT_NE(movie.writeFrame(0, -1, a.data()), 0);
    EXPECT_NE(movie.writeFrame(0, 10, nullptr), 0);
    ASSERT_EQ(movie.writeFrame(0, 100, a.data()), 0);

    LargeFp* fp = movie.prepareToWriteFrame(0);
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(movie.prepareToWriteFrame(0), nullptr); // one chunk at a time
    EXPECT_EQ(movie.prepareToWriteAudioSample(), nullptr);
    EXPECT_NE(movie.writeFrame(0, 100, a.data()), 0);
    EXPECT_NE(movie.endWriteAudioSample(10), 0);
    fwrite_L(b.data(), b.size(), 1, fp);
    ASSERT_EQ(movie.endWriteFrame(), 0);

    // A block of no samples with no bytes is no chunk.
    ASSERT_NE(movie.prepareToWriteAudioSample(), nullptr);
    EXPECT_EQ(movie.endWriteAudioSample(0), 0);
    ASSERT_EQ(movie.close(), 0);
    EXPECT_EQ(readFrames(temp.path), (std::vector<Bytes>{a, b}));
    MovFile reader;
    ASSERT_NE(reader.openRead(temp.path.c_str()), nullptr);
    EXPECT_EQ(reader.audioTrackNumberOfSamples(0), 0);
    reader.close();
}

TEST(WriterFailure, FrameLeftOpenAtCloseIsDroppedAndReported) {
    OneFrameWritten w;
    auto& [temp, movie, a, ok] = w;
    ASSERT_TRUE(ok);
    LargeFp* fp = movie.prepareToWriteFrame(0);
    fwrite_L(a.data(), 50, 1, fp);
    EXPECT_NE(movie.close(), 0);
    EXPECT_EQ(readFrames(temp.path), (std::vector<Bytes>{a}));
    EXPECT_EQ(find(readFile(temp.path), "moov").end(), readFile(temp.path).size());
}

TEST(WriterFailure, AudioBlockOfAnotherLengthFailsTheMovie) {
    OneFrameWritten w(true);
    auto& [temp, movie, a, ok] = w;
    ASSERT_TRUE(ok);
    LargeFp* fp = movie.prepareToWriteAudioSample();
    fwrite_L(a.data(), 100, 1, fp); // 25 stereo 16-bit sample frames
    EXPECT_NE(movie.endWriteAudioSample(100), 0);
    EXPECT_EQ(movie.prepareToWriteFrame(0), nullptr);
    EXPECT_NE(movie.writeFrame(0, 100, a.data()), 0);
    EXPECT_NE(movie.close(), 0);
    EXPECT_EQ(readFrames(temp.path), (std::vector<Bytes>{a}));
}

TEST(WriterFailure, FrameTooLargeForItsSizeField) {
    OneFrameWritten w;
    auto& [temp, movie, a, ok] = w;
    ASSERT_TRUE(ok);
    LargeFp* fp = movie.prepareToWriteFrame(0);
    ASSERT_NE(fp, nullptr);
    // A frame just over 4 GiB, made sparse so the test costs no disk.
    if (fseek_L(fp, 116 + (int64_t{1} << 32), SEEK_SET) != 0 || fwrite_L("x", 1, 1, fp) != 1 ||
        std::fflush(fp->stream) != 0) {
        movie.close();
        GTEST_SKIP() << "no sparse 4 GiB file here";
    }
    EXPECT_NE(movie.endWriteFrame(), 0);
    EXPECT_EQ(movie.prepareToWriteFrame(0), nullptr);
    EXPECT_NE(movie.close(), 0);
    EXPECT_EQ(readFrames(temp.path), (std::vector<Bytes>{a}));
    EXPECT_LT(readFile(temp.path).size(), 4096u);
}

TEST(WriterFailure, DurationsTooLargeForTheirFields) {
    OneFrameWritten w;
    auto& [temp, movie, a, ok] = w;
    ASSERT_TRUE(ok);
    for (int i = 0; i < 2; i++)
        ASSERT_EQ(movie.writeFrame(0, 100, a.data()), 0);
    // Three samples of 2^31 - 1 units sum to more than 32 bits hold.
    movie.file->moov.trak[0]->mdia.minf.stbl.stts.table[0].sampleDuration = 0x7FFFFFFF;
    EXPECT_NE(movie.close(), 0);
    Bytes f = readFile(temp.path);
    EXPECT_EQ(f.size(), 316u);
    EXPECT_EQ(be(f, 8, 8), 316u);
    EXPECT_FALSE(find(f, "moov").found);
}
