// The bounded atom reader on byte arrays: typed big-endian reads, failures
// that stick and store nothing, counts checked before anything is allocated,
// atom headers and child readers that see exactly their own atom.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "container/AtomReader.h"
#include "support/MovieBuilder.h"

using keotest::Bytes;

namespace {

AtomReader over(const Bytes& b, int64_t fileOffset = 1000) {
    return AtomReader(b.data(), b.size(), fileOffset);
}

} // namespace

TEST(AtomReader, TypedReadsAreBigEndianAndUnsigned) {
    const Bytes b = {
        0xFF,                                           // u8
        0xFF, 0xFE,                                     // u16
        0x01, 0x02, 0x03,                               // u24
        0xFF, 0xFF, 0xFF, 0xFF,                         // u32: all ones reads 4294967295, not -1
        0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, // u64
        0x80,                                           // s8: -128
        0x00, 0x01, 0x80, 0x00,                         // 16.16: 1.5
        0x01, 0x80,                                     // 8.8: 1.5
        'v',  'i',  'd',  'e',                          // four characters
    };
    AtomReader r = over(b);
    uint8_t a8 = 0;
    int32_t a16 = 0;
    int64_t a24 = 0, a32 = 0;
    uint64_t a64 = 0;
    int32_t s = 0;
    float f32 = 0, f16 = 0;
    char type[4];
    EXPECT_TRUE(r.u8(&a8) && r.u16(&a16) && r.u24(&a24) && r.u32(&a32) && r.u64(&a64) && r.s8(&s) &&
                r.fixed32(&f32) && r.fixed16(&f16) && r.fourCC(type));
    EXPECT_EQ(a8, 0xFF);
    EXPECT_EQ(a16, 0xFFFE);
    EXPECT_EQ(a24, 0x010203);
    EXPECT_EQ(a32, 4294967295);
    EXPECT_EQ(a64, 0x0102030405060708ull);
    EXPECT_EQ(s, -128);
    EXPECT_FLOAT_EQ(f32, 1.5f);
    EXPECT_FLOAT_EQ(f16, 1.5f);
    EXPECT_EQ(std::memcmp(type, "vide", 4), 0);
    EXPECT_EQ(r.remaining(), 0u);
    EXPECT_EQ(r.position(), 1000 + static_cast<int64_t>(b.size()));
    EXPECT_TRUE(r.ok());
}

TEST(AtomReader, AReadPastTheEndFailsStoresNothingAndSticks) {
    const Bytes b = {0x12, 0x34, 0x56};
    AtomReader r = over(b);
    int64_t v = -1;
    EXPECT_FALSE(r.u32(&v));
    EXPECT_EQ(v, -1); // untouched, not zero
    EXPECT_FALSE(r.ok());
    // The bytes that are there cannot be read any more either.
    int32_t small = -1;
    EXPECT_FALSE(r.u16(&small));
    EXPECT_EQ(small, -1);
    EXPECT_EQ(r.remaining(), 0u);
    EXPECT_FALSE(r.skip(0));
}

// Every prefix of a field sequence, each in an allocation of exactly its
// size, so that the sanitizer sees a single byte read too far.
TEST(AtomReader, EveryPrefixFailsExactlyWhereItEnds) {
    const Bytes full = {0, 0, 0, 9, 'a', 'b', 'c', 'd', 1, 2, 3, 4, 5, 6, 7, 8, 3, 'x', 'y', 'z'};
    for (size_t cut = 0; cut <= full.size(); cut++) {
        std::unique_ptr<unsigned char[]> bytes(new unsigned char[cut ? cut : 1]);
        std::memcpy(bytes.get(), full.data(), cut);
        AtomReader r(bytes.get(), cut, 0);
        int64_t a = 0;
        char t[4];
        uint64_t c = 0;
        char name[256];
        const bool whole = r.u32(&a) && r.fourCC(t) && r.u64(&c) && r.pascal(name);
        EXPECT_EQ(whole, cut == full.size()) << cut;
        EXPECT_EQ(r.ok(), whole) << cut;
        if (whole) {
            EXPECT_STREQ(name, "xyz");
        }
    }
}

TEST(AtomReader, CountsAreCheckedAgainstTheBytesLeft) {
    Bytes b;
    keotest::put32(b, 2);
    keotest::putZeros(b, 24); // room for two 12-byte entries
    {
        AtomReader r = over(b);
        int64_t n = -1;
        EXPECT_TRUE(r.count(12, &n));
        EXPECT_EQ(n, 2);
    }
    {
        AtomReader r = over(b);
        int64_t n = -1;
        EXPECT_FALSE(r.count(13, &n)); // 26 bytes do not fit in 24
        EXPECT_EQ(n, -1);
        EXPECT_FALSE(r.ok());
    }
    // 0x15555556 x 12 is 2^32 + 8: a count that wraps 32 bits must not
    // look like 8 bytes.
    Bytes wraps;
    keotest::put32(wraps, 0x15555556);
    keotest::putZeros(wraps, 12);
    AtomReader w = over(wraps);
    int64_t n = -1;
    EXPECT_FALSE(w.count(12, &n));
    EXPECT_FALSE(AtomReader().hasRoomFor(UINT64_MAX, UINT64_MAX));
}

