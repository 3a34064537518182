// Every atom of a set of valid movies is cut short, at every length of its
// payload, with the sizes around it made to match (so the movie is well
// formed, only the atom lacks bytes). Each cut movie must either be refused
// or give exactly the answers of the whole one: every query of the reader
// and every field of every record the reader keeps. A field read from bytes
// that are not there (zeros, or what follows the atom) would change an
// answer without a refusal.
//
// A cut that leaves a container with only whole children (and fewer than 8
// bytes after the last, which are padding) is a complete, smaller movie;
// it only has to be read safely.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "container/MovFile.h"
#include "container/QuicktimeFile.h"
#include "support/MovieBuilder.h"

using namespace keotest;

namespace {

void tables(std::ostream& o, const QuicktimeSTBL& s) {
    o << "stts " << s.stts.version << ' ' << s.stts.flags << ' ' << s.stts.totalEntries << ':';
    for (int64_t i = 0; i < s.stts.totalEntries; i++)
        o << ' ' << s.stts.table[i].sampleCount << '/' << s.stts.table[i].sampleDuration;
    o << "\nstss " << s.stss.totalEntries << ':';
    for (int64_t i = 0; i < s.stss.totalEntries; i++)
        o << ' ' << s.stss.table[i];
    o << "\nstsc " << s.stsc.totalEntries << ':';
    for (int64_t i = 0; i < s.stsc.totalEntries; i++)
        o << ' ' << s.stsc.table[i].chunk << '/' << s.stsc.table[i].samples << '/'
          << s.stsc.table[i].id;
    o << "\nstsz " << s.stsz.sampleSize << ' ' << s.stsz.totalEntries << ':';
    for (int64_t i = 0; s.stsz.table && i < s.stsz.totalEntries; i++)
        o << ' ' << s.stsz.table[i];
    o << "\nstco " << s.stco.totalEntries << ':';
    for (int64_t i = 0; i < s.stco.totalEntries; i++)
        o << ' ' << s.stco.table[i];
    o << '\n';
}

void colours(std::ostream& o, const QuicktimeCTab& c) {
    o << "ctab " << c.seed << ' ' << c.flags << ' ' << c.size << ':';
    for (int64_t i = 0; i < c.size; i++)
        o << ' ' << c.values[i] << '/' << c.red[i] << '/' << c.green[i] << '/' << c.blue[i];
    o << '\n';
}

void description(std::ostream& o, const QuicktimeSTSDTable& d) {
    o << "entry " << std::string(d.format, 4) << std::string(d.reserved, 6) << ' '
      << d.dataReference << ' ' << d.version << ' ' << d.revision << ' ' << std::string(d.vendor, 4)
      << ' ' << d.temporalQuality << ' ' << d.spatialQuality << ' ' << d.width << 'x' << d.height
      << ' ' << d.dpiHorizontal << ' ' << d.dpiVertical << ' ' << d.dataSize << ' '
      << d.framesPerSample << ' ' << d.compressorName << ' ' << d.depth << ' ' << d.ctabId << ' '
      << d.gamma << ' ' << d.fields << ' ' << d.fieldDominance << ' ' << d.channels << ' '
      << d.sampleSize << ' ' << d.compressionId << ' ' << d.packetSize << ' ' << d.sampleRate << ' '
      << d.samplesPerPacket << ' ' << d.bytesPerPacket << ' ' << d.bytesPerFrame << ' '
      << d.bytesPerSample << '\n';
    colours(o, d.ctab);
}

void handler(std::ostream& o, const QuicktimeHDLR& h) {
    // The name is left out: it is only shown, and a cut name is read as the
    // text that is there rather than refusing the movie.
    o << "hdlr " << h.version << ' ' << h.flags << ' ' << std::string(h.componentType, 4)
      << std::string(h.componentSubtype, 4) << ' ' << h.componentManufacturer << ' '
      << h.componentFlags << ' ' << h.componentFlagsMask << '\n';
}

void matrix(std::ostream& o, const QuicktimeMatrix& m) {
    for (float v : m.values)
        o << ' ' << v;
    o << '\n';
}

// Everything the reader keeps about the tree.
void tree(std::ostream& o, const QuicktimeMOOV& moov) {
    const QuicktimeMVHD& h = moov.mvhd;
    o << "mvhd " << h.version << ' ' << h.flags << ' ' << h.creationTime << ' '
      << h.modificationTime << ' ' << h.timeScale << ' ' << h.duration << ' ' << h.preferredRate
      << ' ' << h.preferredVolume << ' ' << std::string(h.reserved, 10) << ' ' << h.previewTime
      << ' ' << h.previewDuration << ' ' << h.posterTime << ' ' << h.selectionTime << ' '
      << h.selectionDuration << ' ' << h.currentTime << ' ' << h.nextTrackId;
    matrix(o, h.matrix);
    colours(o, moov.ctab);
    for (int64_t t = 0; t < moov.totalTracks; t++) {
        const QuicktimeTrak& k = *moov.trak[t];
        const QuicktimeTKHD& th = k.tkhd;
        o << "tkhd " << th.version << ' ' << th.flags << ' ' << th.creationTime << ' '
          << th.modificationTime << ' ' << th.trackId << ' ' << th.reserved1 << ' ' << th.duration
          << ' ' << std::string(th.reserved2, 8) << ' ' << th.layer << ' ' << th.alternateGroup
          << ' ' << th.volume << ' ' << th.reserved3 << ' ' << th.trackWidth << 'x'
          << th.trackHeight;
        matrix(o, th.matrix);
        o << "elst " << k.edts.elst.totalEntries << ':';
        for (int64_t i = 0; i < k.edts.elst.totalEntries; i++)
            o << ' ' << k.edts.elst.table[i].duration << '/' << k.edts.elst.table[i].time << '/'
              << k.edts.elst.table[i].rate;
        const QuicktimeMDHD& mh = k.mdia.mdhd;
        o << "\nmdhd " << mh.version << ' ' << mh.flags << ' ' << mh.creationTime << ' '
          << mh.modificationTime << ' ' << mh.timeScale << ' ' << mh.duration << ' ' << mh.language
          << ' ' << mh.quality << '\n';
        handler(o, k.mdia.hdlr);
        const QuicktimeMInf& mi = k.mdia.minf;
        o << "minf " << mi.isVideo << mi.isAudio << " vmhd " << mi.vmhd.version << ' '
          << mi.vmhd.flags << ' ' << mi.vmhd.graphicsMode << ' ' << mi.vmhd.opcolor[0] << ' '
          << mi.vmhd.opcolor[1] << ' ' << mi.vmhd.opcolor[2] << " smhd " << mi.smhd.version << ' '
          << mi.smhd.flags << ' ' << mi.smhd.balance << ' ' << mi.smhd.reserved << '\n';
        handler(o, mi.hdlr);
        o << "dref " << mi.dinf.dref.totalEntries << ':';
        for (int64_t i = 0; i < mi.dinf.dref.totalEntries; i++) {
            const QuicktimeDRefTable& e = mi.dinf.dref.table[i];
            o << ' ' << e.size << std::string(e.type, 4) << e.version << '/' << e.flags << '/'
              << (e.dataReference ? e.dataReference : "(none)");
        }
        o << '\n';
        for (int64_t i = 0; i < mi.stbl.stsd.totalEntries; i++)
            description(o, mi.stbl.stsd.table[i]);
        tables(o, mi.stbl);
    }
}

// Every query a reader of the movie makes, then the tree.
std::string answers(const Bytes& bytes) {
    MovFile movie;
    LargeFp* fp = movie.openReadMemory(bytes.data(), bytes.size());
    if (!fp) {
        movie.close();
        return "refused";
    }
    std::ostringstream o;
    int w = 0, h = 0, num = 0, den = 0;
    movie.frameSize(w, h);
    movie.frameRate(num, den);
    o << "video " << movie.nFrames() << ' ' << w << 'x' << h << ' ' << movie.frameBitDepth() << ' '
      << movie.frameType() << ' ' << num << '/' << den << '\n';
    for (int f = 0; f < movie.nFrames(); f++) {
        Bytes frame(static_cast<size_t>(movie.frameSize(f)));
        o << "frame " << movie.frameOffset(f) << ' ' << movie.readFrame(f, frame.data()) << ' '
          << (frame == dxt1Frame(static_cast<uint8_t>(f)) ? "intact" : "other") << '\n';
    }
    for (int t = 0; t < movie.audioTracks(); t++) {
        const long long samples = movie.audioTrackNumberOfSamples(t);
        o << "audio " << movie.audioTrackNumberOfChannels(t) << ' ' << movie.audioTrackSampleRate(t)
          << ' ' << movie.audioTrackAudioBits(t) << ' ' << movie.audioTrackBytesPerSample(t) << ' '
          << movie.audioTrackBytesPerPacket(t) << ' ' << samples << ' ' << movie.audioType()
          << movie.audioBigEndian() << '\n';
        if (samples > 0 && samples <= 1000) {
            std::vector<char> buffer(static_cast<size_t>(samples) * 16);
            const long long got = movie.readAudio(buffer.data(), 0, static_cast<long>(samples), t);
            o << "read " << got << ' ' << std::string(buffer.data(), static_cast<size_t>(got))
              << '\n';
        }
    }
    tree(o, movie.file->moov);
    movie.close();
    return o.str();
}

// Offsets in an atom's payload up to which the cut leaves only whole children
// (and padding of fewer than 8 bytes): a smaller but complete atom.
bool onlyWholeChildren(const Atom& a, size_t cut) {
    size_t boundary = a.data.size();
    if (cut < boundary)
        return false;
    for (const Atom& c : a.children) {
        if (cut - boundary < 8)
            return true;
        boundary += c.trueSize();
        if (cut < boundary)
            return false;
    }
    return true;
}

Bytes payloadOf(const Atom& a) {
    Bytes p = a.data;
    for (const Atom& c : a.children)
        append(p, c.bytes());
    return p;
}

struct Sweep {
    const Movie& whole;
    std::string expected;
    int cuts = 0, refused = 0, same = 0, smaller = 0;

