// The frame index built when a movie opens: every frame's offset, size and
// chunk must be what the track's own lookups (chunkOfSample, sampleToOffset)
// give, checked against the file's length, for ordinary and for odd tables;
// a track that claims more frames than its file could hold is refused.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <vector>

#include "OpenedMovie.h"

using namespace keotest;

namespace {

// A movie whose video track has `t`, over an mdat of `mdatBytes` bytes.
Movie movieWith(const Tables& t, size_t mdatBytes = 4000) {
    Movie m;
    Atom mdat = atom("mdat", Bytes(mdatBytes, 0x33));
    mdat.large = true;
    m.top.push_back(mdat);
    VideoTrack v;
    v.tables = t;
    m.top.push_back(atom("moov", {}, {atom("mvhd", mvhdBody()), videoTrak(v)}));
    return m;
}

// What the lookups of the track say about frame f, with the file's bounds.
bool lookedUp(OpenedMovie& o, int64_t f, int64_t* offset, int64_t* size, int64_t* chunk) {
    const QuicktimeTrak* t = o.movie.firstVideoTrack();
    const QuicktimeSTSZ& stsz = t->mdia.minf.stbl.stsz;
    if (f < 0 || f >= stsz.totalEntries)
        return false;
    int64_t first;
    t->chunkOfSample(o.movie.file, &first, chunk, f);
    *offset = t->sampleToOffset(o.movie.file, f);
    *size = stsz.sampleSize != 0 ? stsz.sampleSize : stsz.table[f];
    return *offset >= 0 && *size <= INT_MAX && *offset + *size <= o.movie.file->fileSize;
}

void expectIndexMatchesLookups(const Movie& m, int locatable) {
    OpenedMovie o(m);
    ASSERT_TRUE(o.opened());
    int found = 0;
    for (int64_t f = -1; f <= o.movie.nFrames() + 1; f++) {
        SCOPED_TRACE("frame " + std::to_string(f));
        int64_t offset = -1, size = 0, chunk = 0;
        if (!lookedUp(o, f, &offset, &size, &chunk)) {
            EXPECT_EQ(o.movie.frameOffset(f), -1);
            EXPECT_EQ(o.movie.frameSize(static_cast<int>(f)), 0);
            continue;
        }
        found++;
        EXPECT_EQ(o.movie.frameOffset(f), offset);
        EXPECT_EQ(o.movie.frameSize(static_cast<int>(f)), size);
        EXPECT_EQ(o.movie.file->videoMaps[0].currentChunk, chunk);
    }
    EXPECT_EQ(found, locatable);
}

} // namespace

TEST(FrameIndex, AgreesWithTheLookupsOnOrdinaryTables) {
    Tables runs; // two runs: 4 samples a chunk, then 2
    runs.stts = {{12, 24}};
    runs.stsc = {{1, 4, 1}, {3, 2, 1}};
    runs.sizes = {60, 61, 62, 63, 64, 65, 66, 67, 68, 69, 70, 71};
    runs.offsets = {16, 500, 1000, 1500};
    expectIndexMatchesLookups(movieWith(runs), 12);

    Tables constant = runs; // one size for all: no per-sample table
    constant.sampleSize = 60;
    constant.sampleCount = 12;
    expectIndexMatchesLookups(movieWith(constant), 12);

    Tables narrow = runs;
    narrow.use64 = false;
    expectIndexMatchesLookups(movieWith(narrow), 12);
}

