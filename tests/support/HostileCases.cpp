// The hostile movies and their answers. Each case starts from the baseline
// movie (two 60-byte frames at 16 and 76) and breaks one thing.
#include "support/HostileCases.h"

#include <cstring>
#include <stdexcept>
#include <utility>

using namespace keotest;

namespace keofaults {

Movie nestedCmov(int levels) {
    Movie m = baselineMovie();
    Bytes nest;
    for (int i = 0; i < levels; i++)
        append(nest, atomHeader(static_cast<uint32_t>(8 * (levels - i)), "cmov"));
    m.moov().prepend(raw(nest));
    return m;
}

namespace {

const char* kStbl = "trak/mdia/minf/stbl/";

Atom* table(Movie& m, const std::string& name) {
    return m.find(kStbl + name);
}

Bytes withDrefEntrySize(uint32_t size) {
    Bytes dref = drefBody();
    for (int i = 0; i < 4; i++)
        dref[8 + i] = static_cast<uint8_t>(size >> (24 - 8 * i));
    return dref;
}

struct Builder {
    Kind kind = Kind::Structure;
    std::vector<HostileCase> cases;

    void add(std::string id, std::string defect, const Movie& m, Opens opens,
             std::vector<int32_t> frames = {}) {
        add(std::move(id), std::move(defect), m.bytes(), opens, std::move(frames));
    }
    void add(std::string id, std::string defect, Bytes bytes, Opens opens,
             std::vector<int32_t> frames = {}) {
        cases.push_back(
            {std::move(id), kind, std::move(defect), std::move(bytes), opens, std::move(frames)});
    }
};

// Sizes that lie, nesting, floods, too many tracks, repeated atoms and an
// unfinished writer: the walk over the atoms must end, stay inside each
// parent and inside the file, whatever the headers claim.
void structureCases(Builder& b) {
    b.kind = Kind::Structure;
    const std::vector<int32_t> both = {0, 0};
    {
        Movie m = baselineMovie();
        m.find("trak/mdia/minf/stbl")->prepend(raw(atomHeader(0, "free")));
        b.add("stbl-free-size-0",
              "stbl begins with a free atom of size 0, which means 'to the end of the file' "
              "and must not carry the walk out of stbl",
              m, Opens::Any);
    }
    {
        Movie m = baselineMovie();
        m.top.push_back(raw(atomHeader(0, "free")));
        b.add("top-free-size-0",
              "a free atom of size 0 after moov: at the top level it runs to the end of the "
              "file, which is allowed, so the movie opens",
              m, Opens::Yes, both);
    }
    {
        Movie m = baselineMovie();
        table(m, "stsz")->size = 4;
        b.add("stsz-size-4",
              "stsz with a size field of 4, shorter than its own header: a walk that trusted "
              "it would step backwards",
              m, Opens::Refused);
    }
    {
        Movie m = baselineMovie();
        Bytes lead = atomHeader(1, "free");
        put64(lead, 3);
        m.top.insert(m.top.begin(), raw(lead));
        shiftChunkOffsets(m.moov(), 16);
        b.add("top-large-size-3",
              "a free atom with a 64-bit size of 3 before mdat, shorter than its 16-byte "
              "header: nothing after it can be located",
              m, Opens::NoVideo);
    }
    {
        Movie m = baselineMovie();
        m.moov().size = 0xFFFFFFF0u;
        b.add("moov-size-past-end",
              "moov, last in the file, claims 0xFFFFFFF0 bytes: the reader stops at the end "
              "of the file",
              m, Opens::Any, both);
    }
    {
        Movie m = baselineMovie();
        m.moov().size = m.moov().trueSize() + 1000000;
        Bytes bytes = m.bytes();
        size_t stsz = 0;
        while (stsz + 4 <= bytes.size() && std::memcmp(&bytes[stsz], "stsz", 4) != 0)
            stsz++;
        bytes.resize(stsz + 4 + 12 + 4); // after the first of two entries
        b.add("moov-too-large-cut-in-stsz",
              "moov claims 1,000,000 bytes more than it has and the file ends inside stsz: a "
              "table is never read past the end of the file",
              bytes, Opens::NoVideo);
    }
    {
        Movie m = baselineMovie();
        Atom* hdlr = m.find("trak/mdia/minf/hdlr");
        hdlr->size = hdlr->trueSize() + 10000;
        b.add("minf-hdlr-past-parent",
              "minf's hdlr claims 10,000 bytes more than it has: a child may not reach past "
              "its parent",
              m, Opens::NoVideo);
    }
    b.add("cmov-nested-15", "15 nested cmov atoms, within the nesting the reader allows",
          nestedCmov(15), Opens::Yes, both);
    b.add("cmov-nested-17",
          "17 nested cmov atoms, one level deeper than the reader allows: refused rather "
          "than recursed into",
          nestedCmov(17), Opens::Refused);
    b.add("cmov-nested-10000",
          "10,000 nested cmov atoms: recursing into them would overflow a thread's stack",
          nestedCmov(10000), Opens::Refused);
    {
        Movie m = baselineMovie();
        m.moov().prepend(raw(Bytes(1 << 20, 0)));
        b.add("moov-zero-flood",
              "moov begins with 1 MiB of zeros, an atom of size 0 inside moov: the answer "
              "may be either, but it comes at once",
              m, Opens::Any, both);
    }
    {
        Movie m = baselineMovie();
        Bytes flood;
        for (int i = 0; i < 131072; i++)
            append(flood, atomHeader(8, "free"));
        m.moov().prepend(raw(flood));
        b.add("moov-free-flood",
              "moov begins with 131,072 empty free atoms: padding, however much of it, is "
              "walked in linear time and the movie opens",
              m, Opens::Yes, both);
    }
    for (int extra : {1023, 1099}) {
        Movie m = baselineMovie();
        Atom tkhdOnly = atom("trak", {}, {atom("tkhd", tkhdBody(8, 8, 9))});
        for (int i = 0; i < extra; i++)
            m.moov().add(tkhdOnly);
        Atom bad = m.moov().children[1];
        bad.find("mdia/minf/stbl/stsd")->children[0].type = "XXXX";
        m.moov().add(bad);
        b.add("tracks-" + std::to_string(extra + 2) + "-last-unknown",
              "the video track, " + std::to_string(extra) +
                  " empty ones, then one of an unknown format past the 1,024 tracks the "
                  "reader keeps: the extra tracks are dropped, not written past the track "
                  "list, and the unknown format beyond it refuses nothing",
              m, Opens::Yes, both);
    }
    {
        Movie m = baselineMovie();
        m.find("trak/mdia/minf/stbl")->add(atom("stsz", stszBody(0, 5, {60, 60, 60, 60, 60})));
        b.add("stsz-twice",
              "a second stsz of 5 samples: the later table counts, and the three samples no "
              "chunk holds fail one by one",
              m, Opens::Yes, {0, 0, 99, 99, 99});
    }
    {
        Movie m = baselineMovie();
        Atom* stbl = m.find("trak/mdia/minf/stbl");
        stbl->add(stbl->children[0]);
        b.add("stsd-twice", "a second, identical stsd: read again without leaking the first", m,
              Opens::Yes, both);
    }
    {
        Movie m = baselineMovie();
        m.top.push_back(m.moov());
        b.add("moov-twice", "moov twice in the file: the second copy changes nothing", m,
              Opens::Yes, both);
    }
    {
        Movie m = baselineMovie();
        m.mdat().size = 0;
        m.top.pop_back();
        b.add("unfinished-writer",
              "a 64-bit mdat of size 0 and no moov, as a writer that stopped mid-file leaves "
              "it: no video, found without reading past the end",
              m, Opens::NoVideo);
    }
}

// Counts that cannot fit in their atoms, counts whose products wrap 32 bits,
// samples and chunks outside the file, zero durations and time scales. A
// count is never trusted to size an allocation, an index or a division.
void tableCases(Builder& b) {
    b.kind = Kind::Tables;
    const std::vector<int32_t> both = {0, 0};
    const char* huge = " claims 0xFFFFFFFF entries in an atom that holds one: refused before "
                       "anything is allocated from the count";
    {
        Movie m = baselineMovie();
        table(m, "stts")->data = sttsBody({{2, 24}}, 0xFFFFFFFF);
        b.add("stts-count-huge", std::string("stts") + huge, m, Opens::Refused);
    }
    {
        Movie m = baselineMovie();
        table(m, "stsz")->data = stszBody(0, 0xFFFFFFFF, {});
        b.add("stsz-count-huge", std::string("stsz of sizes per sample") + huge, m, Opens::Refused);
    }
    {
        Movie m = baselineMovie();
        m.find("trak/edts/elst")->data = elstBody({{0, 0, 0x10000}}, 0xFFFFFFFF);
        b.add("elst-count-huge", std::string("elst") + huge, m, Opens::Refused);
    }
    const char* wraps = ": count times entry size wraps 32 bits to a size that seems to fit";
    {
        Movie m = baselineMovie();
        table(m, "stsc")->data = stscBody({{1, 1, 1}}, 0x15555556);
        b.add("stsc-count-wraps", std::string("stsc count 0x15555556") + wraps, m, Opens::Refused);
    }
    {
        Movie m = baselineMovie();
        *table(m, "co64") = atom("stco", stcoBody({16, 76}, 0x40000002));
        b.add("stco-count-wraps", std::string("stco count 0x40000002") + wraps, m, Opens::Refused);
    }
    {
        Movie m = baselineMovie();
        table(m, "stsz")->data = stszBody(0, 0x40000002, {60, 60});
        b.add("stsz-count-wraps", std::string("stsz count 0x40000002") + wraps, m, Opens::Refused);
    }
    {
        Movie m = baselineMovie();
        table(m, "stsz")->data = stszBody(60, 0xFFFFFFFF, {});
        b.add("stsz-constant-count-huge",
              "stsz of one size for 0xFFFFFFFF samples, no table behind the count: the frames "
              "the chunks hold read, the ones they do not fail",
              m, Opens::Any, {0, 0, 99});
    }
    for (uint32_t size : {0x80000000u, 1060u}) {
        Movie m = baselineMovie();
        table(m, "stsz")->data = stszBody(0, 2, {60, size});
        b.add("sample-size-" + std::to_string(size),
              "the second sample, " + std::to_string(size) +
                  " bytes, reaches past the end of the file: that frame fails and nothing "
                  "of its size is allocated; the first still reads",
              m, Opens::Yes, {0, 99});
    }
    {
        Movie m = baselineMovie();
        table(m, "stsz")->data = stszBody(4, 2, {});
        b.add("stsz-constant-size-4",
              "stsz of one size, 4 bytes, for every sample: no sample can hold a frame's 28-byte "
              "header, so the plug-in refuses the movie when it opens (a file of 1 GiB claiming "
              "2^28 such samples would otherwise be indexed frame by frame)",
              m, Opens::Refused);
    }
    const struct {
        const char* id;
        std::vector<std::array<uint32_t, 3>> entries;
    } firstChunks[] = {
        {"stsc-first-chunk-0", {{0, 1, 1}}},
        {"stsc-first-chunks-unordered", {{1, 1, 1}, {100663297, 1, 1}, {2, 1, 1}}},
        {"stsc-first-chunk-beyond", {{16777217, 1, 1}}},
    };
    for (const auto& fc : firstChunks) {
        Movie m = baselineMovie();
        table(m, "stsc")->data = stscBody(fc.entries);
        b.add(fc.id,
              "stsc first chunks that are 0, out of order or beyond the chunks there are: no "
              "sample can be placed, so no frame reads from a chunk computed from them",
              m, Opens::Any, {99, 99});
    }
    {
        Movie m = baselineMovie();
        table(m, "stsc")->data = stscBody({{1, 0, 1}});
        b.add("stsc-0-samples-per-chunk",
              "stsc with 0 samples per chunk: the walk from sample to chunk must neither "
              "divide by it nor loop",
              m, Opens::Any);
    }
    {
        Movie m = baselineMovie();
        table(m, "co64")->data = co64Body({16, 0xC000009D});
        b.add("chunk-offset-past-end",
              "the second chunk lies past the end of the file: that frame fails, the first "
              "still reads",
              m, Opens::Yes, {0, 99});
    }
    {
        Movie m = baselineMovie();
        table(m, "co64")->data = co64Body({16, 76, 0xC000009D});
        b.add("unused-chunk-offset-past-end",
              "a third chunk that no sample uses lies past the end of the file: an offset "
              "nobody reads refuses nothing",
              m, Opens::Yes, both);
    }
    {
        Movie m = baselineMovie();
        table(m, "stts")->data = sttsBody({{2, 0}});
        b.add("stts-duration-0",
              "every frame lasts 0: no frame rate follows, so no video rather than a "
              "division by 0",
              m, Opens::NoVideo);
    }
    {
        Movie m = baselineMovie();
        table(m, "stts")->data = sttsBody({{1, 24}, {1, 0}});
        b.add("stts-last-duration-0",
              "only the last frame lasts 0: the rate comes from the first entry and the "
              "movie opens",
              m, Opens::Yes, both);
    }
    {
        Movie m = baselineMovie();
        m.find("trak/mdia/mdhd")->data = mdhdBody(0);
        b.add("mdhd-time-scale-0",
              "the video track's time scale is 0: no frame rate follows, so no video rather "
              "than a division by 0",
              m, Opens::NoVideo);
    }
    {
        Movie m = baselineMovie();
        m.find("mvhd")->data = mvhdBody(0);
        b.add("mvhd-time-scale-0",
              "only the movie's time scale is 0: frames are timed by the track's, so the "
              "movie opens",
              m, Opens::Yes, both);
    }
}

// Sample descriptions, handler names and data references whose sizes and
// counts disagree with their atoms.
void descriptionCases(Builder& b) {
    b.kind = Kind::Descriptions;
    {
        Movie m = baselineMovie();
        *table(m, "stsd") = stsdAtom({videoEntry("ZUVM")}, 0xFFFFFFFF);
        b.add("stsd-count-huge",
              "stsd claims 0xFFFFFFFF descriptions and holds one: refused before anything is "
              "allocated from the count",
              m, Opens::Refused);
    }
    for (uint64_t size : {0, 8, 15, 40, 186}) {
        Movie m = baselineMovie();
        table(m, "stsd")->children[0].size = size;
        b.add("stsd-entry-size-" + std::to_string(size),
              "a video description of " + std::to_string(size) +
                  " bytes, too short for its fields or reaching past stsd",
              m, Opens::Refused);
    }
    {
        Movie m = baselineMovie();
        Atom& entry = table(m, "stsd")->children[0];
        entry.data[8 + 34] = 0xFF;
        for (int i = 0; i < 31; i++)
            entry.data[8 + 35 + i] = 'A';
        b.add("compressor-name-length-255",
              "the compressor name's length byte says 255 in a 32-byte field: the name is "
              "cut to its field and the movie opens",
              m, Opens::Yes, {0, 0});
    }
    {
        Movie m = baselineMovie();
        Bytes body = hdlrBody("vide", "abc");
        body[24] = 200;
        m.find("trak/mdia/hdlr")->data = body;
        b.add("hdlr-name-length-past-atom",
              "the handler name's length byte says 200 with 3 bytes left: the name is only "
              "shown, so the text that is there is read and the movie opens",
              m, Opens::Yes, {0, 0});
    }
    for (uint32_t size : {4u, 0u, 0xFFFFFFFFu}) {
        Movie m = baselineMovie();
        m.find("trak/mdia/minf/dinf/dref")->data = withDrefEntrySize(size);
        b.add("dref-entry-size-" + std::to_string(size),
              "a data reference of " + std::to_string(size) +
                  " bytes, shorter than its header or reaching past dref",
              m, Opens::Refused);
    }
    {
        Movie m = baselineMovie();
        Bytes dref = drefBody();
        dref[4] = dref[5] = dref[6] = dref[7] = 0xFF;
        m.find("trak/mdia/minf/dinf/dref")->data = dref;
        b.add("dref-count-huge",
              "dref claims 0xFFFFFFFF references and holds one: refused before anything is "
              "allocated from the count",
              m, Opens::Refused);
    }
    {
        Movie m = baselineMovie();
        table(m, "stsd")->children[0].add(atom("ctab", ctabBody(0xFFFF, 2)));
        b.add("ctab-huge-in-description",
              "a colour table in the video description claims 65,536 entries and holds 2", m,
              Opens::Refused);
    }
    {
        Movie m = baselineMovie();
        m.moov().add(atom("ctab", ctabBody(0xFFFF, 2)));
        b.add("ctab-huge-in-moov", "a colour table in moov claims 65,536 entries and holds 2", m,
              Opens::Refused);
    }
}

// Track sizes for which no frame could ever be delivered: refused before
// the host plans buffers for one.
void dimensionCases(Builder& b) {
    b.kind = Kind::Dimensions;
    struct {
        const char* id;
        const char* defect;
        double w, h;
        bool dxt24;
    } sizes[] = {
        {"track-size-0x0", "a track of 0 x 0 pixels", 0, 0, false},
        {"track-size-8x0", "a track 8 pixels wide and 0 high", 8, 0, false},
        {"track-size-largest", "a track of the largest size tkhd holds, 65535.99 each way",
         65535.99, 65535.99, false},
        {"track-size-largest-dxt24", "the largest track size with DXT24 frames", 65535.99, 65535.99,
         true},
    };
    for (const auto& s : sizes) {
        Movie m = baselineMovie();
        m.find("trak/tkhd")->data = tkhdBody(s.w, s.h);
        if (s.dxt24) {
            // The isDXT24 byte of both frame headers.
            m.mdat().data[26] = 1;
            m.mdat().data[60 + 26] = 1;
        }
        b.add(s.id, s.defect, m, Opens::Refused);
    }
}

std::vector<HostileCase> buildCases() {
    Builder b;
    structureCases(b);
    tableCases(b);
    descriptionCases(b);
    dimensionCases(b);
    return std::move(b.cases);
}

} // namespace

const std::vector<HostileCase>& hostileCases() {
    static const std::vector<HostileCase> cases = buildCases();
    return cases;
}

const HostileCase& hostileCase(const std::string& id) {
    for (const HostileCase& c : hostileCases())
        if (c.id == id)
            return c;
    throw std::out_of_range("no hostile case named " + id);
}

} // namespace keofaults