    // Cuts the atom at `path` (child indices from the movie atom) at every
    // length, then does the same below it.
    void atomAt(const std::vector<size_t>& path) {
        Movie m = whole;
        Atom* a = &m.moov();
        for (size_t i : path)
            a = &a->children[i];
        const Atom original = *a;
        const Bytes payload = payloadOf(original);
        for (size_t cut = 0; cut < payload.size(); cut++) {
            *a = atom(original.type.c_str(), Bytes(payload.begin(), payload.begin() + cut));
            const std::string got = answers(m.bytes());
            cuts++;
            if (onlyWholeChildren(original, cut)) {
                smaller++;
                continue; // read safely, any answer
            }
            if (got == "refused" || got == expected) {
                (got == expected ? same : refused)++;
                continue;
            }
            ADD_FAILURE() << original.type << " at depth " << path.size() << " cut to " << cut
                          << " of " << payload.size() << " bytes was read as:\n"
                          << got << "\ninstead of:\n"
                          << expected;
            return;
        }
        for (size_t i = 0; i < original.children.size(); i++) {
            std::vector<size_t> below = path;
            below.push_back(i);
            atomAt(below);
        }
    }
};

void sweepMovie(const Movie& m) {
    Sweep s{m, answers(m.bytes())};
    ASSERT_NE(s.expected, "refused");
    s.atomAt({});
    // Nearly every cut lands inside a field or a child.
    EXPECT_GT(s.refused, s.cuts / 2);
    EXPECT_EQ(s.cuts, s.refused + s.same + s.smaller);
}

} // namespace

