// Sample lookups of a track, on tables set up directly in memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "container/MovFile.h"
#include "container/QuicktimeFile.h"

namespace {

template <typename T> T* copyTable(const std::vector<T>& v) {
    T* t = static_cast<T*>(std::calloc(v.size() + 1, sizeof(T)));
    for (size_t i = 0; i < v.size(); i++)
        t[i] = v[i];
    return t;
}

struct Track {
    QuicktimeTrak t{};
    QuicktimeFile f{};
    MovFile movie;

    Track() {
        t.tkhd.init();
        t.mdia.init();
        f.rd = 1;
        QuicktimeSTSD& stsd = t.mdia.minf.stbl.stsd;
        stsd.table = static_cast<QuicktimeSTSDTable*>(std::calloc(1, sizeof(QuicktimeSTSDTable)));
        stsd.table[0].init();
        stsd.totalEntries = 1;
    }
    ~Track() { t.deleteMe(); }

    QuicktimeSTBL& stbl() { return t.mdia.minf.stbl; }
    QuicktimeSTSDTable& desc() { return stbl().stsd.table[0]; }
    void stsc(const std::vector<QuicktimeSTSCTable>& e) {
        stbl().stsc.table = copyTable(e);
        stbl().stsc.totalEntries = static_cast<int64_t>(e.size());
    }
    void offsets(const std::vector<int64_t>& e) {
        stbl().stco.table = copyTable(e);
        stbl().stco.totalEntries = static_cast<int64_t>(e.size());
    }
    void sizes(const std::vector<int64_t>& e) {
        stbl().stsz.table = copyTable(e);
        stbl().stsz.totalEntries = static_cast<int64_t>(e.size());
    }
    void stts(const std::vector<QuicktimeSTTSTable>& e) {
        stbl().stts.table = copyTable(e);
        stbl().stts.totalEntries = static_cast<int64_t>(e.size());
    }
    void sound(int channels, int bits) {
        t.mdia.minf.isAudio = 1;
        std::memcpy(desc().format, "twos", 4);
        desc().channels = channels;
        desc().sampleSize = bits;
        stbl().stsz.sampleSize = 1;
    }
    int64_t chunkOf(int64_t sample, int64_t* first = nullptr) {
        int64_t f0, c;
        t.chunkOfSample(&f, &f0, &c, sample);
        if (first)
            *first = f0;
        return c;
    }
};

} // namespace

TEST(TrackLookups, OneSamplePerChunk) {
    Track k;
    k.stsc({{1, 1, 1}});
    k.offsets({48, 1048, 2048});
    k.sizes({10, 10, 10});
    int64_t first;
    EXPECT_EQ(k.chunkOf(2, &first), 3);
    EXPECT_EQ(first, 2);
    EXPECT_EQ(k.t.sampleToOffset(&k.f, 2), 2048);
}

TEST(TrackLookups, TwoRunsOfChunks) {
    Track k;
    k.stsc({{1, 4, 1}, {3, 2, 1}});
    const int64_t expected[12] = {1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 4, 4};
    for (int s = 0; s < 12; s++)
        EXPECT_EQ(k.chunkOf(s), expected[s]) << s;
    int64_t first;
    k.chunkOf(11, &first);
    EXPECT_EQ(first, 10);
    EXPECT_EQ(k.t.sampleOfChunk(3), 8);
    EXPECT_EQ(k.t.sampleOfChunk(4), 10);
    EXPECT_EQ(k.t.sampleOfChunk(1), 0);
    EXPECT_EQ(k.t.chunkSamples(2), 4);
    EXPECT_EQ(k.t.chunkSamples(5), 2);
}

TEST(TrackLookups, OffsetsInsideAChunkAddTheSizesBefore) {
    Track k;
    k.stsc({{1, 4, 1}});
    k.offsets({100});
    k.sizes({10, 20, 30, 40});
    EXPECT_EQ(k.t.sampleToOffset(&k.f, 2), 130);
    EXPECT_EQ(k.t.sampleToOffset(&k.f, 3), 160);
    EXPECT_EQ(k.t.sampleRangeSize(1, 4), 90);
    EXPECT_EQ(k.t.sampleRangeSize(3, 9), 40); // stops at the table's end
    EXPECT_EQ(k.t.sampleRangeSize(3, 3), 0);
}

TEST(TrackLookups, ConstantSizeVideoSamplesStartTheirChunks) {
    Track k;
    k.t.mdia.minf.isVideo = 1;
    k.stsc({{1, 1, 1}});
    std::vector<int64_t> offs;
    for (int i = 0; i < 10; i++)
        offs.push_back(1000 + 5000 * i);
    k.offsets(offs);
    k.stbl().stsz.sampleSize = 5000;
    k.stbl().stsz.totalEntries = 10;
    for (int s = 0; s < 10; s++)
        EXPECT_EQ(k.t.sampleToOffset(&k.f, s), offs[s]);
    EXPECT_EQ(k.t.sampleRangeSize(8, 12), 10000); // only samples below the count
}

