// What keo info makes of edit lists: movies built byte by byte, four seconds
// of video (100 frames of 24 units at 600 a second, in a movie whose time
// scale is 600 too) and, where a case needs it, a short sound track, each
// track with the edit list of the case. Every case says what a player does
// with the list and so which note, if any, keo must give.
#include "container/MovFile.h"
#include "libkeo/EditList.h"
#include "support/MovieBuilder.h"

#include <algorithm>
#include <array>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

using namespace keotest;
using keo::lib::MovieEdits;

namespace {

using Edits = std::vector<std::array<uint32_t, 3>>; // duration, media time, rate (16.16)
constexpr uint32_t kEmpty = 0xFFFFFFFF;
constexpr uint32_t kRate1 = 0x10000;
constexpr uint32_t kFrames = 100;

void setEdits(Atom& trak, const std::optional<Edits>& edits, int version = 0) {
    Atom* elst = trak.find("edts/elst");
    ASSERT_NE(elst, nullptr);
    if (!edits) {
        auto& c = trak.children;
        c.erase(std::remove_if(c.begin(), c.end(), [](const Atom& a) { return a.type == "edts"; }),
                c.end());
        return;
    }
    elst->data = elstBody(*edits);
    elst->data[0] = static_cast<uint8_t>(version);
}

// 100 frames of 60 bytes in one chunk, then 4410 sample frames of sound.
Movie editedMovie(const std::optional<Edits>& video, const std::optional<Edits>& sound = {},
                  int version = 0) {
    Movie m;
    Atom mdat = atom("mdat");
    mdat.large = true;
    VideoTrack v;
    v.tables.stts = {{kFrames, 24}};
    v.tables.stsc = {{1, kFrames, 1}};
    v.tables.sampleSize = 60;
    v.tables.sampleCount = kFrames;
    v.tables.offsets = {16};
    for (uint32_t i = 0; i < kFrames; ++i)
        append(mdat.data, dxt1Frame(static_cast<uint8_t>(i)));
    SoundTrack s;
    s.tables.stts = {{4410, 1}};
    s.tables.stsc = {{1, 4410, 1}};
    s.tables.sampleSize = 1;
    s.tables.sampleCount = 4410;
    s.tables.offsets = {16 + mdat.data.size()};
    append(mdat.data, audioChunk(0, 4410));
    Atom moov = atom("moov");
    moov.add(atom("mvhd", mvhdBody(600)));
    Atom vt = videoTrak(v, 1);
    setEdits(vt, video, version);
    moov.add(std::move(vt));
    if (sound) {
        Atom st = soundTrak(s, 2);
        setEdits(st, sound);
        moov.add(std::move(st));
    }
    m.top.push_back(std::move(mdat));
    m.top.push_back(std::move(moov));
    return m;
}

MovieEdits editsOf(const Movie& m) {
    TempFile file(m.bytes());
    MovFile movie;
    EXPECT_NE(movie.openRead(file.path.c_str(), 28), nullptr);
    MovieEdits edits = keo::lib::readEdits(movie);
    movie.close();
    return edits;
}

std::string allNotes(const MovieEdits& e) {
    std::string all;
    for (const std::string& n : e.notes)
        all += n + "\n";
    return all;
}

} // namespace

