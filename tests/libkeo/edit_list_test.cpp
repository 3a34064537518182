// What keo info makes of edit lists: movies built byte by byte, four seconds
// of video (100 frames of 24 units at 600 a second, in a movie whose time
// scale is 600 too) and a short sound track, each track with the edit list
// of the case. Every case says what a player does with the list and so
// which note, if any, keo must give.
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

// The track's edit list made `edits`, of list version `version`; without
// edits the track has no edit list at all.
void setEdits(Atom& trak, const std::optional<Edits>& edits, int version) {
    auto& c = trak.children;
    if (!edits) {
        c.erase(std::remove_if(c.begin(), c.end(), [](const Atom& a) { return a.type == "edts"; }),
                c.end());
        return;
    }
    Atom* elst = trak.find("edts/elst");
    elst->data = elstBody(*edits);
    elst->data[0] = static_cast<uint8_t>(version);
}

// The baseline movie (two frames, a short sound track), its video's time
// table stretched to 100 frames of 24 units (four seconds) for the edits
// to be measured against.
MovieEdits editsOf(const std::optional<Edits>& video, const std::optional<Edits>& sound,
                   int version) {
    Movie m = baselineMovie(true);
    m.find("trak/mdia/minf/stbl/stts")->data = sttsBody({{100, 24}});
    setEdits(*m.find("trak"), video, version);
    setEdits(*m.find("trak#1"), sound, 0);
    TempFile file(m.bytes());
    MovFile movie;
    EXPECT_NE(movie.openRead(file.path.c_str(), 28), nullptr);
    MovieEdits edits = keo::lib::readEdits(movie);
    movie.close();
    return edits;
}

} // namespace

// One case per thing a player may do with a list; "" expects no note. Every
// edit of a list keo reads is listed. (A lone edit of no length, and an empty
// second before the whole media, are keo info's cases on its test movies.)
TEST(EditList, NotesWhereAPlayerShowsTheMovieOtherwise) {
    struct Case {
        const char* what;
        const char* note;
        std::optional<Edits> video;
        std::optional<Edits> sound = std::nullopt;
        int version = 0; // of the video's list: only 0 has the layout read
    } cases[] = {
        {"no edit list at all", "", std::nullopt},
        {"one edit over the whole media, as keo writes it", "", Edits{{2400, 0, kRate1}}},
        {"an edit one movie unit short, as float rounding leaves it", "", Edits{{2399, 0, kRate1}}},
        {"two edits that follow on", "", Edits{{1200, 0, kRate1}, {1200, 1200, kRate1}}},
        {"a start 40 frames into the media",
         "a player starts its video 1.600 s into its media (frame 40)", Edits{{1440, 960, kRate1}}},
        {"the media shown at twice its pace",
         "its video's 1 edits have a player pause, jump or change pace",
         Edits{{1200, 0, 2 * kRate1}}},
        {"the first second shown twice",
         "its video's 2 edits have a player pause, jump or change pace",
         Edits{{600, 0, kRate1}, {2400, 0, kRate1}}},
        {"a pause between two halves",
         "its video's 3 edits have a player pause, jump or change pace",
         Edits{{1200, 0, kRate1}, {300, kEmpty, kRate1}, {1200, 1200, kRate1}}},
        {"the video stopped at half its length",
         "a player stops its video at 2.000 s of its 4.000 s (frame 50)", Edits{{1200, 0, kRate1}}},
        {"nothing but an empty edit", "its video's edit list shows none of it",
         Edits{{600, kEmpty, kRate1}}},
        {"sound half a second behind the video", "a player starts its sound 0.500 s late",
         Edits{{2400, 0, kRate1}}, Edits{{300, kEmpty, kRate1}, {60, 0, kRate1}}},
        {"a list of version 1, whose entries are wider: named, not listed",
         "is of version 1, which keo does not read", Edits{{600, kEmpty, kRate1}}, std::nullopt, 1},
    };
    for (const Case& c : cases) {
        const MovieEdits e = editsOf(c.video, c.sound, c.version);
        std::string notes;
        for (const std::string& n : e.notes)
            notes += n + "\n";
        if (*c.note == 0)
            EXPECT_EQ(notes, "") << c.what;
        else
            EXPECT_NE(notes.find(c.note), std::string::npos) << c.what << ": " << notes;
        const size_t listed =
            (c.video && !c.version ? c.video->size() : 0) + (c.sound ? c.sound->size() : 0);
        EXPECT_EQ(e.edits.size(), listed) << c.what;
    }
}