TEST(AtomReader, PascalStringsAndTextWithoutALengthByte) {
    char out[256];
    {
        const Bytes b = {0};
        AtomReader r = over(b);
        EXPECT_TRUE(r.pascal(out));
        EXPECT_STREQ(out, "");
    }
    {
        const Bytes b = {5, 'a', 'b'}; // the length runs past the atom
        AtomReader r = over(b);
        std::strcpy(out, "kept");
        EXPECT_FALSE(r.pascal(out));
        EXPECT_STREQ(out, "kept");
    }
    {
        const Bytes b = {'H', 'a', 'n', 'd', 0, 'x'};
        AtomReader r = over(b);
        EXPECT_TRUE(r.restAsText(out, sizeof out));
        EXPECT_STREQ(out, "Hand");
        EXPECT_EQ(r.remaining(), 0u);
    }
    {
        const Bytes b(300, 'q'); // longer than the buffer: cut, terminated
        AtomReader r = over(b);
        EXPECT_TRUE(r.restAsText(out, sizeof out));
        EXPECT_EQ(std::strlen(out), 255u);
    }
}

TEST(AtomReader, HeadersWithLargeSizesAndWideAtoms) {
    struct Case {
        const char* what;
        Bytes bytes;
        const char* type;
        int64_t start, size, headerEnd;
    };
    Bytes large = {0, 0, 0, 1, 'm', 'd', 'a', 't'};
    keotest::put64(large, 0x100000010ull);
    Bytes tiny = {0, 0, 0, 1, 'f', 'r', 'e', 'e'};
    keotest::put64(tiny, 3); // raised to 8
    Bytes wide = {0, 0, 0, 8, 'w', 'i', 'd', 'e', 0, 0, 1, 0, 'm', 'd', 'a', 't'};
    Bytes longWide = {0, 0, 0, 24, 'w', 'i', 'd', 'e', 0, 0, 3, 0xE7, 'a', 'b', 'c', 'd'};
    const Case cases[] = {
        {"64-bit size", large, "mdat", 0, 0x100000010ll, 16},
        {"64-bit size below 8", tiny, "free", 0, 8, 16},
        {"8-byte wide atom", wide, "mdat", 8, 0x100, 16},
        {"longer wide atom", longWide, "abcd", 8, 16, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AtomReader r = over(c.bytes, 0);
        QuicktimeAtom a;
        bool letters = false;
        ASSERT_TRUE(r.readAtomHeader(&a, &letters));
        EXPECT_TRUE(a.is(c.type));
        EXPECT_TRUE(letters);
        EXPECT_EQ(a.start, c.start);
        EXPECT_EQ(a.size, c.size);
        EXPECT_EQ(a.end, a.start + a.size);
        EXPECT_EQ(r.position(), c.headerEnd);
    }
    // Cut inside the 64-bit size: no header.
    AtomReader cut(large.data(), 12, 0);
    QuicktimeAtom a;
    bool letters;
    EXPECT_FALSE(cut.readAtomHeader(&a, &letters));
    // Digits are not letters.
    const Bytes co64 = {0, 0, 0, 16, 'c', 'o', '6', '4'};
    AtomReader d = over(co64);
    ASSERT_TRUE(d.readAtomHeader(&a, &letters));
    EXPECT_FALSE(letters);
}

TEST(AtomReader, ChildrenSeeExactlyTheirOwnAtom) {
    Bytes b;
    keotest::append(b, keotest::atom("tkhd", Bytes(4, 0xAA)).bytes());
    keotest::append(b, keotest::atom("mdia", {}, {keotest::atom("mdhd", Bytes(2, 0xBB))}).bytes());
    keotest::putZeros(b, 7); // padding too short for a header: the end
    AtomReader parent = over(b, 500);
    AtomReader child;
    ASSERT_TRUE(parent.nextChild(&child));
    EXPECT_TRUE(child.is("tkhd"));
    EXPECT_EQ(child.header().start, 500);
    EXPECT_EQ(child.header().end, 512);
    EXPECT_EQ(child.position(), 508);
    int64_t v;
    EXPECT_TRUE(child.u32(&v));
    EXPECT_FALSE(child.u8(&v)); // the next atom is not this child's
    EXPECT_TRUE(parent.ok());   // a child's failure is its own

    ASSERT_TRUE(parent.nextChild(&child));
    EXPECT_TRUE(child.is("mdia"));
    AtomReader grandchild;
    ASSERT_TRUE(child.nextChild(&grandchild));
    EXPECT_TRUE(grandchild.is("mdhd"));
    EXPECT_EQ(grandchild.remaining(), 2u);
    EXPECT_FALSE(child.nextChild(&grandchild));
    EXPECT_FALSE(parent.nextChild(&child));
    EXPECT_TRUE(parent.ok());
}

TEST(AtomReader, ChildrenThatDoNotFitFailTheParent) {
    auto withSize = [](uint32_t size) {
        Bytes b;
        keotest::put32(b, size);
        keotest::putType(b, "stsz");
        keotest::putZeros(b, 12);
        return b;
    };
    // Shorter than its own header; larger than what is left of the parent.
    for (uint32_t size : {0u, 4u, 7u, 21u, 0xFFFFFFFFu}) {
        const Bytes b = withSize(size);
        AtomReader parent = over(b);
        AtomReader child;
        EXPECT_FALSE(parent.nextChild(&child)) << size;
        EXPECT_FALSE(parent.ok()) << size;
    }
    const Bytes exact = withSize(20);
    AtomReader parent = over(exact);
    AtomReader child;
    EXPECT_TRUE(parent.nextChild(&child));
    EXPECT_EQ(child.remaining(), 12u);
}
