// The writer over a stream that is not a file (what a GStreamer muxer hands
// it): the same bytes as into a file, and a movie given up before close
// keeps no movie atom.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "container/MovFile.h"
#include "writer_support.h"

using namespace writertest;

namespace {

char kZuvm[] = "ZUVM";

// Two frames and two sound blocks, alternating, into `movie` opened already.
int writeSome(MovFile& movie) {
    int failures = 0;
    for (uint32_t i = 0; i < 2; i++) {
        Bytes frame = pattern(100 + i, i);
        failures += movie.writeFrame(0, static_cast<int>(frame.size()), frame.data()) != 0;
        Bytes sound = pattern(40, 10 + i);
        LargeFp* fp = movie.prepareToWriteAudioSample();
        failures += !fp || fwrite_L(sound.data(), sound.size(), 1, fp) != sound.size();
        failures += movie.endWriteAudioSample(10) != 0;
    }
    return failures;
}

} // namespace

TEST(WriterStream, GivesTheBytesOfTheSameMovieWrittenToAFile) {
    TempMovie temp;
    MovFile onDisk;
    ASSERT_NE(onDisk.openWrite(temp.path.c_str(), kZuvm, 32, 32, {30000, 1001}, 1, 1, 48000, 2, 16),
              nullptr);
    EXPECT_EQ(writeSome(onDisk), 0);
    ASSERT_EQ(onDisk.close(), 0);

    MemoryStream memory;
    MovFile streamed;
    ASSERT_NE(streamed.openWrite(fadopt_L(memory.stream), kZuvm, 32, 32, {30000, 1001}, 1, 1, 48000,
                                 2, 16),
              nullptr);
    EXPECT_EQ(writeSome(streamed), 0);
    ASSERT_EQ(streamed.close(), 0) << "a stream without a descriptor must close as a file does";
    EXPECT_TRUE(memory.bytes == readFile(temp.path));
}

// A recording stopped before its end: the chunks are there, the mdat size
// field still says 0 and no moov follows, so no reader takes it for a movie.
TEST(WriterStream, AMovieGivenUpKeepsNoMovieAtom) {
    MemoryStream memory;
    MovFile movie;
    ASSERT_NE(movie.openWrite(fadopt_L(memory.stream), kZuvm, 32, 32, {25, 1}, 1, 1, 48000, 2, 16),
              nullptr);
    EXPECT_EQ(writeSome(movie), 0);
    movie.abandonWrite();
    EXPECT_EQ(movie.file, nullptr);
    EXPECT_EQ(movie.close(), 0);
    const Bytes& b = memory.bytes;
    ASSERT_EQ(b.size(), 16u + 100 + 40 + 101 + 40);
    EXPECT_EQ(text(b, 4, 4), "mdat");
    EXPECT_EQ(be(b, 8, 8), 0u);
    EXPECT_FALSE(find(b, "moov").found);
}

// Arguments the writer cannot store refuse the open before any byte, and the
// stream handed over is closed all the same (the sanitizer build would see a
// leak otherwise).
TEST(WriterStream, RefusedArgumentsWriteNothingAndCloseTheStream) {
    MemoryStream memory;
    MovFile movie;
    EXPECT_EQ(movie.openWrite(fadopt_L(memory.stream), kZuvm, 0, 32, {25, 1}, 1, 0, 0, 0, 0),
              nullptr);
    EXPECT_EQ(movie.file, nullptr);
    EXPECT_TRUE(memory.bytes.empty());
    EXPECT_EQ(
        movie.openWrite(static_cast<LargeFp*>(nullptr), kZuvm, 32, 32, {25, 1}, 1, 0, 0, 0, 0),
        nullptr);
}
