// Movies written here, opened with the reader: every frame's bytes and every
// audio sample come back, with video and audio chunks interleaved.
#include <gtest/gtest.h>

#include <cstring>

#include "container/MovFile.h"
#include "container/QuicktimeFile.h"
#include "writer_support.h"

using namespace writertest;

namespace {

struct Written {
    std::vector<Bytes> frames;
    Bytes audio; // every block, in order
    long long samples = 0;
};

// Frames of varied sizes, each followed by the audio of one frame time at
// 48 kHz and 29.97 fps (1601 or 1602 sample frames).
Written writeInterleaved(const std::string& path, int channels, int bits, int frameCount) {
    Written w;
    MovFile movie;
    char compressor[] = "ZUVM";
    EXPECT_NE(movie.openWrite(path.c_str(), compressor, 1280, 720, {30000, 1001}, 1, 1, 48000,
                              channels, bits),
              nullptr);
    const int frameBytes = channels * bits / 8;
    for (int i = 0; i < frameCount; i++) {
        w.frames.push_back(pattern(500 + 37 * static_cast<size_t>(i), static_cast<uint32_t>(i)));
        Bytes& frame = w.frames.back();
        if (i % 2 == 0) {
            EXPECT_EQ(movie.writeFrame(0, static_cast<int>(frame.size()), frame.data()), 0);
        } else {
            LargeFp* fp = movie.prepareToWriteFrame(0);
            EXPECT_NE(fp, nullptr);
            fwrite_L(frame.data(), frame.size(), 1, fp);
            EXPECT_EQ(movie.endWriteFrame(), 0);
        }
        int samples = (i % 5 == 2) ? 1602 : 1601;
        Bytes block = pattern(static_cast<size_t>(samples * frameBytes), 1000u + i);
        LargeFp* fp = movie.prepareToWriteAudioSample();
        EXPECT_NE(fp, nullptr);
        fwrite_L(block.data(), block.size(), 1, fp);
        EXPECT_EQ(movie.endWriteAudioSample(samples), 0);
        w.audio.insert(w.audio.end(), block.begin(), block.end());
        w.samples += samples;
    }
    EXPECT_EQ(movie.close(), 0);
    return w;
}

Bytes readThroughHandle(LargeFp* fp, long long offset, int size) {
    Bytes out(static_cast<size_t>(size));
    fseek_L(fp, offset, SEEK_SET);
    out.resize(fread_L(out.data(), 1, out.size(), fp));
    return out;
}

} // namespace

TEST(WriterRoundTrip, InterleavedVideoAndAudio) {
    TempMovie temp;
    Written w = writeInterleaved(temp.path, 2, 16, 12);

    MovFile reader;
    LargeFp* fp = reader.openRead(temp.path.c_str());
    ASSERT_NE(fp, nullptr);
    ASSERT_EQ(reader.nFrames(), 12);
    int width = 0, height = 0;
    reader.frameSize(width, height);
    EXPECT_EQ(width, 1280);
    EXPECT_EQ(height, 720);
    int n = 0, d = 0;
    reader.frameRate(n, d);
    EXPECT_EQ(n, 30000);
    EXPECT_EQ(d, 1001);
    EXPECT_NEAR(reader.frameRate(), 29.97f, 0.001f);
    EXPECT_STREQ(reader.frameType(), "ZUVM");
    EXPECT_EQ(reader.frameBitDepth(), 24);
    long long previous = 0;
    for (int i = 0; i < 12; i++) {
        SCOPED_TRACE(i);
        long long offset = reader.frameOffset(i);
        EXPECT_GT(offset, previous);
        previous = offset;
        EXPECT_EQ(reader.frameSize(i), static_cast<int>(w.frames[i].size()));
        EXPECT_EQ(readThroughHandle(fp, offset, reader.frameSize(i)), w.frames[i]);
    }

    EXPECT_TRUE(reader.hasAudio());
    EXPECT_EQ(reader.audioTracks(), 1);
    EXPECT_EQ(reader.audioTrackNumberOfChannels(0), 2);
    EXPECT_EQ(reader.audioTrackSampleRate(0), 48000);
    EXPECT_EQ(reader.audioTrackAudioBits(0), 16);
    EXPECT_EQ(reader.audioTrackNumberOfSamples(0), w.samples);
    EXPECT_STREQ(reader.audioType(), "sowt");
    EXPECT_TRUE(reader.audioBigEndian()); // true for sowt, as the reader names it

    Bytes all(w.audio.size());
    EXPECT_EQ(
        reader.readAudio(reinterpret_cast<char*>(all.data()), 0, static_cast<long>(w.samples), 0),
        static_cast<long long>(all.size()));
    EXPECT_EQ(all, w.audio);
    // A range that starts inside one block and ends inside a later one.
    const long first = 1500, count = 3000;
    Bytes part(static_cast<size_t>(count) * 4);
    reader.readAudio(reinterpret_cast<char*>(part.data()), first, count, 0);
    EXPECT_EQ(part, Bytes(w.audio.begin() + first * 4, w.audio.begin() + (first + count) * 4));
    reader.close();
}

