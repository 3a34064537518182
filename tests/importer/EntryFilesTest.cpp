// The module through its entry with files: movies it refuses, paths that
// are not plain ASCII or are long, close, save and delete, and no file.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ImporterDriver.h"
#include "importer/ImporterLocalRec.h"

namespace keoimp {
namespace {

using ImporterEntryTest = ImporterTest;

TEST_F(ImporterEntryTest, OpenRefusesWhatItCannotRead) {
    EXPECT_EQ(open(std::string("/nonexistent/keo-movie.mov")), imBadFile);
    // A movie whose video is not ZUVM.
    MovieRecipe recipe;
    recipe.frames = {KeoFrame(8, 8, false, false, 1)};
    keotest::Movie movie = BuildMovie(recipe);
    *movie.find("trak/mdia/minf/stbl/stsd") = keotest::stsdAtom({keotest::videoEntry("XXXX")});
    EXPECT_EQ(open(movie.bytes()), imBadFile);
    // The record lives on with no movie: info refuses, close disposes of it.
    EXPECT_EQ(info(), imBadFile);
}

TEST_F(ImporterEntryTest, NonAsciiAndLongPathsOpenTheRightFile) {
    MovieRecipe recipe;
    recipe.frames = {KeoFrame(8, 8, false, false, 1)};
    Bytes movie = BuildMovie(recipe).bytes();
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("keo-imp-" + std::to_string(getpid()));
    // 300 characters of folder names, so the path is longer than 255 units.
    fs::path deep = dir;
    for (int i = 0; i < 6; i++)
        deep /= std::string(50, static_cast<char>('a' + i));
    fs::create_directories(deep);
    std::string names[] = {(dir / "Zoë – 映画 🎬.mov").string(), (deep / "movie.mov").string()};
    for (const std::string& name : names) {
        std::ofstream(name, std::ios::binary)
            .write(reinterpret_cast<const char*>(movie.data()), movie.size());
        EXPECT_EQ(open(name), 0) << name;
        EXPECT_EQ(info(), 0);
        // The file opened is the whole path; the record's 256-unit name
        // keeps what fits of it, terminated.
        const ImporterLocalRec8* rec = RecordOf(privateData);
        ASSERT_NE(rec, nullptr);
        const size_t kept = std::min<size_t>(path16.size() - 1, kRecordNameUnits - 1);
        EXPECT_TRUE(std::equal(path16.begin(), path16.begin() + kept, rec->name)) << name;
        EXPECT_EQ(rec->name[kept], 0) << name;
    }
    // An unpaired surrogate names no file.
    std::vector<prUTF16Char> bad = Utf16((dir / "x.mov").string());
    bad[bad.size() - 3] = 0xD800;
    imFileOpenRec8 rec{};
    rec.fileinfo.filepath = bad.data();
    rec.privatedata = privateData;
    EXPECT_EQ(call(imOpenFile8, &fileRef, &rec), imBadFile);
    closeFile();
    fs::remove_all(dir);
}

TEST_F(ImporterEntryTest, CloseWithAnInvalidReferenceStillGivesEverythingBack) {
    MovieRecipe recipe;
    recipe.frames = {KeoFrame(8, 8, false, false, 1)};
    ASSERT_EQ(open(BuildMovie(recipe).bytes()), 0);
    ASSERT_EQ(info(), 0);
    imFileRef invalid = imInvalidFileRef;
    EXPECT_EQ(call(imCloseFile, &invalid, privateData), 0);
    closed = true;
    EXPECT_EQ(keo::host::counters(host).suitesHeld, 0);
    EXPECT_EQ(keo::host::counters(host).handlesLive, 0);
}

TEST_F(ImporterEntryTest, SaveCopiesOrMovesAndOverwritesDeleteRemoves) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("keo-save-" + std::to_string(getpid()));
    fs::create_directories(dir);
    auto write = [](const fs::path& p, const char* text) { std::ofstream(p) << text; };
    auto read = [](const fs::path& p) {
        std::string s;
        std::getline(std::ifstream(p), s);
        return s;
    };
    write(dir / "a.mov", "first");
    write(dir / "b.mov", "old");
    auto src = Utf16((dir / "a.mov").string());
    auto dst = Utf16((dir / "b.mov").string());
    imSaveFileRec8 save{nullptr, src.data(), dst.data(), 1};
    EXPECT_EQ(call(imSaveFile8, &save, nullptr), 0); // copy over an existing file
    EXPECT_EQ(read(dir / "b.mov"), "first");
    EXPECT_TRUE(fs::exists(dir / "a.mov"));

    auto moved = Utf16((dir / "c.mov").string());
    save = {nullptr, src.data(), moved.data(), 0};
    EXPECT_EQ(call(imSaveFile8, &save, nullptr), 0); // move
    EXPECT_FALSE(fs::exists(dir / "a.mov"));
    EXPECT_EQ(read(dir / "c.mov"), "first");

    auto noSlash = Utf16("c.mov");
    save = {nullptr, moved.data(), noSlash.data(), 1};
    EXPECT_EQ(call(imSaveFile8, &save, nullptr), imSaveErr);
    auto missing = Utf16((dir / "none" / "x.mov").string());
    save = {nullptr, moved.data(), missing.data(), 1};
    EXPECT_EQ(call(imSaveFile8, &save, nullptr), imSaveErr);
    save = {nullptr, missing.data(), dst.data(), 1};
    EXPECT_EQ(call(imSaveFile8, &save, nullptr), imSaveErr);

    imDeleteFileRec del{0, moved.data()};
    EXPECT_EQ(call(imDeleteFile8, &del, nullptr), 0);
    EXPECT_FALSE(fs::exists(dir / "c.mov"));
    EXPECT_EQ(call(imDeleteFile8, &del, nullptr), imDeleteErr);
    fs::remove_all(dir);
}

TEST_F(ImporterEntryTest, PreferredFrameSizeWithoutAMovie) {
    imPreferredFrameSizeRec request{nullptr, 0, -1, -1};
    EXPECT_EQ(call(imGetPreferredFrameSize, &request, nullptr), imOtherErr);
    EXPECT_EQ(open(std::string("/nonexistent.mov")), imBadFile);
    request.inPrivateData = privateData;
    EXPECT_EQ(call(imGetPreferredFrameSize, &request, nullptr), imOtherErr);
}

} // namespace

} // namespace keoimp
