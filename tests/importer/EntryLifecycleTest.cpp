// The module through its entry, as the host drives it: declaration, the life
// of a file, frames and audio (files and paths: EntryFilesTest.cpp).
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ImporterDriver.h"
#include "codec/FramePayload.h"

namespace keoimp {
namespace {

using keotest::Bytes;

// One fixture type for the entry tests of every file, as gtest requires of a
// suite.
using ImporterEntryTest = ImporterTest;

TEST_F(ImporterEntryTest, DeclaresOneFormatAndOnePixelFormat) {
    imImportInfoRec caps{};
    caps.avoidAudioConform = 9;
    keo::host::setInterfaceVersion(host, 5);
    EXPECT_EQ(call(imInit, &caps, nullptr), imIsCacheable);
    EXPECT_EQ(caps.avoidAudioConform, 9); // untouched before version 6
    EXPECT_EQ(caps.priority, 1000);
    EXPECT_EQ(caps.canSave, 1);
    EXPECT_EQ(caps.canTrim, 1);
    keo::host::setInterfaceVersion(host, 6);
    EXPECT_EQ(call(imInit, &caps, nullptr), imIsCacheable);
    EXPECT_EQ(caps.avoidAudioConform, 1);

    imIndFormatRec format;
    std::memset(&format, 0x5A, sizeof(format));
    EXPECT_EQ(call(imGetIndFormat, reinterpret_cast<void*>(1), &format), imBadFormatIndex);
    EXPECT_EQ(format.filetype, 0x5A5A5A5Au); // nothing written for index 1
    EXPECT_EQ(call(imGetIndFormat, nullptr, &format), 0);
    EXPECT_EQ(format.filetype, 0x5A55564Du);
    EXPECT_EQ(format.canWriteTimecode, 0);
    EXPECT_STREQ(format.FormatName, "KEO Importer Format");
    EXPECT_STREQ(format.FormatShortName, "KEO [Ostrel ZU]");
    EXPECT_STREQ(format.PlatformExtension, "mov");

    imIndPixelFormatRec pixel{};
    EXPECT_EQ(call(imGetIndPixelFormat, nullptr, &pixel), 0);
    EXPECT_EQ(pixel.outPixelFormat, 0x62677261u);
    EXPECT_EQ(call(imGetIndPixelFormat, reinterpret_cast<void*>(1), &pixel), imBadFormatIndex);
    EXPECT_EQ(call(imGetSupports8, nullptr, nullptr), imIsVersion8);
}

TEST_F(ImporterEntryTest, AnswersEverySelectorWithoutTouchingWhatItDoesNotHandle) {
    char untouched[64];
    std::memset(untouched, 0x33, sizeof(untouched));
    for (int selector : {1, 2, 10, 54, 55, 1000, -1})
        EXPECT_EQ(call(selector, untouched, untouched), imUnsupported) << selector;
    for (int selector : {12, 13, 23, 24, 42, 43, 44, 52, 53})
        EXPECT_EQ(call(selector, untouched, untouched), 0) << selector;
    for (char c : untouched)
        ASSERT_EQ(c, 0x33);
}

TEST_F(ImporterEntryTest, NullRecordsGetFailureCodesNotCrashes) {
    EXPECT_EQ(call(imOpenFile8, nullptr, nullptr), imBadFile);
    EXPECT_EQ(call(imGetInfo8, nullptr, nullptr), imBadFile);
    EXPECT_EQ(call(imGetSourceVideo, nullptr, nullptr), imFrameOrAudioErr);
    EXPECT_EQ(call(imImportAudio7, nullptr, nullptr), imFrameOrAudioErr);
    EXPECT_EQ(call(imSaveFile8, nullptr, nullptr), imSaveErr);
    EXPECT_EQ(call(imDeleteFile8, nullptr, nullptr), imDeleteErr);
    EXPECT_EQ(call(imGetPreferredFrameSize, nullptr, nullptr), imOtherErr);
    EXPECT_EQ(call(imGetPrefs8, nullptr, nullptr), imOtherErr);
    EXPECT_EQ(call(imQuietFile, nullptr, nullptr), 0);
    EXPECT_EQ(call(imCloseFile, nullptr, nullptr), 0);

    // An empty handle (a handle whose block pointer is null).
    char* nothing = nullptr;
    imFrameFormat format{8, 8, PrPixelFormat_ARGB_4444_8u};
    PPixHand out = nullptr;
    imSourceVideoRec video{&nothing, 0, &format, &out};
    EXPECT_EQ(call(imGetSourceVideo, nullptr, &video), imFrameOrAudioErr);
    imImportAudioRec7 sound{&nothing, 0, 10, nullptr};
    EXPECT_EQ(call(imImportAudio7, nullptr, &sound), imFrameOrAudioErr);
    imPreferredFrameSizeRec size{&nothing, 0, 0, 0};
    EXPECT_EQ(call(imGetPreferredFrameSize, &size, nullptr), imOtherErr);
    imFileInfoRec8 info{};
    info.privatedata = &nothing;
    EXPECT_EQ(call(imGetInfo8, nullptr, &info), imBadFile);
    EXPECT_EQ(call(imQuietFile, nullptr, &nothing), 0);
}

TEST_F(ImporterEntryTest, PrefsReportTheRecordSizeAndKeepTheNameTerminated) {
    imGetPrefsRec prefs{};
    EXPECT_EQ(call(imGetPrefs8, nullptr, &prefs), 0);
    EXPECT_EQ(prefs.prefsLength, 1216);

    std::vector<char> block(1216, 0x11);
    prefs.prefs = block.data();
    imFileAccessRec8 access{};
    EXPECT_EQ(call(imGetPrefs8, &access, &prefs), 0); // null path: block left alone
    for (char c : block)
        ASSERT_EQ(c, 0x11);

    // 300 units: 255 are kept and the 256th is the terminator.
    std::vector<prUTF16Char> longPath(300, 'a');
    longPath.push_back(0);
    access.filepath = longPath.data();
    EXPECT_EQ(call(imGetPrefs8, &access, &prefs), 0);
    // The name field of the record: after the 606-byte header, pointers and
    // two 64-bit values.
    const size_t nameAt = 608 + 8 + 8 + 8;
    prUTF16Char name[256];
    std::memcpy(name, block.data() + nameAt, sizeof(name));
    for (int i = 0; i < 255; i++)
        ASSERT_EQ(name[i], 'a');
    EXPECT_EQ(name[255], 0);
    EXPECT_EQ(block[nameAt + 512], 0x11); // nothing beyond the field
}

TEST_F(ImporterEntryTest, LifeOfAFileWithFramesAudioQuietAndReopen) {
    MovieRecipe recipe;
    recipe.width = 12; // not a multiple of 4: edge blocks are clipped
    recipe.height = 6;
    for (uint32_t i = 0; i < 3; i++)
        recipe.frames.push_back(KeoFrame(12, 6, i == 0, i == 2, i));
    recipe.audio = true;
    Bytes movie = BuildMovie(recipe).bytes();

    ASSERT_EQ(open(movie), 0);
    ASSERT_NE(fileRef, imInvalidFileRef);
    ASSERT_EQ(info(), 0);
    EXPECT_EQ(fileInfo.hasVideo, 1);
    EXPECT_EQ(fileInfo.vidInfo.imageWidth, 12);
    EXPECT_EQ(fileInfo.vidInfo.imageHeight, 6);
    EXPECT_EQ(fileInfo.vidInfo.alphaType, 1); // first frame has alpha
    EXPECT_EQ(fileInfo.vidScale, 25);
    EXPECT_EQ(fileInfo.vidSampleSize, 1);
    EXPECT_EQ(fileInfo.vidDuration, 3);
    EXPECT_EQ(fileInfo.accessModes, 4);
    EXPECT_EQ(fileInfo.vidInfo.supportsGetSourceVideo, 1);
    EXPECT_EQ(fileInfo.hasAudio, 1);
    EXPECT_EQ(fileInfo.audInfo.numChannels, 2);
    EXPECT_EQ(fileInfo.audInfo.sampleRate, 44100.0f);
    EXPECT_EQ(fileInfo.audInfo.sampleType, kPrAudioSampleType_16BitInt);
    EXPECT_EQ(fileInfo.audDuration, 200);
    EXPECT_EQ(keo::host::suiteHeld(host, kPrSDKTimeSuite, 1), 1);

    imPreferredFrameSizeRec preferred{privateData, 0, 0, 0};
    EXPECT_EQ(call(imGetPreferredFrameSize, &preferred, nullptr), 0);
    EXPECT_EQ(preferred.outWidth, 12);
    EXPECT_EQ(preferred.outHeight, 6);
    preferred.inIndex = 1;
    EXPECT_EQ(call(imGetPreferredFrameSize, &preferred, nullptr), imOtherErr);

    // Every frame: the decoded picture, bottom row first, at the host's pitch.
    PrTime t = ticksOf(PrVideoFrameRate_25);
    for (int i = 0; i < 3; i++) {
        imFrameFormat format{0, 0, PrPixelFormat_ARGB_4444_8u};
        PPixHand frame = nullptr;
        // 2.5 frames in rounds down to frame 2.
        PrTime time = i == 2 ? t * 5 / 2 : t * i;
        ASSERT_EQ(sourceVideo(time, &format, &frame), 0) << i;
        EXPECT_EQ(format.inFrameWidth, 12);
        EXPECT_EQ(format.inFrameHeight, 6);
        keo::host::FrameInfo fi = keo::host::describeFrame(host, frame);
        ASSERT_TRUE(fi.found);
        EXPECT_EQ(fi.rowBytes, 12 * 4 + 16);
        unsigned char* picture = nullptr;
        ASSERT_EQ(DecodeFramePayload(recipe.frames[i].data(),
                                     static_cast<unsigned>(recipe.frames[i].size()), 12, 6,
                                     &picture),
                  0);
        for (int k = 0; k < 6; k++)
            EXPECT_EQ(std::memcmp(fi.pixels + k * fi.rowBytes, picture + (5 - k) * 48, 48), 0)
                << "frame " << i << " memory row " << k;
        std::free(picture);
    }
    // A second request for the same frame is a cache hit and reads nothing.
    int64_t hitsBefore = keo::host::counters(host).cacheHits;
    PPixHand again = nullptr;
    EXPECT_EQ(sourceVideo(t, &again), 0);
    EXPECT_EQ(keo::host::counters(host).cacheHits, hitsBefore + 1);

    // Audio: sequential requests continue where the last one ended.
    std::vector<std::vector<float>> ch;
    EXPECT_EQ(audio(-1, 150, &ch, 2), 0);
    EXPECT_EQ(audio(-1, 100, &ch, 2), 0); // 50 delivered, the rest untouched
    EXPECT_EQ(ch[0][49] == -7.0f, false);
    EXPECT_EQ(ch[0][50], -7.0f);
    EXPECT_EQ(audio(-1, 10, &ch, 2), 0); // at the end: nothing
    EXPECT_EQ(ch[1][0], -7.0f);

    // Quiet gives the file back; a second quiet is harmless; open again.
    quiet();
    quiet();
    EXPECT_EQ(sourceVideo(t * 2, nullptr), imFrameOrAudioErr);
    ASSERT_EQ(open(files.back()->path), 0);
    ASSERT_EQ(info(), 0);
    EXPECT_EQ(keo::host::suiteHeld(host, kPrSDKTimeSuite, 1), 1); // not held twice
    keo::host::clearFrameCache(host);
    EXPECT_EQ(sourceVideo(t, nullptr), 0);
    closeFile();
    EXPECT_EQ(keo::host::counters(host).suitesHeld, 0);
}

// The host learns alpha from the first frame's header alone; a header the
// decoder refuses (all 0xFF here) must not claim alpha for a movie that will
// never show a picture of it.
TEST_F(ImporterEntryTest, AlphaComesOnlyFromAHeaderTheDecoderTakes) {
    struct Case {
        const char* what;
        bool garbleFirstHeader;
        int alphaType;
    } cases[] = {{"a first frame with alpha", false, 1}, {"a first header of 0xFF", true, 0}};
    for (const Case& c : cases) {
        MovieRecipe recipe;
        recipe.frames = {KeoFrame(8, 8, true, false, 0), KeoFrame(8, 8, true, false, 1)};
        if (c.garbleFirstHeader)
            std::fill(recipe.frames[0].begin(), recipe.frames[0].begin() + kKEOFrameHeaderSize,
                      0xFF);
        ASSERT_EQ(open(BuildMovie(recipe).bytes()), 0) << c.what;
        fileInfo.vidInfo.alphaType = 0;
        ASSERT_EQ(info(), 0) << c.what;
        EXPECT_EQ(fileInfo.vidInfo.alphaType, c.alphaType) << c.what;
        closeFile();
    }
}

TEST_F(ImporterEntryTest, RatesReachTheHostAsCanonicalPairs) {
    struct Case {
        uint32_t scale, duration;
        int32_t vidScale, vidSampleSize;
        PrTime ticks;
    } cases[] = {
        {2500, 100, 25, 1, keo::host::kTicksPerSecond / 25},
        {2997, 100, 30000, 1001, keo::host::kTicksPerSecond * 1001 / 30000},
        {15, 1, 15, 1, keo::host::kTicksPerSecond / 15},
        // 12.5 frames per second plays at 12.5, not at 25.
        {25, 2, 25, 2, keo::host::kTicksPerSecond * 2 / 25},
    };
    for (const Case& c : cases) {
        MovieRecipe recipe;
        recipe.timeScale = c.scale;
        recipe.duration = c.duration;
        recipe.frames = {keotest::dxt1Frame(0), keotest::dxt1Frame(1), keotest::dxt1Frame(2)};
        ASSERT_EQ(open(BuildMovie(recipe).bytes()), 0);
        ASSERT_EQ(info(), 0) << c.scale << "/" << c.duration;
        EXPECT_EQ(fileInfo.vidScale, c.vidScale);
        EXPECT_EQ(fileInfo.vidSampleSize, c.vidSampleSize);
        EXPECT_EQ(fileInfo.vidDuration, 3 * c.vidSampleSize);
        // Frame 2 starts exactly at 2 x ticks per frame, and not a tick before.
        EXPECT_EQ(sourceVideo(2 * c.ticks, nullptr), 0);
        EXPECT_EQ(sourceVideo(3 * c.ticks - 1, nullptr), 0);
        EXPECT_EQ(sourceVideo(3 * c.ticks, nullptr), imFrameOrAudioErr);
        closeFile();
        keo::host::clearFrameCache(host);
    }
}

TEST_F(ImporterEntryTest, DurationBeyondTheHostsFieldIsRefused) {
    // About one frame per second in units of 10^-9 s, a rate of no standard
    // kind, so the pair stays: two frames last 2 x 10^9 units, which fits
    // the host's 32-bit duration; three do not.
    for (int frames : {2, 3}) {
        MovieRecipe recipe;
        recipe.timeScale = 1000000007;
        recipe.duration = 1000000000;
        for (int i = 0; i < frames; i++)
            recipe.frames.push_back(keotest::dxt1Frame(static_cast<uint8_t>(i)));
        ASSERT_EQ(open(BuildMovie(recipe).bytes()), 0);
        if (frames == 2) {
            ASSERT_EQ(info(), 0);
            EXPECT_EQ(fileInfo.vidDuration, 2000000000);
        } else {
            EXPECT_EQ(info(), imBadFile);
        }
        closeFile();
    }
}

TEST_F(ImporterEntryTest, RowsWithoutPaddingAreCopiedAsTheyAre) {
    keo::host::setRowPadding(host, 0);
    MovieRecipe recipe;
    recipe.frames = {KeoFrame(8, 8, false, false, 3), KeoFrame(8, 8, false, false, 4)};
    ASSERT_EQ(open(BuildMovie(recipe).bytes()), 0);
    ASSERT_EQ(info(), 0);
    PPixHand frame = nullptr;
    ASSERT_EQ(sourceVideo(ticksOf(PrVideoFrameRate_25), &frame), 0);
    keo::host::FrameInfo fi = keo::host::describeFrame(host, frame);
    EXPECT_EQ(fi.rowBytes, 32);
    unsigned char* picture = nullptr;
    ASSERT_EQ(DecodeFramePayload(recipe.frames[1].data(), 60, 8, 8, &picture), 0);
    for (int k = 0; k < 8; k++)
        EXPECT_EQ(std::memcmp(fi.pixels + k * 32, picture + (7 - k) * 32, 32), 0);
    std::free(picture);
}

// Audio of every width in both byte orders reaches the host's suite in
// machine order: the floats equal those the suite makes of the expected
// machine-order integers.
TEST_F(ImporterEntryTest, AudioOfEveryWidthAndByteOrder) {
    for (const char* format : {"twos", "sowt"}) {
        for (int bits : {8, 16, 24, 32}) {
            SCOPED_TRACE(std::string(format) + " " + std::to_string(bits));
            MovieRecipe recipe;
            recipe.frames = {KeoFrame(8, 8, false, false, 1), KeoFrame(8, 8, false, false, 2)};
            recipe.audio = true;
            recipe.audioFormat = format;
            recipe.bits = bits;
            recipe.channels = 3;
            ASSERT_EQ(open(BuildMovie(recipe).bytes()), 0);
            ASSERT_EQ(info(), 0);
            EXPECT_EQ(fileInfo.audInfo.sampleType, bits == 8    ? 1
                                                   : bits == 16 ? 3
                                                   : bits == 24 ? 4
                                                                : 5);
            std::vector<std::vector<float>> got;
            // Across the chunk boundary at 100.
            ASSERT_EQ(audio(90, 20, &got, 3), 0);

            Bytes machine = AudioBytes(90, 20, 3, bits, true);
            std::vector<std::vector<float>> want(3, std::vector<float>(20));
            float* planes[3] = {want[0].data(), want[1].data(), want[2].data()};
            char* src = reinterpret_cast<char*>(machine.data());
            auto* a = suites.audio;
            (bits == 8    ? a->UninterleaveAndConvertFrom8BitInteger
             : bits == 16 ? a->UninterleaveAndConvertFrom16BitInteger
             : bits == 24 ? a->UninterleaveAndConvertFrom24BitInteger
                          : a->UninterleaveAndConvertFrom32BitInteger)(src, planes, 3, 20);
            EXPECT_EQ(got, want);
            closeFile();
        }
    }
}

TEST_F(ImporterEntryTest, AudioPositionsFollowTheRequests) {
    MovieRecipe recipe;
    recipe.frames = {KeoFrame(8, 8, false, false, 1), KeoFrame(8, 8, false, false, 2)};
    recipe.audio = true;
    recipe.audioFrames = 1000;
    ASSERT_EQ(open(BuildMovie(recipe).bytes()), 0);
    ASSERT_EQ(info(), 0);
    std::vector<std::vector<float>> ch;
    // 900 + 200 is past the end: 100 delivered.
    EXPECT_EQ(audio(900, 200, &ch, 2), 0);
    EXPECT_NE(ch[0][99], -7.0f);
    EXPECT_EQ(ch[0][100], -7.0f);
    EXPECT_EQ(audio(-1, 10, &ch, 2), 0); // continues at 1000: nothing
    EXPECT_EQ(ch[0][0], -7.0f);
    ASSERT_EQ(info(), 0); // resets the position
    std::vector<std::vector<float>> fromStart;
    EXPECT_EQ(audio(-1, 5, &ch, 2), 0);
    EXPECT_EQ(audio(0, 5, &fromStart, 2), 0);
    EXPECT_EQ(ch, fromStart);
    EXPECT_NE(ch[1][4], -7.0f);
}

} // namespace
} // namespace keoimp
