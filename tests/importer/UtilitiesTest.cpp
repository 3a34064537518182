// The host layer's small utilities: strings and paths, row padding, the
// audio request arithmetic, the record's size and the SDK_File fork helpers.
#include <cstdio>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "PluginDriver.h"
#include "importer/ImportAudio.h"
#include "importer/ImporterLocalRec.h"
#include "importer/SDKFile.h"
#include "importer/SourceVideo.h"
#include "importer/StringUtils.h"

namespace {

TEST(ImporterRecord, IsTheSizeTheHostAllocates) {
    EXPECT_EQ(sizeof(ImporterLocalRec8), 1216u);
    EXPECT_EQ(sizeof(SDK_File), 606u);
    EXPECT_EQ(offsetof(ImporterLocalRec8, name) + 512, offsetof(ImporterLocalRec8, fileRef));
}

TEST(ImporterStrings, UTF16IntoWideStopsAtTheMaximumWithoutTerminator) {
    std::vector<unsigned short> path(300, 'p');
    path.push_back(0);
    std::vector<wchar_t> wide(300, L'#');
    copyConvertUTF16IntoStringLiteral(path.data(), wide.data(), 255);
    for (int i = 0; i < 255; i++)
        ASSERT_EQ(wide[i], L'p');
    EXPECT_EQ(wide[255], L'#');

    unsigned short shortPath[] = {'a', 0xE9, 0, 'x'};
    copyConvertUTF16IntoStringLiteral(shortPath, wide.data(), 255);
    EXPECT_EQ(wide[1], static_cast<wchar_t>(0xE9));
    EXPECT_EQ(wide[2], 0);
    EXPECT_EQ(wide[3], L'p'); // stops after the terminator
}

TEST(ImporterStrings, WideIntoUTF16KeepsToNUnits) {
    unsigned short out[8];
    std::memset(out, 0xFF, sizeof(out));
    copyConvertStringLiteralIntoUTF16(L"Zo\u00EB", out);
    EXPECT_EQ(out[0], 'Z');
    EXPECT_EQ(out[2], 0xEB);
    EXPECT_EQ(out[3], 0);
    EXPECT_EQ(out[4], 0xFFFF);

    // Outside the basic plane a character takes two units; with n = 2 only
    // the first of two such characters fits.
    std::memset(out, 0xFF, sizeof(out));
    const wchar_t two[] = {0x1F3AC, 0x1F3AC, 0};
    copyConvertStringLiteralIntoUTF16(two, out);
    EXPECT_EQ(out[0], 0xD83C);
    EXPECT_EQ(out[1], 0xDFAC);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], 0xFFFF);
    const wchar_t bad[] = {0xD800, 0x110000, 0};
    copyConvertStringLiteralIntoUTF16(bad, out);
    EXPECT_EQ(out[0], 0xFFFD);
    EXPECT_EQ(out[1], 0xFFFD);
}

TEST(ImporterStrings, BoundedCopyAndAppend) {
    char small[4];
    EXPECT_STREQ(safeStrCpy(small, 4, "abcdef"), "abc");
    EXPECT_STREQ(safeStrCpy(small, 4, "ab"), "ab");
    wchar_t w[6] = L"ab";
    EXPECT_EQ(std::wstring(safeWcscat(w, 6, L"cdefgh")), L"abcde");
    EXPECT_EQ(std::wstring(safeWcscat(w, 6, L"x")), L"abcde");
    wchar_t full[3] = {L'a', L'b', L'c'}; // unterminated
    safeWcscat(full, 3, L"x");
    EXPECT_EQ(full[2], 0);
}

TEST(ImporterStrings, PathsConvertInFullOrNotAtAll) {
    char out[16];
    const unsigned short name[] = {'/', 0xE9, 0x6620, 0xD83C, 0xDFAC, 0};
    ASSERT_TRUE(ConvertUTF16PathToUTF8(name, out, sizeof(out)));
    EXPECT_STREQ(out, "/\xC3\xA9\xE6\x98\xA0\xF0\x9F\x8E\xAC");
    // Ten bytes do not fit in ten: refused, not cut.
    EXPECT_FALSE(ConvertUTF16PathToUTF8(name, out, 10));
    EXPECT_STREQ(out, "");
    ASSERT_TRUE(ConvertUTF16PathToUTF8(name, out, 11));
    const unsigned short lone[] = {'a', 0xD83C, 'b', 0};
    EXPECT_FALSE(ConvertUTF16PathToUTF8(lone, out, sizeof(out)));
    const unsigned short trailing[] = {'a', 0xDFAC, 0};
    EXPECT_FALSE(ConvertUTF16PathToUTF8(trailing, out, sizeof(out)));
    EXPECT_FALSE(ConvertUTF16PathToUTF8(nullptr, out, sizeof(out)));
}