// One case per thing a player may do with a list; "" expects no note.
TEST(EditList, NotesWhereAPlayerShowsTheMovieOtherwise) {
    struct Case {
        const char* what;
        std::optional<Edits> video;
        std::optional<Edits> sound;
        const char* note;
    } cases[] = {
        {"no edit list at all", std::nullopt, std::nullopt, ""},
        {"one edit over the whole media, as keo writes it", Edits{{2400, 0, kRate1}}, {}, ""},
        {"an edit one movie unit short, as float rounding leaves it",
         Edits{{2399, 0, kRate1}},
         {},
         ""},
        {"an edit of no length, which some writers use for the whole media",
         Edits{{0, 0, kRate1}},
         {},
         ""},
        {"two edits that follow on", Edits{{1200, 0, kRate1}, {1200, 1200, kRate1}}, {}, ""},
        {"an empty second before the video",
         Edits{{600, kEmpty, kRate1}, {2400, 0, kRate1}},
         {},
         "a player starts its video 1.000 s late"},
        {"a start 40 frames into the media",
         Edits{{1440, 960, kRate1}},
         {},
         "a player starts its video 1.600 s into its media (frame 40)"},
        {"the media shown at twice its pace",
         Edits{{1200, 0, 2 * kRate1}},
         {},
         "its video's 1 edits have a player pause, jump or change pace"},
        {"the first second shown twice",
         Edits{{600, 0, kRate1}, {2400, 0, kRate1}},
         {},
         "its video's 2 edits have a player pause, jump or change pace"},
        {"a pause between two halves",
         Edits{{1200, 0, kRate1}, {300, kEmpty, kRate1}, {1200, 1200, kRate1}},
         {},
         "its video's 3 edits have a player pause, jump or change pace"},
        {"the video stopped at half its length",
         Edits{{1200, 0, kRate1}},
         {},
         "a player stops its video at 2.000 s of its 4.000 s (frame 50)"},
        {"nothing but an empty edit",
         Edits{{600, kEmpty, kRate1}},
         {},
         "its video's edit list shows none of it"},
        {"sound half a second behind the video", Edits{{2400, 0, kRate1}},
         Edits{{300, kEmpty, kRate1}, {60, 0, kRate1}}, "a player starts its sound 0.500 s late"},
    };
    for (const Case& c : cases) {
        const MovieEdits e = editsOf(editedMovie(c.video, c.sound));
        const std::string notes = allNotes(e);
        if (*c.note == 0)
            EXPECT_EQ(notes, "") << c.what;
        else
            EXPECT_NE(notes.find(c.note), std::string::npos) << c.what << ": " << notes;
        const size_t listed = (c.video ? c.video->size() : 0) + (c.sound ? c.sound->size() : 0);
        EXPECT_EQ(e.edits.size(), listed) << c.what;
    }
}

// The figures of the list, which keo info --json gives as they are and in
// seconds: a late start has an empty edit, then the media from its start.
TEST(EditList, ListsEachEditWithItsPlaceOnTheTimeline) {
    const MovieEdits e = editsOf(editedMovie(Edits{{600, kEmpty, kRate1}, {1440, 960, kRate1}},
                                             Edits{{300, kEmpty, kRate1}, {60, 441, kRate1}}));
    ASSERT_EQ(e.edits.size(), 4u);
    EXPECT_STREQ(e.edits[0].track, "video");
    EXPECT_TRUE(e.edits[0].empty());
    EXPECT_EQ(e.edits[0].mediaTime, -1);
    EXPECT_DOUBLE_EQ(e.edits[0].seconds, 1.0);
    EXPECT_EQ(e.edits[1].duration, 1440);
    EXPECT_EQ(e.edits[1].mediaTime, 960);
    EXPECT_DOUBLE_EQ(e.edits[1].start, 1.0);
    EXPECT_DOUBLE_EQ(e.edits[1].mediaSeconds, 1.6);
    EXPECT_DOUBLE_EQ(e.edits[1].rate, 1.0);
    EXPECT_STREQ(e.edits[3].track, "audio");
    EXPECT_DOUBLE_EQ(e.edits[3].start, 0.5);
    EXPECT_DOUBLE_EQ(e.edits[3].mediaSeconds, 0.01); // 441 of 44100
}

// A list of another layout would be read as the wrong fields: it is not
// listed, and keo says it could not read it.
TEST(EditList, AListOfAnotherVersionIsNotReadButSaid) {
    const MovieEdits e = editsOf(editedMovie(Edits{{600, kEmpty, kRate1}}, {}, 1));
    EXPECT_TRUE(e.edits.empty());
    EXPECT_NE(allNotes(e).find("is of version 1, which keo does not read"), std::string::npos)
        << allNotes(e);
}
