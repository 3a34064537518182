// The container rows of the hostile-input table as movies and expected answers.
#include "faults/HostileCases.h"

#include <cstring>
#include <utility>

using namespace keotest;

namespace keofaults {

namespace {

const char* kStbl = "trak/mdia/minf/stbl/";

Atom* table(Movie& m, const std::string& name) {
    return m.find(kStbl + name);
}

Bytes header(uint32_t size, const char* type) {
    Bytes b;
    put32(b, size);
    putType(b, type);
    return b;
}

Movie nestedCmov(int levels) {
    Movie m = baselineMovie();
    Bytes nest;
    for (int i = 0; i < levels; i++)
        append(nest, header(static_cast<uint32_t>(8 * (levels - i)), "cmov"));
    m.moov().prepend(raw(nest));
    return m;
}

Bytes withDrefEntrySize(uint32_t size) {
    Bytes dref = drefBody();
    for (int i = 0; i < 4; i++)
        dref[8 + i] = static_cast<uint8_t>(size >> (24 - 8 * i));
    return dref;
}

struct Builder {
    std::vector<HostileCase> cases;

    void add(const char* id, const char* defect, const Movie& m, Opens opens,
             std::vector<int32_t> frames = {}) {
        add(id, defect, m.bytes(), opens, std::move(frames));
    }
    void add(const char* id, const char* defect, Bytes bytes, Opens opens,
             std::vector<int32_t> frames = {}) {
        cases.push_back({id, defect, std::move(bytes), opens, std::move(frames)});
    }
};

void structureRows(Builder& b) {
    const std::vector<int32_t> both = {0, 0};
    {
        Movie m = baselineMovie();
        m.find("trak/mdia/minf/stbl")->prepend(raw(header(0, "free")));
        b.add("H1a", "stbl begins with a free atom of size 0", m, Opens::Any);
    }
    {
        Movie m = baselineMovie();
        m.top.push_back(raw(header(0, "free")));
        b.add("H1b", "free atom of size 0 after moov", m, Opens::Yes, both);
    }
    {
        Movie m = baselineMovie();
        table(m, "stsz")->size = 4;
        b.add("H1c", "stsz size field 4", m, Opens::Refused);
    }
    {
        Movie m = baselineMovie();
        Bytes lead = header(1, "free");
        put64(lead, 3);
        m.top.insert(m.top.begin(), raw(lead));
        shiftChunkOffsets(m.moov(), 16);
        b.add("H1d", "64-bit size 3 before mdat", m, Opens::NoVideo);
    }
    {
        Movie m = baselineMovie();
        m.moov().size = 0xFFFFFFF0u;
        b.add("H2a", "moov last in file with size 0xFFFFFFF0", m, Opens::Any, both);
    }
    {
        Movie m = baselineMovie();
        m.moov().size = m.moov().trueSize() + 1000000;
        Bytes bytes = m.bytes();
        size_t stsz = 0;
        while (stsz + 4 <= bytes.size() && std::memcmp(&bytes[stsz], "stsz", 4) != 0)
            stsz++;
        bytes.resize(stsz + 4 + 12 + 4); // after the first of two entries
        b.add("H2b", "moov 1,000,000 too large, file cut inside stsz", bytes, Opens::NoVideo);
    }
    {
        Movie m = baselineMovie();
        Atom* hdlr = m.find("trak/mdia/minf/hdlr");
        hdlr->size = hdlr->trueSize() + 10000;
        b.add("H2c", "minf hdlr 10,000 too large", m, Opens::NoVideo);
    }
    b.add("H4a", "15 nested cmov", nestedCmov(15), Opens::Yes, both);
    b.add("H4b", "17 nested cmov", nestedCmov(17), Opens::Refused);
    b.add("H4c", "10,000 nested cmov", nestedCmov(10000), Opens::Refused);
    {
        Movie m = baselineMovie();
        m.moov().prepend(raw(Bytes(1 << 20, 0)));
        b.add("H5a", "moov begins with 1 MiB of zeros", m, Opens::Any, both);
    }
    {
        Movie m = baselineMovie();
        Bytes flood;
        for (int i = 0; i < 131072; i++)
            append(flood, header(8, "free"));
        m.moov().prepend(raw(flood));
        b.add("H5b", "moov begins with 131,072 empty free atoms", m, Opens::Yes, both);
    }
    for (int extra : {1023, 1099}) {
        Movie m = baselineMovie();
        Atom tkhdOnly = atom("trak", {}, {atom("tkhd", tkhdBody(8, 8, 9))});
        for (int i = 0; i < extra; i++)
            m.moov().add(tkhdOnly);
        Atom bad = m.moov().children[1];
        bad.find("mdia/minf/stbl/stsd")->children[0].type = "XXXX";
        m.moov().add(bad);
        b.add(extra == 1023 ? "H6a" : "H6b", "an XXXX track after the 1024th", m, Opens::Yes, both);
    }
    {
        Movie m = baselineMovie();
        m.find("trak/mdia/minf/stbl")->add(atom("stsz", stszBody(0, 5, {60, 60, 60, 60, 60})));
        b.add("H7a", "second stsz of 5 samples", m, Opens::Yes, {0, 0, 99, 99, 99});
    }
    {
        Movie m = baselineMovie();
        Atom* stbl = m.find("trak/mdia/minf/stbl");
        stbl->add(stbl->children[0]);
        b.add("H7b", "second stsd", m, Opens::Yes, both);
    }
    {
        Movie m = baselineMovie();
        m.top.push_back(m.moov());
        b.add("H7c", "moov twice", m, Opens::Yes, both);
    }
    {
        Movie m = baselineMovie();
        m.mdat().size = 0;
        m.top.pop_back();
        b.add("H8", "64-bit mdat of size 0 and no moov", m, Opens::NoVideo);
    }
}

void tableRows(Builder& b) {
    const std::vector<int32_t> both = {0, 0};
    {
        Movie m = baselineMovie();
        table(m, "stts")->data = sttsBody({{2, 24}}, 0xFFFFFFFF);
        b.add("T1a", "stts count 0xFFFFFFFF", m, Opens::Refused);
    }
    {
        Movie m = baselineMovie();
        table(m, "stsz")->data = stszBody(0, 0xFFFFFFFF, {});
        b.add("T1b", "stsz count 0xFFFFFFFF, no entries", m, Opens::Refused);
    }
    {
        Movie m = baselineMovie();
        m.find("trak/edts/elst")->data = elstBody({{0, 0, 0x10000}}, 0xFFFFFFFF);
        b.add("T1c", "elst count 0xFFFFFFFF", m, Opens::Refused);
    }
    {
        Movie m = baselineMovie();
        table(m, "stsc")->data = stscBody({{1, 1, 1}}, 0x15555556);
        b.add("T2a", "stsc count x 12 wraps 32 bits", m, Opens::Refused);
    }
    {
        Movie m = baselineMovie();
        *table(m, "co64") = atom("stco", stcoBody({16, 76}, 0x40000002));
        b.add("T2b", "stco count x 4 wraps 32 bits", m, Opens::Refused);
    }
    {
        Movie m = baselineMovie();
        table(m, "stsz")->data = stszBody(0, 0x40000002, {60, 60});
        b.add("T2c", "stsz count x 4 wraps 32 bits", m, Opens::Refused);
    }
    {
        Movie m = baselineMovie();
        table(m, "stsz")->data = stszBody(60, 0xFFFFFFFF, {});
        b.add("T3", "constant stsz with count 0xFFFFFFFF", m, Opens::Any, {0, 0, 99});
    }
    for (uint32_t size : {0x80000000u, 1060u}) {
        Movie m = baselineMovie();
        table(m, "stsz")->data = stszBody(0, 2, {60, size});
        b.add(size == 1060 ? "T4b" : "T4a", "second sample reaches past the file", m, Opens::Yes,
              {0, 99});
    }
    const std::vector<std::vector<std::array<uint32_t, 3>>> firstChunks = {
        {{0, 1, 1}}, {{1, 1, 1}, {100663297, 1, 1}, {2, 1, 1}}, {{16777217, 1, 1}}};
    const char* t5[] = {"T5a", "T5b", "T5c"};
    for (size_t i = 0; i < firstChunks.size(); i++) {
        Movie m = baselineMovie();
        table(m, "stsc")->data = stscBody(firstChunks[i]);
        b.add(t5[i], "stsc first chunk 0 or beyond the chunks", m, Opens::Any, {99, 99});
    }
    {
        Movie m = baselineMovie();
        table(m, "stsc")->data = stscBody({{1, 0, 1}});
        b.add("T6", "stsc with 0 samples per chunk", m, Opens::Any);
    }
    {
        Movie m = baselineMovie();
        table(m, "co64")->data = co64Body({16, 0xC000009D});
        b.add("T7", "second chunk offset past the end", m, Opens::Yes, {0, 99});
    }
    {
        Movie m = baselineMovie();
        table(m, "co64")->data = co64Body({16, 76, 0xC000009D});
        b.add("T7-control", "unused third chunk past the end", m, Opens::Yes, both);
    }
    {
        Movie m = baselineMovie();
        table(m, "stts")->data = sttsBody({{2, 0}});
        b.add("T8", "stts duration 0", m, Opens::NoVideo);
    }
    {
        Movie m = baselineMovie();
        table(m, "stts")->data = sttsBody({{1, 24}, {1, 0}});
        b.add("T8-control", "second stts entry of duration 0", m, Opens::Yes, both);
    }
    {
        Movie m = baselineMovie();
        m.find("trak/mdia/mdhd")->data = mdhdBody(0);
        b.add("T9", "mdhd time scale 0", m, Opens::NoVideo);
    }
    {
        Movie m = baselineMovie();
        m.find("mvhd")->data = mvhdBody(0);
        b.add("T9-control", "mvhd time scale 0", m, Opens::Yes, both);
    }
}

void descriptionRows(Builder& b) {
    {
        Movie m = baselineMovie();
        *table(m, "stsd") = stsdAtom({videoEntry("ZUVM")}, 0xFFFFFFFF);
        b.add("D1", "stsd count 0xFFFFFFFF", m, Opens::Refused);
    }
    for (uint64_t size : {0, 8, 15, 40, 186}) {
        Movie m = baselineMovie();
        table(m, "stsd")->children[0].size = size;
        b.add(("D2-" + std::to_string(size)).c_str(), "stsd entry size", m, Opens::Refused);
    }
    {
        Movie m = baselineMovie();
        Atom& entry = table(m, "stsd")->children[0];
        entry.data[8 + 34] = 0xFF;
        for (int i = 0; i < 31; i++)
            entry.data[8 + 35 + i] = 'A';
        b.add("D3", "compressor name length byte 0xFF", m, Opens::Yes, {0, 0});
    }
    {
        Movie m = baselineMovie();
        Bytes body = hdlrBody("vide", "abc");
        body[24] = 200;
        m.find("trak/mdia/hdlr")->data = body;
        // Only a name for display: read as the text that is there, it opens.
        b.add("D4", "hdlr name length 200 with 3 bytes left", m, Opens::Yes, {0, 0});
    }
    for (uint32_t size : {4u, 0u, 0xFFFFFFFFu}) {
        Movie m = baselineMovie();
        m.find("trak/mdia/minf/dinf/dref")->data = withDrefEntrySize(size);
        b.add(("D5-" + std::to_string(size)).c_str(), "dref entry size", m, Opens::Refused);
    }
    {
        Movie m = baselineMovie();
        Bytes dref = drefBody();
        dref[4] = dref[5] = dref[6] = dref[7] = 0xFF;
        m.find("trak/mdia/minf/dinf/dref")->data = dref;
        b.add("D5-count", "dref count 0xFFFFFFFF", m, Opens::Refused);
    }
    {
        Movie m = baselineMovie();
        table(m, "stsd")->children[0].add(atom("ctab", ctabBody(0xFFFF, 2)));
        b.add("D6a", "ctab of 65,536 entries in the sample description", m, Opens::Refused);
    }
    {
        Movie m = baselineMovie();
        m.moov().add(atom("ctab", ctabBody(0xFFFF, 2)));
        b.add("D6b", "ctab of 65,536 entries in moov", m, Opens::Refused);
    }
}

void dimensionRows(Builder& b) {
    struct {
        const char* id;
        double w, h;
        bool dxt24;
    } sizes[] = {{"V1a", 0, 0, false},
                 {"V1b", 8, 0, false},
                 {"V2a", 65535.99, 65535.99, false},
                 {"V2b", 65535.99, 65535.99, true}};
    for (const auto& s : sizes) {
        Movie m = baselineMovie();
        m.find("trak/tkhd")->data = tkhdBody(s.w, s.h);
        if (s.dxt24) {
            // The isDXT24 byte of both frame headers.
            m.mdat().data[26] = 1;
            m.mdat().data[60 + 26] = 1;
        }
        // No frame could ever be delivered: refused before the host plans for one.
        b.add(s.id, "track dimensions", m, Opens::Refused);
    }
}

} // namespace

std::vector<HostileCase> hostileCases() {
    Builder b;
    structureRows(b);
    tableRows(b);
    descriptionRows(b);
    dimensionRows(b);
    return std::move(b.cases);
}

} // namespace keofaults
