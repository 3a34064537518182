// The codec's LZF decompressor against liblzf's lzf_decompress, which is the
// reference: for every stream both must give the same answer (a length, or a
// refusal) and, when they accept, the same bytes. Each decode gets input and
// output allocations of exactly their size, so that AddressSanitizer sees the
// first byte read or written beyond them. Every path this build has is run.
#include <gtest/gtest.h>

#include <lzf.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codec/DXT1DXT5Encode.h"
#include "codec/LZFDecode.h"
#include "codec/encode_picture.h"
#include "lzf_streams.h"

using lzf_test::Bytes;

namespace {

std::vector<KEOLZFPath> paths() {
    std::vector<KEOLZFPath> all = {kKEOLZFBest, kKEOLZFPortable};
    for (KEOLZFPath path : {kKEOLZFSSE2, kKEOLZFSelect})
        if (KEOLZFPathAvailable(path))
            all.push_back(path);
    return all;
}

struct Answer {
    unsigned int result;
    Bytes out;
};

// liblzf reads a control byte even from an empty input, so its input always
// holds at least one byte; ours gets exactly the stream.
Answer liblzf(const Bytes& stream, unsigned int outLength) {
    Bytes in(stream);
    if (in.empty())
        in.push_back(0);
    Answer a{0, Bytes(outLength)};
    a.result =
        lzf_decompress(in.data(), static_cast<unsigned>(stream.size()), a.out.data(), outLength);
    return a;
}

Answer ours(const Bytes& stream, unsigned int outLength, KEOLZFPath path) {
    std::unique_ptr<unsigned char[]> in(new unsigned char[stream.size()]);
    if (!stream.empty())
        std::memcpy(in.get(), stream.data(), stream.size());
    Answer a{0, Bytes(outLength)};
    a.result = KEOLZFDecompress(in.get(), static_cast<unsigned>(stream.size()), a.out.data(),
                                outLength, path);
    return a;
}

// Both decoders on every path; true when they agree. Refused streams may
// leave anything in the output, so only accepted ones compare bytes.
bool decodesAlike(const Bytes& stream, unsigned int outLength, const std::string& what) {
    const Answer reference = liblzf(stream, outLength);
    bool alike = true;
    for (KEOLZFPath path : paths()) {
        const Answer a = ours(stream, outLength, path);
        EXPECT_EQ(a.result, reference.result) << what << ", path " << path;
        if (a.result != reference.result) {
            alike = false;
            continue;
        }
        if (a.result != 0 && std::memcmp(a.out.data(), reference.out.data(), a.result) != 0) {
            ADD_FAILURE() << what << ", path " << path << ": bytes differ";
            alike = false;
        }
    }
    return alike;
}

Bytes compress(const Bytes& data) {
    Bytes stream(data.size() + data.size() / 16 + 64);
    const unsigned length = lzf_compress(data.data(), static_cast<unsigned>(data.size()),
                                         stream.data(), static_cast<unsigned>(stream.size()));
    stream.resize(length);
    return stream;
}

// DXT5 blocks of a natural-looking picture: what the frame decoder meets.
Bytes frameBlocks(int width, int height, uint32_t seed) {
    const auto picture = encode_test::naturalPicture(width, height, seed, true);
    Bytes blocks(static_cast<size_t>((width + 3) / 4) * ((height + 3) / 4) * 16);
    stbCompressARGB32(blocks.data(), picture.data(), width, height, 0, true);
    return blocks;
}

// History to refer back to, a reference, and enough literals after it that
// it is decoded far from the output's end (where the wide copies run).
Bytes referenceAfter(size_t history, size_t distance, size_t length, size_t tail = 320) {
    static const Bytes texture = lzf_test::textureBytes(8192, 1);
    Bytes stream;
    lzf_test::literals(stream,
                       Bytes(texture.begin(), texture.begin() + static_cast<long>(history)));
    lzf_test::reference(stream, distance, length);
    lzf_test::literals(stream, Bytes(texture.begin(), texture.begin() + static_cast<long>(tail)));
    return stream;
}

TEST(LZFDecode, CompressedDataDecodesAlikeAtEveryOutputLimit) {
    std::vector<Bytes> inputs;
    for (size_t size : {1, 2, 31, 32, 33, 299, 300, 301, 1000, 4096, 65536, 300000})
        inputs.push_back(lzf_test::textureBytes(size, static_cast<uint32_t>(size)));
    inputs.push_back(Bytes(5000, 0x5A)); // one long run of references at distance 1
    inputs.push_back(frameBlocks(320, 180, 3));
    for (const Bytes& data : inputs) {
        const Bytes stream = compress(data);
        ASSERT_FALSE(stream.empty());
        const unsigned n = static_cast<unsigned>(data.size());
        // Short by one is refused, exact and longer limits give n bytes.
        for (unsigned limit : {n - 1, n, n + 1, n + 1000}) {
            if (!decodesAlike(stream, limit, "size " + std::to_string(n)))
                return;
        }
        const Answer a = ours(stream, n, kKEOLZFBest);
        ASSERT_EQ(a.result, n);
        EXPECT_EQ(a.out, data);
    }
}

TEST(LZFDecode, EveryCutOfAStreamIsAnsweredAlike) {
    const Bytes data = lzf_test::textureBytes(9000, 11);
    const Bytes stream = compress(data);
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        const Bytes prefix(stream.begin(), stream.begin() + static_cast<long>(cut));
        if (!decodesAlike(prefix, static_cast<unsigned>(data.size()), "cut " + std::to_string(cut)))
            return;
    }
}

