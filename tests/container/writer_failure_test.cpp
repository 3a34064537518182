// Failures of the writer: files that cannot be made, arguments and calls out
// of order, a full disk (a file size limit in a child process) hit in the
// media-data header, in a frame, between two frames, in an audio block and
// in the movie atom, chunks and durations too large for their 32-bit fields.
// Each is reported by the call that met it, and the file then either has no
// movie atom (the importer refuses it) or opens with exactly the chunks that
// succeeded.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "container/MovFile.h"
#include "container/QuicktimeFile.h"
#include "writer_support.h"

using namespace writertest;

namespace {

char kZuvm[] = "ZUVM";

bool openVideo(MovFile& movie, const std::string& path, bool withAudio = false) {
    return movie.openWrite(path.c_str(), kZuvm, 32, 32, 25.0, 1, withAudio ? 1 : 0, 48000, 2, 16) !=
           nullptr;
}

// The frames of a written movie as the reader gives them back; empty when
// it has no movie atom or no video.
std::vector<Bytes> readFrames(const std::string& path) {
    std::vector<Bytes> frames;
    MovFile reader;
    if (!reader.openRead(path.c_str()))
        return frames;
    for (int i = 0; i < reader.nFrames(); i++) {
        Bytes b(static_cast<size_t>(reader.frameSize(i)));
        reader.readFrame(i, b.data());
        frames.push_back(b);
    }
    reader.close();
    return frames;
}

std::vector<Bytes> framesOf(const std::vector<size_t>& sizes) {
    std::vector<Bytes> frames;
    for (size_t i = 0; i < sizes.size(); i++)
        frames.push_back(pattern(sizes[i], static_cast<uint32_t>(i)));
    return frames;
}

} // namespace