TEST(FrameIndex, AgreesWithTheLookupsOnOddTables) {
    Tables empty; // chunks of no samples between full ones
    empty.stts = {{3, 24}};
    empty.stsc = {{1, 1, 1}, {2, 0, 1}, {4, 1, 1}};
    empty.sizes = {60, 60, 60};
    empty.offsets = {16, 200, 300, 400, 500};
    expectIndexMatchesLookups(movieWith(empty), 3);

    Tables fewChunks = empty; // the last run runs past the offsets
    fewChunks.stsc = {{1, 2, 1}};
    fewChunks.offsets = {16};
    expectIndexMatchesLookups(movieWith(fewChunks), 2);

    Tables pastTheEnd; // a chunk past the file, a sample reaching past it
    pastTheEnd.stts = {{4, 24}};
    pastTheEnd.stsc = {{1, 1, 1}};
    pastTheEnd.sizes = {60, 60, 60, 5000};
    pastTheEnd.offsets = {16, 0xC000009Du, 100, 200};
    expectIndexMatchesLookups(movieWith(pastTheEnd), 2);

    Tables huge; // in-chunk sums that do not fit 32 bits
    huge.stts = {{3, 24}};
    huge.stsc = {{1, 3, 1}};
    huge.sizes = {0xFFFFFFF0u, 0xFFFFFFF0u, 60};
    huge.offsets = {16};
    expectIndexMatchesLookups(movieWith(huge), 0);

    Tables noRuns; // no sample-to-chunk runs: no frame has a place
    noRuns.stts = {{2, 24}};
    noRuns.sizes = {60, 60};
    noRuns.offsets = {16, 76};
    expectIndexMatchesLookups(movieWith(noRuns), 0);
}

// Four bytes of file a frame is the least any movie spends (its sample size
// entry, or its own bytes); more frames than that cannot be real, and the
// index is refused rather than made larger than the file it describes.
TEST(FrameIndex, MoreFramesThanTheFileCouldHoldAreRefused) {
    for (uint32_t extra : {0u, 1u}) {
        Tables t;
        t.stts = {{1, 24}};
        t.stsc = {{1, 1, 1}};
        t.offsets = {16};
        t.sampleSize = 1;
        Movie m = movieWith(t);
        const size_t fileBytes = m.bytes().size(); // the count does not change it
        t.sampleCount = static_cast<uint32_t>(fileBytes / 4) + extra;
        OpenedMovie o(movieWith(t));
        EXPECT_EQ(o.opened(), extra == 0) << extra;
    }
}

// Samples of one shared size are indexed by chunk, not by frame: with odd
// tables like those above, and with one chunk for all that runs past the
// end of the file, every frame must still be where the lookups put it.
TEST(FrameIndex, OneSharedSizeAgreesWithTheLookupsChunkByChunk) {
    const struct {
        std::vector<std::array<uint32_t, 3>> stsc;
        std::vector<uint64_t> offsets;
        int locatable;
    } cases[] = {
        {{{1, 1, 1}, {2, 0, 1}, {4, 1, 1}}, {16, 200, 300, 400, 500}, 3},
        {{{1, 1, 1}}, {16, 0xC000009Du, 100, 200}, 3},
        {{{1, 4, 1}}, {0}, 2}, // 0: 150 bytes before the end of the file
        {{}, {16}, 0},
    };
    for (const auto& c : cases) {
        Tables t;
        t.stts = {{4, 24}};
        t.stsc = c.stsc;
        t.offsets = c.offsets;
        t.sampleSize = 60;
        t.sampleCount = 4;
        if (t.offsets[0] == 0)
            t.offsets[0] = movieWith(t).bytes().size() - 150;
        expectIndexMatchesLookups(movieWith(t), c.locatable);
    }
}

// The importer names the least bytes a sample can have (a KEO frame's
// 28-byte header). A smaller sample is not located, though its bytes still
// count for the samples after it in its chunk; a track whose one shared size
// is smaller cannot hold a frame and is refused when it opens.
TEST(FrameIndex, SamplesTooSmallForAFrameAreNotLocated) {
    Tables t;
    t.stts = {{4, 24}};
    t.stsc = {{1, 4, 1}};
    t.sizes = {60, 27, 28, 0};
    t.offsets = {16};
    for (int64_t least : {28, 0}) {
        OpenedMovie o(movieWith(t), least);
        ASSERT_TRUE(o.opened());
        const std::vector<long long> offsets = {o.movie.frameOffset(0), o.movie.frameOffset(1),
                                                o.movie.frameOffset(2), o.movie.frameOffset(3)};
        EXPECT_EQ(offsets, least ? std::vector<long long>({16, -1, 103, -1})
                                 : std::vector<long long>({16, 76, 103, 131}));
    }
    t.sampleCount = 4;
    for (uint32_t shared : {27u, 28u}) {
        t.sampleSize = shared;
        EXPECT_EQ(OpenedMovie(movieWith(t), 28).opened(), shared == 28) << shared;
    }
}
