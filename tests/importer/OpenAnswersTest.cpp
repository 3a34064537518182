// What the module tells the host when a movie's claims cannot be met: a
// picture no frame can be delivered in is refused when the movie is opened
// and described, before the host plans for it; audio that the file does not
// hold is an error, never silence reported as success; and a handler name
// that is not a Pascal string does not cost the user the movie.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "ImporterDriver.h"

namespace keoimp {
namespace {

using keotest::Movie;

class OpenAnswersTest : public ImporterTest {
protected:
    // The baseline movie with the track header's size set; DXT24 frame
    // headers when asked.
    static Bytes sized(double width, double height, bool dxt24 = false) {
        Movie m = keotest::baselineMovie();
        m.find("trak/tkhd")->data = keotest::tkhdBody(width, height);
        if (dxt24) {
            m.mdat().data[26] = 1; // isDXT24 of both frame headers
            m.mdat().data[60 + 26] = 1;
        }
        return m.bytes();
    }
};

struct Size {
    double width, height;
    bool dxt24;
    const char* why;
};

const Size kImpossible[] = {
    {0, 0, false, "no picture at all"},
    {8, 0, false, "no rows"},
    {0, 8, false, "no columns"},
    {65535.99, 65535.99, false, "16 GiB of pixels"},
    {65535.99, 65535.99, true, "16 GiB of pixels, DXT24 frames"},
    {46341, 46341, false, "just past 2^31 bytes"},
    {16384, 32768, false, "exactly 2^31 bytes"},
    {32768, 8, false, "a side no host frame can state"},
};

TEST_F(OpenAnswersTest, PicturesNoFrameCanFillAreRefusedAtOpen) {
    for (const Size& s : kImpossible) {
        SCOPED_TRACE(s.why);
        EXPECT_EQ(open(sized(s.width, s.height, s.dxt24)), imBadFile);
        // The record stays without a movie: describing it refuses as well,
        // and no frame is ever made for it.
        EXPECT_EQ(info(), imBadFile);
        EXPECT_EQ(sourceVideo(0, nullptr), imFrameOrAudioErr);
        closeFile();
    }
    EXPECT_EQ(keo::host::counters(host).framesCreated, 0);
}

TEST_F(OpenAnswersTest, TheLargestPicturesThatFitStillOpen) {
    // 16384 x 32767 x 4 is 2^31 - 65536 bytes: the decoder takes it. Only
    // described here; a frame of it would be a 2 GiB host frame.
    for (Size s : {Size{16384, 32767, false, "just below 2^31 bytes"},
                   Size{32767, 16, false, "the widest side a host frame states"}}) {
        SCOPED_TRACE(s.why);
        ASSERT_EQ(open(sized(s.width, s.height)), 0);
        ASSERT_EQ(info(), 0);
        EXPECT_EQ(fileInfo.vidInfo.imageWidth, static_cast<int32_t>(s.width));
        EXPECT_EQ(fileInfo.vidInfo.imageHeight, static_cast<int32_t>(s.height));
        closeFile();
    }
}

// The refusal costs a few megabytes at most: opened and described in a child
// process whose address space may grow by 64 MiB only, every impossible
// picture is refused all the same (an open that planned for the picture
// would need gigabytes). Sanitizers reserve terabytes of address space, so
// their builds check the answers above only.
TEST_F(OpenAnswersTest, RefusingAPictureTakesBoundedMemory) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "address space limits do not work under the sanitizers";
#else
    std::vector<std::string> paths;
    for (const Size& s : kImpossible) {
        files.push_back(std::make_unique<keotest::TempFile>(sized(s.width, s.height, s.dxt24)));
        paths.push_back(files.back()->path);
    }
    std::fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        long pages = 0;
        std::FILE* statm = std::fopen("/proc/self/statm", "r");
        if (!statm || std::fscanf(statm, "%ld", &pages) != 1)
            _exit(3);
        std::fclose(statm);
        const rlim_t limit = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (64u << 20);
        rlimit r{limit, limit};
        if (setrlimit(RLIMIT_AS, &r) != 0)
            _exit(3);
        for (const std::string& p : paths) {
            int32_t opened = open(p);
            int32_t described = info();
            closeFile();
            if (opened != imBadFile || described != imBadFile)
                _exit(1);
        }
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child was killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}

// Audio: the baseline's two chunks of 100 sample frames, the second moved.
class AudioAnswersTest : public ImporterTest {
protected:
    static Bytes withSecondChunkAt(uint64_t offset) {
        Movie m = keotest::baselineMovie(true);
        m.find("trak#1/mdia/minf/stbl/co64")->data = keotest::co64Body({76, offset});
        return m.bytes();
    }
    // Every request's channels must either be whole or untouched.
    static bool untouched(const std::vector<std::vector<float>>& channels) {
        for (const auto& c : channels)
            for (float v : c)
                if (v != -7.0f)
                    return false;
        return true;
    }
};

TEST_F(AudioAnswersTest, SamplesTheFileDoesNotHoldAreAnError) {
    // The intact movie, for the values of the first chunk.
    std::vector<std::vector<float>> expected;
    ASSERT_EQ(open(keotest::baselineMovie(true).bytes()), 0);
    ASSERT_EQ(info(), 0);
    ASSERT_EQ(audio(0, 100, &expected, 2), 0);
    closeFile();

    const size_t fileBytes = withSecondChunkAt(0).size();
    struct {
        uint64_t offset;
        const char* why;
    } cases[] = {{0xC0000000u, "a chunk far past the end of the file"},
                 {fileBytes - 100, "a chunk that runs 300 bytes past the end"},
                 {fileBytes, "a chunk that starts at the end"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        ASSERT_EQ(open(withSecondChunkAt(c.offset)), 0);
        ASSERT_EQ(info(), 0);
        std::vector<std::vector<float>> got;
        // Any request that needs the second chunk fails and fills nothing.
        EXPECT_EQ(audio(0, 200, &got, 2), imFrameOrAudioErr);
        EXPECT_TRUE(untouched(got));
        EXPECT_EQ(audio(95, 40, &got, 2), imFrameOrAudioErr);
        EXPECT_TRUE(untouched(got));
        EXPECT_EQ(audio(190, 10, &got, 2), imFrameOrAudioErr);
        EXPECT_TRUE(untouched(got));
        // The first chunk is there and comes as it always did.
        EXPECT_EQ(audio(0, 100, &got, 2), 0);
        EXPECT_EQ(got, expected);
        closeFile();
    }
}

TEST_F(AudioAnswersTest, AudioTheTablesDoNotPlaceIsAnError) {
    // Sample-to-chunk runs that cover only the first chunk: the track's
    // 200 samples (from its time-to-sample table) outrun the chunks.
    Movie m = keotest::baselineMovie(true);
    m.find("trak#1/mdia/minf/stbl/co64")->data = keotest::co64Body({76});
    ASSERT_EQ(open(m.bytes()), 0);
    ASSERT_EQ(info(), 0);
    ASSERT_EQ(fileInfo.audDuration, 200);
    std::vector<std::vector<float>> got;
    EXPECT_EQ(audio(0, 200, &got, 2), imFrameOrAudioErr);
    EXPECT_TRUE(untouched(got));
    EXPECT_EQ(audio(0, 100, &got, 2), 0);
}

TEST_F(OpenAnswersTest, HandlerNamesStoredAsTextOpen) {
    for (const char* where : {"trak/mdia/hdlr", "trak/mdia/minf/hdlr", "trak#1/mdia/hdlr"}) {
        SCOPED_TRACE(where);
        Movie m = keotest::baselineMovie(true);
        Bytes body = keotest::hdlrBody("vide", "");
        body.resize(24);
        for (char c : std::string("Core Media Video"))
            body.push_back(static_cast<uint8_t>(c));
        body.push_back(0);
        m.find(where)->data = body;
        ASSERT_EQ(open(m.bytes()), 0);
        ASSERT_EQ(info(), 0);
        EXPECT_EQ(sourceVideo(0, nullptr), 0);
        EXPECT_EQ(sourceVideo(ticksOf(PrVideoFrameRate_25), nullptr), 0);
        std::vector<std::vector<float>> got;
        EXPECT_EQ(audio(0, 200, &got, 2), 0);
        closeFile();
    }
}

} // namespace
} // namespace keoimp