TEST(LZFDecode, CorruptedStreamsAreAnsweredAlike) {
    const Bytes stream = compress(frameBlocks(96, 64, 5));
    uint32_t state = 12345;
    auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    for (int trial = 0; trial < 3000; ++trial) {
        Bytes bad = stream;
        const int flips = 1 + static_cast<int>(next() >> 30);
        for (int i = 0; i < flips; ++i)
            bad[(next() >> 8) % bad.size()] ^= static_cast<unsigned char>(1 + (next() >> 24) % 255);
        const unsigned limit = 96 * 64 + (next() >> 31) * 17;
        if (!decodesAlike(bad, limit, "trial " + std::to_string(trial)))
            return;
    }
}

TEST(LZFDecode, ReferencesOfEveryDistance) {
    for (size_t distance = 1; distance <= 8192; ++distance)
        for (size_t length : {3, 8, 9, 17, 264}) {
            const size_t history = distance < 400 ? 400 : distance;
            const Bytes stream = referenceAfter(history, distance, length);
            const unsigned limit = static_cast<unsigned>(history + length + 320);
            if (!decodesAlike(stream, limit,
                              "distance " + std::to_string(distance) + " length " +
                                  std::to_string(length)))
                return;
        }
}

TEST(LZFDecode, RunsOfEveryLengthAtShortAndLongDistances) {
    for (size_t distance :
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 15, 16, 17, 31, 32, 33, 255, 256, 257, 8191, 8192})
        for (size_t length = 3; length <= 264; ++length) {
            const size_t history = distance < 400 ? 400 : distance;
            // Far from the end, and as the stream's last token.
            for (size_t tail : {320, 0}) {
                const Bytes stream = referenceAfter(history, distance, length, tail);
                const unsigned limit = static_cast<unsigned>(history + length + tail);
                if (!decodesAlike(stream, limit,
                                  "distance " + std::to_string(distance) + " length " +
                                      std::to_string(length) + " tail " + std::to_string(tail)))
                    return;
            }
        }
}

TEST(LZFDecode, ReferenceBeforeTheStartIsRefused) {
    for (size_t distance : {1, 2, 7, 8, 9, 16, 31, 32, 299, 300, 301, 4000, 8192}) {
        for (size_t tail : {320, 0}) {
            // One byte of history too few, then exactly enough.
            for (size_t history : {distance - 1, distance}) {
                Bytes stream;
                lzf_test::literals(stream, lzf_test::textureBytes(history, 3));
                lzf_test::reference(stream, distance, 5);
                lzf_test::literals(stream, lzf_test::textureBytes(tail, 4));
                const unsigned limit = static_cast<unsigned>(history + 5 + tail);
                const Answer a = ours(stream, limit, kKEOLZFBest);
                EXPECT_EQ(a.result, history < distance ? 0u : limit) << "distance " << distance;
                decodesAlike(stream, limit, "distance " + std::to_string(distance));
            }
        }
    }
    // The shortest streams that do it: a reference first, and one byte
    // followed by a reference 8192 back.
    decodesAlike({0x20, 0x00, 0x00, 0x00}, 64, "reference first");
    decodesAlike({0x00, 'A', 0x3F, 0xFF, 0x00}, 64, "8192 back after one byte");
}

TEST(LZFDecode, OutputLimitAndLeftoverTokensAreAnsweredAlike) {
    // 32 literals and a 9-byte copy: 41 bytes. Limits around that, and the
    // same stream in front of a long one so the limit falls in the fast loop.
    Bytes overrun = {0x1F};
    overrun.insert(overrun.end(), 32, 0x42);
    overrun.insert(overrun.end(), {0xE0, 0x00, 0x00});
    for (unsigned limit = 0; limit <= 50; ++limit)
        decodesAlike(overrun, limit, "limit " + std::to_string(limit));
    const Bytes data = lzf_test::textureBytes(20000, 9);
    const Bytes stream = compress(data);
    for (unsigned limit : {0u, 1u, 300u, 5000u, 19699u, 19700u, 19999u, 20000u, 20001u})
        decodesAlike(stream, limit, "long stream, limit " + std::to_string(limit));
    // Tokens after a full output are refused.
    Bytes leftover = compress(Bytes(1000, 7));
    lzf_test::reference(leftover, 4, 3);
    decodesAlike(leftover, 1000, "a reference after a full output");
    EXPECT_EQ(ours(leftover, 1000, kKEOLZFBest).result, 0u);
}