TEST(TrackLookups, SoundRangesUseTheTracksOwnChannelCount) {
    Track k;
    k.sound(2, 16);
    EXPECT_EQ(k.t.sampleRangeSize(0, 100), 400);
    // Hardened: a mono or six-channel track counts its own channels, not two.
    k.desc().channels = 1;
    EXPECT_EQ(k.t.sampleRangeSize(0, 100), 200);
    k.desc().channels = 6;
    k.desc().sampleSize = 24;
    EXPECT_EQ(k.t.sampleRangeSize(0, 100), 1800);
}

TEST(TrackLookups, SampleCounts) {
    Track sound;
    sound.sound(2, 16);
    sound.stts({{1000, 1}});
    EXPECT_EQ(sound.t.samples(&sound.f, sound.movie), 1000);

    Track video;
    video.t.mdia.minf.isVideo = 1;
    video.stts({{250, 100}});
    EXPECT_EQ(video.t.samples(&video.f, video.movie), 250);
    int64_t d, ts;
    video.t.mdia.mdhd.timeScale = 2500;
    EXPECT_EQ(video.t.duration(&d, &ts), 0);
    EXPECT_EQ(d, 25000);
    EXPECT_EQ(ts, 2500);
}

// Hardened: a first duration of 0 counts no samples instead of dividing by it.
TEST(TrackLookups, ZeroFirstDurationCountsNothing) {
    Track video;
    video.t.mdia.minf.isVideo = 1;
    video.stts({{2, 0}, {1, 24}});
    EXPECT_EQ(video.t.samples(&video.f, video.movie), 0);
}

// Hardened: samples without a chunk in the offset table have no offset.
TEST(TrackLookups, SamplesWithoutAChunkHaveNoOffset) {
    Track k;
    k.stsc({{1, 1, 1}});
    k.sizes({60, 60, 60});
    EXPECT_EQ(k.t.chunkToOffset(&k.f, 1), 16);
    EXPECT_EQ(k.t.sampleToOffset(&k.f, 0), -1); // no chunk offsets at all
    k.offsets({16, 76});
    EXPECT_EQ(k.t.sampleToOffset(&k.f, 1), 76);
    EXPECT_EQ(k.t.sampleToOffset(&k.f, 2), -1); // beyond the last chunk
    EXPECT_EQ(k.t.sampleToOffset(&k.f, -1), -1);
    EXPECT_EQ(k.t.chunkToOffset(&k.f, 0), 16); // clamped, never entry -1
    EXPECT_EQ(k.t.chunkToOffset(&k.f, 9), 76);
}

// Hardened: an empty sample-to-chunk table or a run of empty chunks holds no sample.
TEST(TrackLookups, EmptyRunsHoldNoSample) {
    Track empty;
    empty.offsets({16});
    EXPECT_EQ(empty.chunkOf(0), 0);
    EXPECT_EQ(empty.t.sampleToOffset(&empty.f, 0), -1);
    EXPECT_EQ(empty.t.chunkSamples(1), 0);

    Track zero;
    zero.stsc({{1, 0, 1}});
    zero.offsets({16});
    EXPECT_EQ(zero.chunkOf(0), 0);
    EXPECT_EQ(zero.t.sampleToOffset(&zero.f, 5), -1);
}

// Hardened: values from the file never wrap, however large.
TEST(TrackLookups, HugeValuesDoNotOverflow) {
    Track k;
    k.stsc({{1, 0xFFFFFFFF, 1}, {0xFFFFFFFF, 0xFFFFFFFF, 1}, {0xFFFFFFFE + 2ll, 1, 1}});
    k.offsets({16});
    EXPECT_EQ(k.chunkOf(INT64_MAX), 1 + INT64_MAX / 0xFFFFFFFF);
    EXPECT_EQ(k.t.sampleOfChunk(0x100000000ll), INT64_MAX);
    EXPECT_EQ(k.t.sampleToOffset(&k.f, INT64_MAX), -1);

    k.stts({{0xFFFFFFFF, 0xFFFFFFFF}, {0xFFFFFFFF, 0xFFFFFFFF}, {0xFFFFFFFF, 0xFFFFFFFF}});
    int64_t d, ts;
    EXPECT_EQ(k.t.duration(&d, &ts), 1);
    EXPECT_EQ(d, 0);
    EXPECT_EQ(k.t.samples(&k.f, k.movie), 0);

    Track sizes;
    sizes.stsc({{1, 4, 1}});
    sizes.offsets({INT64_MAX - 10});
    sizes.sizes({0xFFFFFFFF, 0xFFFFFFFF, 1, 1});
    EXPECT_EQ(sizes.t.sampleToOffset(&sizes.f, 1), -1);
    sizes.desc().sampleSize = 0xFFFF;
    sizes.sound(0xFFFF, 0xFFFF);
    EXPECT_EQ(sizes.t.sampleRangeSize(0, INT64_MAX), -1);
}