TEST(ImporterStrings, PathBytesGoThroughUtf16AndBackUnchanged) {
    // Names a Linux folder may hold, as the driver hands them over: UTF-8, a
    // Latin-1 "caf\xE9", an overlong '/', an encoded surrogate, a cut
    // sequence. Each must come back as the very same bytes.
    const char* names[] = {"/m/caf\xC3\xA9",  "/m/caf\xE9",      "/m/\xC0\xAF",
                           "/m/\xED\xA0\x80", "/m/\xF0\x9F\x8E", "/m/\xF4\x90\x80\x80"};
    char out[64];
    for (const char* name : names) {
        std::vector<prUTF16Char> units = keo::host::utf16Path(name);
        ASSERT_TRUE(ConvertUTF16PathToUTF8(units.data(), out, sizeof(out))) << name;
        EXPECT_STREQ(out, name);
    }
    // UTF-16 that no name gives: an escape of an ASCII byte, a lone
    // surrogate outside the escapes, and escaped bytes that read as UTF-8
    // (a second spelling of the name with U+00E9 or U+20AC).
    const unsigned short notNames[][5] = {
        {'a', 0xDC41}, {'a', 0xDFFF}, {'a', 0xDCC3, 0xDCA9}, {'a', 0xDCE2, 0xDC82, 0xDCAC}};
    for (const auto& path : notNames)
        EXPECT_FALSE(ConvertUTF16PathToUTF8(path, out, sizeof(out))) << std::hex << path[1];
}

TEST(ImporterRowPadding, SpreadsInPlaceAndPacksBack) {
    // 3 rows of 2 pixels, 4 bytes each, spread to a pitch of 12.
    std::vector<char> frame(36, 0);
    for (int i = 0; i < 24; i++)
        frame[i] = static_cast<char>(i + 1);
    AddRowPadding(frame.data(), frame.data(), 12, 4, 2, 3);
    for (int row = 0; row < 3; row++)
        for (int i = 0; i < 8; i++)
            ASSERT_EQ(frame[row * 12 + i], row * 8 + i + 1);
    std::vector<char> packed(24);
    RemoveRowPadding(frame.data(), packed.data(), 12, 4, 2, 3);
    for (int i = 0; i < 24; i++)
        ASSERT_EQ(packed[i], i + 1);

    // Rows as wide as the pitch stay where they are.
    std::vector<char> same(frame);
    AddRowPadding(same.data(), same.data(), 8, 4, 2, 3);
    EXPECT_EQ(same, frame);
    EXPECT_EQ(GetPixelFormatSize(PrPixelFormat_VUYA_4444_32f), 16);
    EXPECT_EQ(GetPixelFormatSize(PrPixelFormat_ARGB_4444_8u), 4);
    EXPECT_EQ(sdkfile::GetPixelFormatSize(PrPixelFormat_VUYA_4444_32f), 4);
}

TEST(ImporterAudioRequest, CutsAtTheEndAndContinues) {
    imImportAudioRec7 rec{};
    long long position = 0, first = 0, count = 0;
    rec.position = 900;
    rec.size = 200;
    calculateAudioRequest(&rec, 1000, &position, &first, &count);
    EXPECT_EQ(first, 900);
    EXPECT_EQ(count, 100);
    EXPECT_EQ(position, 1000);
    rec.position = -1;
    rec.size = 10;
    calculateAudioRequest(&rec, 1000, &position, &first, &count);
    EXPECT_EQ(first, 1000);
    EXPECT_EQ(count, 0);
    rec.position = 1001;
    calculateAudioRequest(&rec, 1000, &position, &first, &count);
    EXPECT_EQ(count, -1);
    EXPECT_EQ(position, 1000);
    // A position near the top of 64 bits does not wrap into the track.
    rec.position = INT64_MAX - 5;
    calculateAudioRequest(&rec, 1000, &position, &first, &count);
    EXPECT_LT(count, 0);
}