TEST(LZFDecode, TruncatedTokensAreRefused) {
    // A literal run that promises more bytes than there are, a reference cut
    // after its control byte and after its length byte.
    const std::vector<Bytes> streams = {
        {0x1F, 1, 2, 3}, {0x00, 'A', 0x20}, {0x00, 'A', 0xE0}, {0x00, 'A', 0xE0, 0x05}};
    for (const Bytes& s : streams) {
        EXPECT_EQ(ours(s, 100, kKEOLZFBest).result, 0u);
        decodesAlike(s, 100, "truncated token");
    }
    EXPECT_EQ(ours({}, 100, kKEOLZFBest).result, 0u);
    decodesAlike({}, 100, "empty stream");
}

// Two streams one after the other, as the frame encoder writes its bands: a
// start is found at a token's start at or past the offset asked for (from
// the middle of the first stream it may be a mere guess, which the decode
// finds out); near the seam it is one the tail decodes from on its own, to
// the bytes the whole stream ends with; and a decode from the beginning
// stops exactly there.
TEST(LZFDecode, AStreamInPiecesIsFoundAtAPiecesStartAndStoppedThere) {
    const Bytes first = lzf_test::textureBytes(30000, 21),
                second = lzf_test::textureBytes(30000, 22);
    Bytes stream = compress(first);
    const size_t seam = stream.size();
    const Bytes tail = compress(second);
    stream.insert(stream.end(), tail.begin(), tail.end());
    Bytes data = first;
    data.insert(data.end(), second.begin(), second.end());
    for (size_t from : {seam / 2, seam - 40, seam}) {
        const size_t start = KEOLZFFindStart(stream.data(), stream.size(), from, 32);
        ASSERT_GE(start, from);
        ASSERT_LT(start, stream.size());
        for (KEOLZFPath path : paths()) {
            Bytes out(data.size());
            KEOLZFStream s;
            KEOLZFBegin(&s, stream.data(), static_cast<unsigned>(stream.size()), out.data(),
                        static_cast<unsigned>(out.size()), path);
            ASSERT_TRUE(KEOLZFDecodeUntilInput(&s, out.size() + 1, start));
            EXPECT_EQ(s.consumed, start) << "from " << from << ", path " << path;
            if (from == seam / 2)
                continue;
            // The tail on its own: the last bytes of the whole.
            const Bytes piece(stream.begin() + static_cast<long>(start), stream.end());
            const Answer alone = ours(piece, static_cast<unsigned>(data.size()), path);
            ASSERT_GT(alone.result, 0u) << "from " << from;
            EXPECT_EQ(s.produced + alone.result, data.size());
            EXPECT_EQ(0, std::memcmp(alone.out.data(), data.data() + s.produced, alone.result));
        }
    }
    // Asked to stop one byte into a literal run of several bytes, the decode
    // ends after that run.
    Bytes out(data.size());
    KEOLZFStream s;
    KEOLZFBegin(&s, stream.data(), static_cast<unsigned>(stream.size()), out.data(),
                static_cast<unsigned>(out.size()));
    ASSERT_LT(stream[0], 32);
    ASSERT_TRUE(KEOLZFDecodeUntilInput(&s, out.size() + 1, 1));
    EXPECT_EQ(s.consumed, size_t(stream[0]) + 2);
    // No start at all in a stream of references.
    const Bytes refs = {0x00, 'A', 0xE0, 0xF0, 0x00, 0xE0, 0xF0, 0x00, 0xE0, 0xF0, 0x00};
    EXPECT_EQ(KEOLZFFindStart(refs.data(), refs.size(), 2, 32), refs.size());
}

TEST(LZFDecode, StopsAndResumesBetweenTokens) {
    const Bytes data = frameBlocks(128, 96, 8);
    const Bytes stream = compress(data);
    for (KEOLZFPath path : paths()) {
        for (size_t step : {1, 7, 300, 1000, 100000}) {
            Bytes out(data.size());
            KEOLZFStream s;
            KEOLZFBegin(&s, stream.data(), static_cast<unsigned>(stream.size()), out.data(),
                        static_cast<unsigned>(out.size()), path);
            for (size_t target = step; !KEOLZFFinished(&s); target += step) {
                ASSERT_TRUE(KEOLZFDecodeUntil(&s, target));
                // A stretch ends at a token boundary at or past its target.
                ASSERT_GE(s.produced, std::min(target, data.size()));
                ASSERT_LT(s.produced, std::min(target, data.size()) + 264);
                ASSERT_EQ(0, std::memcmp(out.data(), data.data(), s.produced));
            }
            EXPECT_EQ(out, data);
        }
        // A cut stream decodes every whole token and is not finished.
        Bytes out(data.size());
        KEOLZFStream s;
        KEOLZFBegin(&s, stream.data(), static_cast<unsigned>(stream.size() - 1), out.data(),
                    static_cast<unsigned>(out.size()), path);
        KEOLZFDecodeUntil(&s, data.size());
        EXPECT_FALSE(KEOLZFFinished(&s));
    }
}

} // namespace