TEST(TruncationSweep, BaselineWithSound) {
    sweepMovie(baselineMovie(true));
}

// Every record the reader keeps, so that each kind of field gets cut: sync
// samples, 32-bit chunk offsets, a colour table in the movie and in the
// video description, field and gamma extensions, a version 1 sound
// description, a data reference with data, and user data (skipped whole).
TEST(TruncationSweep, EveryKindOfAtom) {
    Movie m = baselineMovie(true);
    Atom* stbl = m.find("trak/mdia/minf/stbl");
    stbl->add(atom("stss", Bytes{0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1}));
    Atom& entry = m.find("trak/mdia/minf/stbl/stsd")->children[0];
    entry.add(atom("fiel", Bytes{2, 1}));
    entry.add(atom("gama", Bytes{0, 2, 0x33, 0x33}));
    entry.add(atom("ctab", ctabBody(1, 2)));
    m.moov().add(atom("ctab", ctabBody(0, 1)));
    m.moov().add(atom("udta", {}, {atom("abcd", Bytes(5, 'u'))}));
    *m.find("trak#1/mdia/minf/stbl/stsd") = stsdAtom({soundEntry("twos", 2, 16, 44100, 1)});
    Bytes dref = drefBody();
    dref[11] = 20; // the entry: 12 bytes of header and 8 of data
    append(dref, Bytes{'/', 'a', '/', 'b', '.', 'm', 'o', 'v'});
    m.find("trak/mdia/minf/dinf/dref")->data = dref;
    Atom* co64 = m.find("trak/mdia/minf/stbl/co64");
    *co64 = atom("stco", stcoBody({16, 476}));
    sweepMovie(m);
}
