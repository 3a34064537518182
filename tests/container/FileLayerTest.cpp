// LargeFp, the field primitives of MovFile and atom headers.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "RawFile.h"

using namespace keotest;

namespace {

// The first atom header of a file holding `b`, and readHeader's answer.
// `fileSize`, when given, pretends the file is that large.
struct FirstHeader {
    QuicktimeAtom atom{};
    int result = -1;
};

FirstHeader firstHeader(const Bytes& b, int64_t fileSize = 0) {
    RawFile r(b);
    if (fileSize)
        r.f->fileSize = fileSize;
    FirstHeader h;
    h.result = h.atom.readHeader(r.f, r.movie);
    return h;
}

// A header with the 64-bit size form: size field 1, then `size`.
Bytes largeHeader(const char* type, uint64_t size) {
    Bytes b = atomHeader(1, type);
    put64(b, size);
    return b;
}

// Where an atom starts, its size and where it ends, compared in one go.
using Place = std::array<int64_t, 3>;

Place placeOf(const QuicktimeAtom& a) {
    return {a.start, a.size, a.end};
}

} // namespace

TEST(LargeFp, FailedOpenIsAHandleWithoutStream) {
    LargeFp* fp = fopen_L("/nonexistent/keo/movie.mov", "rb");
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(fp->fd, 0);
    EXPECT_EQ(fp->stream, nullptr);
    char buf[4];
    EXPECT_EQ(fread_L(buf, 1, 4, fp), 0u);
    EXPECT_EQ(ftell_L(fp), 0);
    EXPECT_EQ(fseek_L(fp, 10, SEEK_SET), 0);
    EXPECT_EQ(fclose_L(fp), 0);
    delete fp;
    EXPECT_EQ(fileSize("/nonexistent/keo/movie.mov"), 0);
}

TEST(LargeFp, SizeAndPositionsOfARealFile) {
    TempFile t(Bytes(1000, 7));
    EXPECT_EQ(fileSize(t.path.c_str()), 1000);
    LargeFp* fp = fopen_L(t.path.c_str(), "rb");
    ASSERT_NE(fp->stream, nullptr);
    EXPECT_NE(fp->fd, 0);
    fseek_L(fp, 990, SEEK_SET);
    EXPECT_EQ(ftell_L(fp), 990);
    fclose_L(fp);
    delete fp;
}

TEST(Primitives, UnsignedFieldsSignedCharAndFixedPoint) {
    RawFile r({0xFF, 0xFF, 0xFF, 0x00, 0x01, 0x80, 0x00, 0x01, 0x80, 0xAB, 0xCD, 0xEF});
    EXPECT_EQ(r.movie.readInt16(), 65535);
    EXPECT_EQ(r.movie.readChar(), -1);
    EXPECT_FLOAT_EQ(r.movie.readFixed32(), 1.5f);
    EXPECT_FLOAT_EQ(r.movie.readFixed16(), 1.5f);
    EXPECT_EQ(r.movie.readInt24(), 0xABCDEF);
    EXPECT_EQ(r.f->filePosition, 12);
}

TEST(Primitives, PascalStringEmpty) {
    RawFile r({0x00, 0x05, 'a', 'b'});
    char buf[256];
    r.movie.readPascal(buf);
    EXPECT_STREQ(buf, "");
}

TEST(Primitives, ReadPastTheEndZeroFillsTheSameEveryTime) {
    RawFile r({1, 2, 3});
    unsigned char buf[8];
    for (int pass = 0; pass < 2; pass++) {
        std::memset(buf, 0xEE, sizeof buf);
        r.movie.setPosition(r.f, 0);
        // The count tells what came from the file.
        EXPECT_EQ(r.movie.readInto(8, buf), 3);
        const unsigned char expected[8] = {1, 2, 3, 0, 0, 0, 0, 0};
        EXPECT_EQ(std::memcmp(buf, expected, 8), 0);
        EXPECT_EQ(r.f->filePosition, 8); // counters move by what was asked
    }
}

// A header cut short by the end of the file is no atom: the walk stops.
TEST(AtomHeader, HeaderCutByTheEndOfTheFile) {
    Bytes b = atomHeader(1, "mdat");
    put32(b, 0); // half of the 64-bit size
    const FirstHeader h = firstHeader(b);
    EXPECT_EQ(h.result, 1);
    EXPECT_EQ(h.atom.start, 0);
    EXPECT_EQ(h.atom.end, 0);
}

TEST(AtomHeader, LargeSizeBelowEightBecomesEight) {
    const FirstHeader h = firstHeader(largeHeader("free", 3));
    EXPECT_EQ(h.result, 0);
    EXPECT_EQ(placeOf(h.atom), (Place{0, 8, 8}));
}

TEST(AtomHeader, EightByteWideFoldsIntoTheNextHeader) {
    Bytes b = atomHeader(8, "wide");
    append(b, atomHeader(0x100, "mdat"));
    const FirstHeader h = firstHeader(b);
    EXPECT_EQ(h.result, 0);
    EXPECT_TRUE(h.atom.is("mdat"));
    EXPECT_EQ(placeOf(h.atom), (Place{8, 0x100, 8 + 0x100}));
}

