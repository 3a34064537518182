// Unit tests of libkeo's own pieces: outputs that appear whole.
#include "libkeo/AtomicOutput.h"
#include "libkeo/Failure.h"
#include "tools/TempFolder.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace keo::lib;

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