TEST(WriterRoundTrip, OtherSampleFormats) {
    const struct { int channels, bits; } formats[] = {{1, 8}, {6, 24}, {2, 32}};
    for (const auto& fmt : formats) {
        SCOPED_TRACE(fmt.channels * 100 + fmt.bits);
        TempMovie temp;
        Written w = writeInterleaved(temp.path, fmt.channels, fmt.bits, 3);
        MovFile reader;
        ASSERT_NE(reader.openRead(temp.path.c_str()), nullptr);
        EXPECT_EQ(reader.audioTrackNumberOfChannels(0), fmt.channels);
        EXPECT_EQ(reader.audioTrackAudioBits(0), fmt.bits);
        Bytes all(w.audio.size());
        reader.readAudio(reinterpret_cast<char*>(all.data()), 0, static_cast<long>(w.samples), 0);
        EXPECT_EQ(all, w.audio);
        reader.close();
    }
}

TEST(WriterRoundTrip, HighSampleRatesReadBack) {
    for (int rate : {22050, 44100, 88200, 96000}) {
        SCOPED_TRACE(rate);
        TempMovie temp;
        MovFile movie;
        ASSERT_NE(movie.openWrite(temp.path.c_str(), nullptr, 0, 0, {}, 0, 1, rate, 2, 16),
                  nullptr);
        ASSERT_EQ(movie.close(), 0);
        MovFile reader;
        ASSERT_NE(reader.openRead(temp.path.c_str()), nullptr);
        EXPECT_EQ(reader.audioTrackSampleRate(0), rate);
        EXPECT_EQ(reader.nFrames(), 0);
        reader.close();
    }
}

TEST(WriterRoundTrip, AudioOnlyMovie) {
    TempMovie temp;
    MovFile movie;
    ASSERT_NE(movie.openWrite(temp.path.c_str(), nullptr, 0, 0, {}, 0, 1, 44100, 2, 16), nullptr);
    Bytes block = pattern(4 * 700, 3);
    for (int i = 0; i < 3; i++) {
        LargeFp* fp = movie.prepareToWriteAudioSample();
        ASSERT_NE(fp, nullptr);
        fwrite_L(block.data(), block.size(), 1, fp);
        ASSERT_EQ(movie.endWriteAudioSample(700), 0);
    }
    EXPECT_EQ(movie.prepareToWriteFrame(0), nullptr); // no video track to write to
    ASSERT_EQ(movie.close(), 0);
    MovFile reader;
    ASSERT_NE(reader.openRead(temp.path.c_str()), nullptr);
    EXPECT_EQ(reader.nFrames(), 0);
    EXPECT_STREQ(reader.frameType(), "");
    EXPECT_EQ(reader.audioTrackNumberOfSamples(0), 2100);
    Bytes all(4 * 2100);
    reader.readAudio(reinterpret_cast<char*>(all.data()), 0, 2100, 0);
    EXPECT_EQ(Bytes(all.begin() + 4 * 1400, all.end()), block);
    reader.close();
}

TEST(WriterRoundTrip, MovieObjectCanWriteAgainAfterClose) {
    TempMovie first, second;
    MovFile movie;
    char compressor[] = "ZUVM";
    Bytes frame = pattern(64, 5);
    for (const TempMovie* t : {&first, &second}) {
        ASSERT_NE(movie.openWrite(t->path.c_str(), compressor, 8, 8, {25, 1}, 1, 0, 0, 0, 0),
                  nullptr);
        ASSERT_EQ(movie.writeFrame(0, 64, frame.data()), 0);
        ASSERT_EQ(movie.close(), 0);
        EXPECT_EQ(movie.file, nullptr);
    }
    EXPECT_EQ(readFile(first.path), readFile(second.path));
}
