// Unit tests of libkeo's own pieces: frame-rate parsing and ticks, outputs
// that appear whole, and timecode.
#include "libkeo/AtomicOutput.h"
#include "libkeo/Failure.h"
#include "libkeo/FrameRate.h"
#include "libkeo/Timecode.h"
#include "tools/TempFolder.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace keo::lib;

namespace {

constexpr int64_t kTicksPerSecond = 254016000000LL;

FrameRate rateOf(const std::string& text) {
    FrameRate r;
    std::string why;
    EXPECT_TRUE(parseFrameRate(text, &r, &why)) << text << ": " << why;
    return r;
}

} // namespace

TEST(FrameRate, WholeFractionalAndNtscShorthands) {
    struct Case {
        const char* text;
        int64_t num, den;
    } cases[] = {
        {"25", 25, 1},
        {"50/2", 25, 1},
        {"12.5", 25, 2},
        {"29.97", 30000, 1001},
        {"30000/1001", 30000, 1001},
        {"23.976", 24000, 1001},
        {"23.98", 24000, 1001},
        {"59.94", 60000, 1001},
        {"29.9", 299, 10},
        {"0.5", 1, 2},
    };
    for (const Case& c : cases) {
        FrameRate r = rateOf(c.text);
        EXPECT_EQ(r.num, c.num) << c.text;
        EXPECT_EQ(r.den, c.den) << c.text;
    }
}
TEST(FrameRate, RefusesWhatIsNotAPositiveRate) {
    for (const char* text : {"0", "0.0", "-25", "abc", "25/0", "0/1", "1.", ".", "", "25fps",
                             "1/2/3", "99999999999"}) {
        FrameRate r;
        std::string why;
        EXPECT_FALSE(parseFrameRate(text, &r, &why)) << text;
        EXPECT_FALSE(why.empty()) << text;
    }
}
TEST(FrameRate, TicksAreExactForStandardRatesAndRoundedOtherwise) {
    EXPECT_EQ(ticksPerFrame(rateOf("25"), kTicksPerSecond), 10160640000LL);
    EXPECT_EQ(ticksPerFrame(rateOf("29.97"), kTicksPerSecond), 8475667200LL);
    EXPECT_EQ(ticksPerFrame(rateOf("23.976"), kTicksPerSecond), kTicksPerSecond * 1001 / 24000);
    // 254016000000 / 11 = 23092363636.36...
    EXPECT_EQ(ticksPerFrame(rateOf("11"), kTicksPerSecond), 23092363636LL);
    // 254016000000 / 13 = 19539692307.69...
    EXPECT_EQ(ticksPerFrame(rateOf("13"), kTicksPerSecond), 19539692308LL);
}
std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}
TEST_F(TempFolder, CommittedOutputAppearsWholeWithOrdinaryPermissions) {
    const std::string target = dir + "/out.bin";
    {
        AtomicOutput out;
        beginOutput(out, target, OutputUse::Seek);
        std::ofstream(out.writePath) << "done";
        // Nothing under any name until it is complete.
        EXPECT_NE(access(target.c_str(), F_OK), 0);
        commitOutput(out);
        EXPECT_TRUE(out.writePath.empty());
    }
    EXPECT_EQ(readText(target), "done");
    mode_t mask = umask(0);
    umask(mask);
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
    EXPECT_EQ(entries(), std::vector<std::string>{"out.bin"});
}
TEST_F(TempFolder, AReplacedFileKeepsItsModeAndItsBytesUntilTheCommit) {
    const std::string target = dir + "/movie.mov";
    std::ofstream(target) << "old";
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    AtomicOutput out;
    beginOutput(out, target, OutputUse::Seek);
    std::ofstream(out.writePath) << "new";
    EXPECT_EQ(readText(target), "old");
    commitOutput(out);
    EXPECT_EQ(readText(target), "new");
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(entries(), std::vector<std::string>{"movie.mov"});
}
TEST_F(TempFolder, ASymbolicLinkIsWrittenThroughAndStays) {
    const std::string real = dir + "/real.mov", link = dir + "/link.mov";
    std::ofstream(real) << "old";
    ASSERT_EQ(symlink("real.mov", link.c_str()), 0);
    AtomicOutput out;
    beginOutput(out, link, OutputUse::Seek);
    std::ofstream(out.writePath) << "new";
    commitOutput(out);
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(readText(real), "new");
    // A link to a name that does not exist yet makes that file.
    ASSERT_EQ(symlink("later.mov", (dir + "/dangling.mov").c_str()), 0);
    beginOutput(out, dir + "/dangling.mov", OutputUse::Stream);
    std::ofstream(out.writePath) << "made";
    commitOutput(out);
    EXPECT_EQ(readText(dir + "/later.mov"), "made");
    unlink(link.c_str());
    unlink((dir + "/dangling.mov").c_str());
}
TEST_F(TempFolder, UncommittedOutputLeavesNothing) {
    {
        AtomicOutput out;
        beginOutput(out, dir + "/out.bin", OutputUse::Seek);
        std::ofstream(out.writePath) << "half";
    }
    EXPECT_TRUE(entries().empty());
    AtomicOutput twice;
    beginOutput(twice, dir + "/again.bin", OutputUse::Stream);
    abandonOutput(twice);
    abandonOutput(twice);
    EXPECT_TRUE(entries().empty());
}
TEST_F(TempFolder, OutputsThatCannotBeWrittenFailBeforeAnythingIsMade) {
    AtomicOutput out;
    EXPECT_THROW(beginOutput(out, dir, OutputUse::Seek), Failure);
    EXPECT_THROW(beginOutput(out, dir + "/missing/out.bin", OutputUse::Seek), Failure);
    EXPECT_THROW(beginOutput(out, "", OutputUse::Seek), Failure);
    // An input given as the output, also through a link to it.
    const std::string input = dir + "/in.png";
    std::ofstream(input) << "picture";
    ASSERT_EQ(symlink("in.png", (dir + "/alias.png").c_str()), 0);
    EXPECT_THROW(beginOutput(out, input, OutputUse::Stream, {input}), Failure);
    EXPECT_THROW(beginOutput(out, dir + "/alias.png", OutputUse::Stream, {input}), Failure);
    // A FIFO cannot take an output that seeks.
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    EXPECT_THROW(beginOutput(out, dir + "/fifo", OutputUse::Seek), Failure);
    EXPECT_EQ(readText(input), "picture");
    unlink((dir + "/alias.png").c_str());
    unlink((dir + "/fifo").c_str());
}
TEST(Timecode, WholeRatesAndDropFrame) {
    EXPECT_EQ(timecodeOf(0, 25, 1), "00:00:00:00");
    EXPECT_EQ(timecodeOf(50, 25, 1), "00:00:02:00");
    EXPECT_EQ(timecodeOf(25 * 3661 + 7, 25, 1), "01:01:01:07");
    EXPECT_EQ(timecodeOf(24, 24000, 1001), "00:00:01:00") << "23.976 counts at 24";
    // 29.97 skips frame numbers 00 and 01 of every minute but each tenth.
    EXPECT_EQ(timecodeOf(1799, 30000, 1001), "00:00:59;29");
    EXPECT_EQ(timecodeOf(1800, 30000, 1001), "00:01:00;02");
    EXPECT_EQ(timecodeOf(17982, 30000, 1001), "00:10:00;00");
    EXPECT_EQ(timecodeOf(107892, 30000, 1001), "01:00:00;00");
    EXPECT_EQ(timecodeOf(3600, 60000, 1001), "00:01:00;04");
}