TEST(WriterFailure, FileThatCannotBeCreated) {
    MovFile movie;
    EXPECT_EQ(movie.openWrite("/nonexistent-keo-dir/movie.mov", kZuvm, 32, 32, 25.0, 1, 0, 0, 0, 0),
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
    const double nan = std::numeric_limits<double>::quiet_NaN();
    MovFile movie;
    const char* path = temp.path.c_str();
    EXPECT_EQ(movie.openWrite(path, kZuvm, 0, 32, 25.0, 1, 0, 0, 0, 0), nullptr);
    EXPECT_EQ(movie.openWrite(path, kZuvm, 32, 70000, 25.0, 1, 0, 0, 0, 0), nullptr);
    EXPECT_EQ(movie.openWrite(path, kZuvm, 32, 32, 0.0, 1, 0, 0, 0, 0), nullptr);
    EXPECT_EQ(movie.openWrite(path, kZuvm, 32, 32, -25.0, 1, 0, 0, 0, 0), nullptr);
    EXPECT_EQ(movie.openWrite(path, kZuvm, 32, 32, nan, 1, 0, 0, 0, 0), nullptr);
    EXPECT_EQ(movie.openWrite(path, kZuvm, 32, 32, 25.0, 1, 1, 48000, 2, 12), nullptr);
    EXPECT_EQ(movie.openWrite(path, kZuvm, 32, 32, 25.0, 1, 1, 48000, 0, 16), nullptr);
    EXPECT_EQ(movie.openWrite(path, kZuvm, 32, 32, 25.0, 1, 1, 0, 2, 16), nullptr);
    EXPECT_EQ(movie.openWrite(path, kZuvm, 32, 32, 25.0, 1, 1, 192000, 2, 16), nullptr);
    EXPECT_EQ(movie.file, nullptr);
    EXPECT_EQ(readFile(temp.path), before);
    // A rate whose frames would last less than one tick of its time scale.
    EXPECT_EQ(movie.openWrite(path, kZuvm, 32, 32, 0.0001, 1, 0, 0, 0, 0), nullptr);
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
    TempMovie temp;
    MovFile movie;
    ASSERT_TRUE(openVideo(movie, temp.path));
    Bytes a = pattern(100, 0);
    ASSERT_EQ(movie.writeFrame(0, 100, a.data()), 0);
    LargeFp* fp = movie.prepareToWriteFrame(0);
    fwrite_L(a.data(), 50, 1, fp);
    EXPECT_NE(movie.close(), 0);
    EXPECT_EQ(readFrames(temp.path), (std::vector<Bytes>{a}));
    EXPECT_EQ(find(readFile(temp.path), "moov").end(), readFile(temp.path).size());
}

TEST(WriterFailure, AudioBlockOfAnotherLengthFailsTheMovie) {
    TempMovie temp;
    MovFile movie;
    ASSERT_TRUE(openVideo(movie, temp.path, true));
    Bytes a = pattern(100, 0);
    ASSERT_EQ(movie.writeFrame(0, 100, a.data()), 0);
    LargeFp* fp = movie.prepareToWriteAudioSample();
    fwrite_L(a.data(), 100, 1, fp); // 25 stereo 16-bit sample frames
    EXPECT_NE(movie.endWriteAudioSample(100), 0);
    EXPECT_EQ(movie.prepareToWriteFrame(0), nullptr);
    EXPECT_NE(movie.writeFrame(0, 100, a.data()), 0);
    EXPECT_NE(movie.close(), 0);
    EXPECT_EQ(readFrames(temp.path), (std::vector<Bytes>{a}));
}

TEST(WriterFailure, DiskFullInTheMediaDataHeader) {
    TempMovie temp;
    int code = runWithFileSizeLimit(8, [&] {
        MovFile movie;
        if (openVideo(movie, temp.path))
            return 1;
        return movie.file == nullptr ? 0 : 2;
    });
    EXPECT_EQ(code, 0);
    EXPECT_LE(readFile(temp.path).size(), 8u);
    EXPECT_TRUE(readFrames(temp.path).empty());
}

TEST(WriterFailure, DiskFullInAFrame) {
    // Frames of 64 KiB; the disk fills 2000 bytes into the fourth.
    const std::vector<size_t> sizes(6, 65536);
    const uint64_t limit = 16 + 3 * 65536 + 2000;
    enum Mode { kOneCall, kPrepareAndEnd, kPrepareWithoutEnd };
    for (Mode mode : {kOneCall, kPrepareAndEnd, kPrepareWithoutEnd}) {
        SCOPED_TRACE(mode);
        TempMovie temp;
        int code = runWithFileSizeLimit(limit, [&] {
            MovFile movie;
            if (!openVideo(movie, temp.path))
                return 1;
            std::vector<Bytes> frames = framesOf(sizes);
            for (size_t i = 0; i < frames.size(); i++) {
                int result;
                if (mode == kOneCall) {
                    result =
                        movie.writeFrame(0, static_cast<int>(frames[i].size()), frames[i].data());
                } else {
                    LargeFp* fp = movie.prepareToWriteFrame(0);
                    if (!fp) {
                        result = 1;
                    } else if (fwrite_L(frames[i].data(), frames[i].size(), 1, fp) !=
                                   frames[i].size() &&
                               mode == kPrepareWithoutEnd) {
                        result = 1; // as the exporter does: the chunk is never ended
                    } else {
                        result = movie.endWriteFrame();
                    }
                }
                if ((result == 0) != (i < 3))
                    return 10 + static_cast<int>(i);
            }
            return movie.close() != 0 ? 0 : 3;
        });
        EXPECT_EQ(code, 0);
        // The movie atom took the place of the torn frame.
        Bytes f = readFile(temp.path);
        EXPECT_EQ(be(f, 8, 8), 16u + 3 * 65536);
        EXPECT_EQ(find(f, "moov").end(), f.size());
        std::vector<Bytes> expected = framesOf(sizes);
        expected.resize(3);
        EXPECT_EQ(readFrames(temp.path), expected);
    }
}

TEST(WriterFailure, DiskFullBetweenFrames) {
    // The file may grow exactly to the end of frame k: frame k fits whole and
    // frame k + 1 fails on its first byte. Small frames sit in stdio's buffer
    // until the chunk is flushed; large ones go straight to the file, so the
    // error surfaces in the flush for one and in fwrite for the other.
    enum Mode { kOneCall, kPrepareAndEnd, kPrepareWithoutEnd };
    for (size_t frameSize : {size_t{700}, size_t{65536}}) {
        for (int k : {0, 2}) {
            const std::vector<size_t> sizes(static_cast<size_t>(k) + 3, frameSize);
            const uint64_t mediaEnd = 16 + (static_cast<uint64_t>(k) + 1) * frameSize;
            for (Mode mode : {kOneCall, kPrepareAndEnd, kPrepareWithoutEnd}) {
                SCOPED_TRACE("frames of " + std::to_string(frameSize) + " bytes, k " +
                             std::to_string(k) + ", mode " + std::to_string(mode));
                TempMovie temp;
                int code = runWithFileSizeLimit(mediaEnd, [&] {
                    MovFile movie;
                    if (!openVideo(movie, temp.path))
                        return 1;
                    std::vector<Bytes> frames = framesOf(sizes);
                    for (size_t i = 0; i < frames.size(); i++) {
                        Bytes& frame = frames[i];
                        int result;
                        if (mode == kOneCall) {
                            result =
                                movie.writeFrame(0, static_cast<int>(frame.size()), frame.data());
                        } else {
                            LargeFp* fp = movie.prepareToWriteFrame(0);
                            if (!fp) {
                                result = 1;
                            } else if (fwrite_L(frame.data(), frame.size(), 1, fp) !=
                                           frame.size() &&
                                       mode == kPrepareWithoutEnd) {
                                result = 1;
                            } else {
                                result = movie.endWriteFrame();
                            }
                        }
                        if ((result == 0) != (i <= static_cast<size_t>(k)))
                            return 10 + static_cast<int>(i);
                    }
                    return movie.close() != 0 ? 0 : 3;
                });
                EXPECT_EQ(code, 0);

                // Whatever became of the movie atom, the frames that were
                // reported written are where they were put, byte for byte.
                Bytes f = readFile(temp.path);
                ASSERT_GE(f.size(), mediaEnd);
                EXPECT_EQ(be(f, 8, 8), mediaEnd);
                std::vector<Bytes> expected = framesOf(sizes);
                expected.resize(static_cast<size_t>(k) + 1);
                for (size_t i = 0; i < expected.size(); i++)
                    EXPECT_TRUE(std::equal(expected[i].begin(), expected[i].end(),
                                           f.begin() + 16 + i * frameSize))
                        << "frame " << i;
                // A movie atom lies past them, and gives exactly those
                // frames; without one the reader finds no video to give.
                Span moov = find(f, "moov");
                MovFile reader;
                const bool opened = reader.openRead(temp.path.c_str()) != nullptr;
                if (moov.found) {
                    EXPECT_GE(moov.start, mediaEnd);
                    ASSERT_TRUE(opened);
                    std::vector<Bytes> frames;
                    for (int i = 0; i < reader.nFrames(); i++) {
                        Bytes b(static_cast<size_t>(reader.frameSize(i)));
                        reader.readFrame(i, b.data());
                        frames.push_back(b);
                    }
                    EXPECT_EQ(frames, expected);
                } else if (opened) {
                    EXPECT_EQ(reader.nFrames(), 0);
                }
                reader.close();
            }
        }
    }
}

TEST(WriterFailure, DiskFullInAnAudioBlock) {
    TempMovie temp;
    const uint64_t limit = 16 + 2 * (1000 + 40000) + 1000 + 3000;
    int code = runWithFileSizeLimit(limit, [&] {
        MovFile movie;
        if (!openVideo(movie, temp.path, true))
            return 1;
        for (int i = 0; i < 3; i++) {
            Bytes frame = pattern(1000, static_cast<uint32_t>(i));
            if (movie.writeFrame(0, 1000, frame.data()) != 0)
                return 10 + i;
            Bytes block = pattern(40000, 100u + i);
            LargeFp* fp = movie.prepareToWriteAudioSample();
            if (!fp)
                return 20 + i;
            fwrite_L(block.data(), block.size(), 1, fp);
            if ((movie.endWriteAudioSample(10000) == 0) != (i < 2))
                return 30 + i;
        }
        return movie.close() != 0 ? 0 : 3;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(readFrames(temp.path).size(), 3u);
    MovFile reader;
    ASSERT_NE(reader.openRead(temp.path.c_str()), nullptr);
    ASSERT_EQ(reader.audioTrackNumberOfSamples(0), 20000);
    Bytes audio(80000);
    reader.readAudio(reinterpret_cast<char*>(audio.data()), 0, 20000, 0);
    Bytes expected = pattern(40000, 100);
    Bytes second = pattern(40000, 101);
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(audio, expected);
    reader.close();
}

TEST(WriterFailure, DiskFullInTheMovieAtom) {
    TempMovie temp;
    const uint64_t mediaEnd = 16 + 3 * 1000;
    int code = runWithFileSizeLimit(mediaEnd + 200, [&] {
        MovFile movie;
        if (!openVideo(movie, temp.path))
            return 1;
        for (int i = 0; i < 3; i++) {
            Bytes frame = pattern(1000, static_cast<uint32_t>(i));
            if (movie.writeFrame(0, 1000, frame.data()) != 0)
                return 10 + i;
        }
        return movie.close() != 0 ? 0 : 3;
    });
    EXPECT_EQ(code, 0);
    // No movie atom cut short: the file is the finished media data alone,
    // which the importer refuses as a movie without frames.
    Bytes f = readFile(temp.path);
    EXPECT_EQ(f.size(), mediaEnd);
    EXPECT_EQ(be(f, 8, 8), mediaEnd);
    EXPECT_FALSE(find(f, "moov").found);
    EXPECT_TRUE(readFrames(temp.path).empty());
}

TEST(WriterFailure, FrameTooLargeForItsSizeField) {
    TempMovie temp;
    MovFile movie;
    ASSERT_TRUE(openVideo(movie, temp.path));
    Bytes a = pattern(100, 0);
    ASSERT_EQ(movie.writeFrame(0, 100, a.data()), 0);
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
    TempMovie temp;
    MovFile movie;
    ASSERT_TRUE(openVideo(movie, temp.path));
    Bytes a = pattern(100, 0);
    for (int i = 0; i < 3; i++)
        ASSERT_EQ(movie.writeFrame(0, 100, a.data()), 0);
    // Three samples of 2^31 - 1 units sum to more than 32 bits hold.
    movie.file->moov.trak[0]->mdia.minf.stbl.stts.table[0].sampleDuration = 0x7FFFFFFF;
    EXPECT_NE(movie.close(), 0);
    Bytes f = readFile(temp.path);
    EXPECT_EQ(f.size(), 316u);
    EXPECT_EQ(be(f, 8, 8), 316u);
    EXPECT_FALSE(find(f, "moov").found);
}
