// Failures of the writer on a full disk (a file size limit in a child
// process) hit in the media-data header, in a frame, between two frames, in
// an audio block and in the movie atom. Each is reported by the call that
// met it, and the file then either has no movie atom or opens with exactly
// the chunks that succeeded.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "container/MovFile.h"
#include "writer_support.h"

using namespace writertest;

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