TEST(AtomHeader, LongerWideGivesItsRemainder) {
    Bytes b = atomHeader(24, "wide");
    append(b, atomHeader(999, "abcd"));
    putZeros(b, 8);
    const QuicktimeAtom a = firstHeader(b).atom;
    EXPECT_TRUE(a.is("abcd"));
    EXPECT_EQ(a.size, 16);
    EXPECT_EQ(a.end, a.start + 16);
}

// Hardened: the atom behind a wide one may carry a 64-bit size; reading it keeps
// the atoms after a large mdat reachable.
TEST(AtomHeader, WideFollowedByLargeSizeReadsTheLargeSize) {
    Bytes b = atomHeader(8, "wide");
    append(b, largeHeader("mdat", 0x100000010ull));
    const QuicktimeAtom a = firstHeader(b, 0x200000000ll).atom; // pretend the file is large
    EXPECT_TRUE(a.is("mdat"));
    EXPECT_EQ(placeOf(a), (Place{8, 0x100000010ll, 8 + 0x100000010ll}));
}

// Hardened: a 64-bit size no signed position can hold reaches the end of the file.
TEST(AtomHeader, LargeSizeBeyondSignedRangeReachesTheEndOfTheFile) {
    Bytes b = largeHeader("mdat", 0xFFFFFFFFFFFFFFF0ull);
    putZeros(b, 40);
    EXPECT_EQ(placeOf(firstHeader(b).atom), (Place{0, 56, 56}));
}

TEST(AtomHeader, SizeZeroSkipsOneByteAndDigitsAreNotLetters) {
    Bytes b = atomHeader(0, "free");
    putZeros(b, 4);
    append(b, atomHeader(16, "co64"));
    RawFile r(b);
    QuicktimeAtom a;
    a.readHeader(r.f, r.movie);
    EXPECT_EQ(a.end, a.start);
    r.movie.atomSkip(r.f, a);
    EXPECT_EQ(r.movie.position(r.f), 1);
    r.movie.setPosition(r.f, 12);
    EXPECT_EQ(a.readHeader(r.f, r.movie), 1);
    EXPECT_TRUE(a.is("co64"));
    EXPECT_EQ(a.size, 16);
}

TEST(AtomHeader, LetterTest) {
    EXPECT_TRUE(QuicktimeAtom::myIsAlpha('a'));
    EXPECT_TRUE(QuicktimeAtom::myIsAlpha('Z'));
    EXPECT_FALSE(QuicktimeAtom::myIsAlpha('4'));
    EXPECT_FALSE(QuicktimeAtom::myIsAlpha(' '));
    EXPECT_FALSE(QuicktimeAtom::myIsAlpha(0xA9));
    EXPECT_FALSE(QuicktimeAtom::myIsAlpha('@'));
}

TEST(WritePrimitives, FixedPointPascalAndFields) {
    RawFile r({}, true);
    r.movie.writeFixed32(72.0f);
    r.movie.writeFixed16(1.0f);
    r.movie.writePascal("");
    r.movie.writeInt24(0x123456);
    r.movie.writeInt64(0x0102030405060708ll);
    EXPECT_EQ(r.f->filePosition, 4 + 2 + 1 + 3 + 8);
    EXPECT_EQ(r.written(), (Bytes{0x00, 0x48, 0x00, 0x00, 0x01, 0x00, 0x00, 0x12, 0x34, 0x56, 1, 2,
                                  3, 4, 5, 6, 7, 8}));
}

TEST(WritePrimitives, HeaderAndFooterPatchTheSize) {
    RawFile r({}, true);
    QuicktimeAtom a;
    EXPECT_EQ(a.writeHeader(r.f, "free", r.movie), 0);
    Bytes contents(100, 0x5A);
    r.movie.writeInto(100, contents.data());
    a.writeFooter(r.f, r.movie);
    EXPECT_EQ(r.movie.position(r.f), 108);
    QuicktimeAtom big;
    big.writeHeader64(r.f, "mdat", r.movie);
    r.movie.writeInto(4, contents.data());
    big.writeFooter(r.f, r.movie);
    Bytes out = r.written();
    ASSERT_EQ(out.size(), 108u + 20u);
    EXPECT_EQ((Bytes{out[0], out[1], out[2], out[3]}), (Bytes{0, 0, 0, 108}));
    EXPECT_EQ(out[108 + 3], 1);
    EXPECT_EQ(out[108 + 15], 20);
}

TEST(MemoryFile, BaselineReadsFromMemoryToo) {
    Bytes b = baselineMovie().bytes();
    MovFile movie;
    LargeFp* fp = movie.openReadMemory(b.data(), b.size());
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(movie.nFrames(), 2);
    EXPECT_EQ(movie.frameOffset(1), 76);
    Bytes frame(60);
    EXPECT_EQ(movie.readFrame(1, frame.data()), 60);
    EXPECT_EQ(frame, dxt1Frame(1));
    movie.close();
}