// An SDK_File layout in a temporary stream: the header, two frames of 8
// bytes (the second after 4 bytes), 4 more bytes (the audio position counts
// 4 bytes with every frame), then 2 channels of 3 floats.
class ImporterSDKFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        fork.stream = std::tmpfile();
        ASSERT_NE(fork.stream, nullptr);
        std::vector<unsigned char> bytes(606, 0);
        for (int i = 0; i < 8; i++)
            bytes.push_back(static_cast<unsigned char>(0x10 + i));
        bytes.insert(bytes.end(), 4, 0xEE);
        for (int i = 0; i < 8; i++)
            bytes.push_back(static_cast<unsigned char>(0x20 + i));
        bytes.insert(bytes.end(), 4, 0xEE);
        float audio[6] = {1, 2, 3, 4, 5, 6};
        const unsigned char* a = reinterpret_cast<const unsigned char*>(audio);
        bytes.insert(bytes.end(), a, a + sizeof(audio));
        std::fwrite(bytes.data(), 1, bytes.size(), fork.stream);
    }
    void TearDown() override { std::fclose(fork.stream); }
    SDKFork fork{};
};

TEST_F(ImporterSDKFileTest, FramesAndAudio) {
    char frame[8];
    ASSERT_EQ(ReadSDK_File(&fork, 8, 0, frame), 0);
    EXPECT_EQ(frame[7], 0x17);
    ASSERT_EQ(ReadSDK_File(&fork, 8, 1, frame), 0);
    EXPECT_EQ(frame[0], 0x20);
    EXPECT_EQ(ReadSDK_File(&fork, 8, 5, frame), 2); // past the end

    ImporterLocalRec8 rec{};
    ImporterLocalRec8* recPtr = &rec;
    rec.fileHeader.numFrames = 2; // of 1 x 2 pixels, 8 bytes
    rec.fileHeader.hasVideo = 1;
    rec.fileHeader.width = 1;
    rec.fileHeader.height = 2;
    ASSERT_EQ(setPointerToAudioStart(&recPtr, 1, &fork), 0);
    EXPECT_EQ(std::ftell(fork.stream), 606 + 2 * 12 + 4);
    ASSERT_EQ(setPointerToAudioStart(&recPtr, 0, &fork), 0);
    float left[2], right[2];
    float* channels[2] = {left, right};
    EXPECT_EQ(readAudioToBuffer(2, 3, 2, &fork, channels), 0);
    EXPECT_EQ(left[0], 1.0f);
    EXPECT_EQ(left[1], 2.0f);
    EXPECT_EQ(right[0], 4.0f);
    EXPECT_EQ(right[1], 5.0f);
    EXPECT_EQ(readAudioToBuffer(2, 3, 0, &fork, channels), 0);
    EXPECT_EQ(readAudioToBuffer(10, 10, 1, &fork, channels), 2);

    // Without video the audio follows the header directly.
    rec.fileHeader.hasVideo = 0;
    ASSERT_EQ(setPointerToAudioStart(&recPtr, 2, &fork), 0);
    EXPECT_EQ(std::ftell(fork.stream), 606 + 8);
    rec.fileHeader.hasVideo = 1;
    rec.fileHeader.numFrames = -1;
    EXPECT_NE(setPointerToAudioStart(&recPtr, 0, &fork), 0);
}

TEST(ImporterSDKFile, ScalingPicksNearestPixelsAndStaysInside) {
    SDK_File header{};
    header.width = 2;
    header.height = 2;
    uint32_t src[4] = {1, 2, 3, 4};
    char* s = reinterpret_cast<char*>(src);
    EXPECT_EQ(GetSrcPix(s, header, 1, 1, 1.0f, 1.0f), 4u);
    EXPECT_EQ(GetSrcPix(s, header, 1, 0, 0.5f, 0.5f), 1u);
    EXPECT_EQ(GetSrcPix(s, header, 9, 9, 1.0f, 1.0f), 4u); // held at the edge

    uint32_t dst[4 * 4];
    imImportImageRec image{nullptr, 4, 4, 16, reinterpret_cast<char*>(dst)};
    ASSERT_EQ(ScaleAndBltFrame(nullptr, header, sizeof(src), s, &image), 0);
    EXPECT_EQ(dst[0], 1u);
    EXPECT_EQ(dst[3], 2u);
    EXPECT_EQ(dst[15], 4u);
    EXPECT_NE(ScaleAndBltFrame(nullptr, header, 15, s, &image), 0); // picture cut short

    void* block = myRealloc(nullptr, 16);
    ASSERT_NE(block, nullptr);
    block = myRealloc(block, 32);
    ASSERT_NE(block, nullptr);
    myFree(block);
}

} // namespace
