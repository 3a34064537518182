// The test-side movie builder: atoms in code, sizes filled in afterwards;
// the leaf bodies are in AtomBodies.cpp.
#include "support/MovieBuilder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <unistd.h>

namespace keotest {

void put8(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
}
void put16(Bytes& b, uint32_t v) {
    put8(b, v >> 8);
    put8(b, v);
}
void put24(Bytes& b, uint32_t v) {
    put8(b, v >> 16);
    put16(b, v);
}
void put32(Bytes& b, uint32_t v) {
    put16(b, v >> 16);
    put16(b, v);
}
void put64(Bytes& b, uint64_t v) {
    put32(b, static_cast<uint32_t>(v >> 32));
    put32(b, static_cast<uint32_t>(v));
}
void putType(Bytes& b, const char* fourcc) {
    for (int i = 0; i < 4; i++)
        put8(b, static_cast<uint8_t>(fourcc[i]));
}
void putFixed32(Bytes& b, double v) {
    uint32_t whole = static_cast<uint32_t>(v);
    put16(b, whole);
    put16(b, static_cast<uint32_t>((v - whole) * 65536.0));
}
void putFixed16(Bytes& b, double v) {
    uint32_t whole = static_cast<uint32_t>(v);
    put8(b, whole);
    put8(b, static_cast<uint32_t>((v - whole) * 256.0));
}
void putZeros(Bytes& b, size_t n) {
    b.insert(b.end(), n, 0);
}
void append(Bytes& b, const Bytes& more) {
    b.insert(b.end(), more.begin(), more.end());
}

Atom& Atom::add(Atom child) {
    children.push_back(std::move(child));
    return children.back();
}

Atom& Atom::prepend(Atom child) {
    children.insert(children.begin(), std::move(child));
    return children.front();
}

Atom* Atom::find(const std::string& path) {
    size_t slash = path.find('/');
    std::string head = path.substr(0, slash);
    int wanted = 0;
    size_t hash = head.find('#');
    if (hash != std::string::npos) {
        wanted = std::atoi(head.c_str() + hash + 1);
        head.resize(hash);
    }
    for (Atom& c : children) {
        if (c.type != head || wanted-- > 0)
            continue;
        return slash == std::string::npos ? &c : c.find(path.substr(slash + 1));
    }
    return nullptr;
}

uint64_t Atom::trueSize() const {
    uint64_t n = data.size();
    for (const Atom& c : children)
        n += c.trueSize();
    if (!type.empty())
        n += large ? 16 : 8;
    return n;
}

Bytes Atom::bytes() const {
    Bytes out;
    if (!type.empty()) {
        if (type.size() != 4)
            throw std::logic_error("atom type must have four characters");
        uint64_t sizeField = size ? *size : trueSize();
        if (large) {
            put32(out, 1);
            putType(out, type.c_str());
            put64(out, sizeField);
        } else {
            put32(out, static_cast<uint32_t>(sizeField));
            putType(out, type.c_str());
        }
    }
    append(out, data);
    for (const Atom& c : children)
        append(out, c.bytes());
    return out;
}

Atom atom(const char* type, Bytes data, std::vector<Atom> children) {
    Atom a;
    a.type = type;
    a.data = std::move(data);
    a.children = std::move(children);
    return a;
}

Atom raw(Bytes bytes) {
    Atom a;
    a.data = std::move(bytes);
    return a;
}

Bytes atomHeader(uint32_t size, const char* type) {
    Bytes b;
    put32(b, size);
    putType(b, type);
    return b;
}

Atom stblAtom(Atom stsd, const Tables& t) {
    Atom stbl = atom("stbl");
    stbl.add(std::move(stsd));
    stbl.add(atom("stts", sttsBody(t.stts)));
    stbl.add(atom("stsc", stscBody(t.stsc)));
    uint32_t count = t.sampleSize ? t.sampleCount : static_cast<uint32_t>(t.sizes.size());
    stbl.add(atom("stsz",
                  stszBody(t.sampleSize, count, t.sampleSize ? std::vector<uint32_t>{} : t.sizes)));
    if (t.use64) {
        stbl.add(atom("co64", co64Body(t.offsets)));
    } else {
        std::vector<uint32_t> narrow(t.offsets.begin(), t.offsets.end());
        stbl.add(atom("stco", stcoBody(narrow)));
    }
    return stbl;
}

namespace {

Atom trakAround(Bytes tkhd, uint32_t timeScale, const char* subtype, const char* name,
                Atom mediaHeader, Atom stbl) {
    Atom minf = atom("minf");
    minf.add(std::move(mediaHeader));
    minf.add(atom("hdlr", hdlrBody(subtype, name)));
    minf.add(atom("dinf", {}, {atom("dref", drefBody())}));
    minf.add(std::move(stbl));
    Atom mdia = atom("mdia");
    mdia.add(atom("mdhd", mdhdBody(timeScale)));
    mdia.add(atom("hdlr", hdlrBody(subtype, name)));
    mdia.add(std::move(minf));
    Atom trak = atom("trak");
    trak.add(atom("tkhd", std::move(tkhd)));
    trak.add(atom("edts", {}, {atom("elst", elstBody({{0, 0, 0x10000}}))}));
    trak.add(std::move(mdia));
    return trak;
}

} // namespace

Atom videoTrak(const VideoTrack& v, uint32_t trackId) {
    return trakAround(tkhdBody(v.width, v.height, trackId), v.timeScale, "vide",
                      "ZU Video Media Handler", atom("vmhd", vmhdBody()),
                      stblAtom(stsdAtom({videoEntry(v.format.c_str())}), v.tables));
}

Atom soundTrak(const SoundTrack& s, uint32_t trackId) {
    return trakAround(
        tkhdBody(0, 0, trackId), s.rate, "soun", "ZU Audio Media Handler", atom("smhd", smhdBody()),
        stblAtom(stsdAtom({soundEntry(s.format.c_str(), s.channels, s.bits, s.rate, s.version)}),
                 s.tables));
}

Atom& Movie::mdat() {
    for (Atom& a : top)
        if (a.type == "mdat")
            return a;
    throw std::logic_error("movie without mdat");
}

Atom& Movie::moov() {
    for (Atom& a : top)
        if (a.type == "moov")
            return a;
    throw std::logic_error("movie without moov");
}

Bytes Movie::bytes() const {
    Bytes out;
    for (const Atom& a : top)
        append(out, a.bytes());
    return out;
}

void shiftChunkOffsets(Atom& a, int64_t delta) {
    if (a.type == "co64" || a.type == "stco") {
        bool wide = a.type == "co64";
        size_t count = (a.data[4] << 24) | (a.data[5] << 16) | (a.data[6] << 8) | a.data[7];
        size_t width = wide ? 8 : 4;
        for (size_t i = 0; i < count && 8 + (i + 1) * width <= a.data.size(); i++) {
            uint8_t* p = &a.data[8 + i * width];
            uint64_t v = 0;
            for (size_t k = 0; k < width; k++)
                v = (v << 8) | p[k];
            v += static_cast<uint64_t>(delta);
            for (size_t k = width; k-- > 0;) {
                p[k] = static_cast<uint8_t>(v);
                v >>= 8;
            }
        }
    }
    for (Atom& c : a.children)
        shiftChunkOffsets(c, delta);
}

void Movie::moveMoovFirst() {
    Atom moovAtom = moov();
    std::vector<Atom> rest;
    for (Atom& a : top)
        if (a.type != "moov")
            rest.push_back(std::move(a));
    shiftChunkOffsets(moovAtom, static_cast<int64_t>(moovAtom.trueSize()));
    top.clear();
    top.push_back(std::move(moovAtom));
    for (Atom& a : rest)
        top.push_back(std::move(a));
}

Bytes dxt1Frame(uint8_t seed) {
    // 28-byte little-endian frame header.
    const uint8_t header[28] = {28, 0, 0,  0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                0,  0, 32, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0};
    Bytes b(header, header + 28);
    for (int block = 0; block < 4; block++) {
        uint16_t c0 = static_cast<uint16_t>(0xF800 >> (seed % 4)) | static_cast<uint16_t>(block);
        b.push_back(static_cast<uint8_t>(c0));
        b.push_back(static_cast<uint8_t>(c0 >> 8));
        b.push_back(seed);
        b.push_back(0);
        for (int i = 0; i < 4; i++)
            b.push_back(static_cast<uint8_t>(0x1B * (block + 1) + seed));
    }
    return b;
}

int16_t audioValue(int sample, int channel) {
    return static_cast<int16_t>(sample * 300 * (channel ? -1 : 1) + channel);
}

Bytes audioChunk(int firstSample, int frames) {
    Bytes b;
    for (int i = 0; i < frames; i++)
        for (int c = 0; c < 2; c++)
            put16(b, static_cast<uint16_t>(audioValue(firstSample + i, c)));
    return b;
}

Movie baselineMovie(bool withAudio) {
    Movie m;
    Atom mdat = atom("mdat");
    mdat.large = true;
    VideoTrack v;
    v.tables.stts = {{2, 24}};
    v.tables.stsc = {{1, 1, 1}};
    v.tables.sizes = {60, 60};
    SoundTrack s;
    s.tables.stts = {{200, 1}};
    s.tables.stsc = {{1, 100, 1}};
    s.tables.sampleSize = 1;
    s.tables.sampleCount = 200;

    // Frames and audio blocks alternate: frame 0, audio 0, frame 1, audio 1.
    uint64_t at = 16;
    for (int i = 0; i < 2; i++) {
        Bytes frame = dxt1Frame(static_cast<uint8_t>(i));
        v.tables.offsets.push_back(at);
        at += frame.size();
        append(mdat.data, frame);
        if (withAudio) {
            Bytes chunk = audioChunk(i * 100, 100);
            s.tables.offsets.push_back(at);
            at += chunk.size();
            append(mdat.data, chunk);
        }
    }
    Atom moov = atom("moov");
    moov.add(atom("mvhd", mvhdBody()));
    moov.add(videoTrak(v, 1));
    if (withAudio)
        moov.add(soundTrak(s, 2));
    m.top.push_back(std::move(mdat));
    m.top.push_back(std::move(moov));
    return m;
}

std::vector<std::pair<uint32_t, uint32_t>> roundedDurations(uint64_t rateNum, uint64_t rateDen,
                                                            uint32_t timeScale, uint32_t frames) {
    std::vector<std::pair<uint32_t, uint32_t>> entries;
    // round(i x timeScale x rateDen / rateNum), halves up.
    auto at = [&](uint64_t i) {
        const unsigned __int128 twice = static_cast<unsigned __int128>(i) * timeScale * rateDen * 2;
        return static_cast<uint64_t>((twice + rateNum) /
                                     (2 * static_cast<unsigned __int128>(rateNum)));
    };
    for (uint32_t i = 0; i < frames; i++) {
        const uint32_t d = static_cast<uint32_t>(at(i + 1) - at(i));
        if (!entries.empty() && entries.back().second == d)
            entries.back().first++;
        else
            entries.push_back({1, d});
    }
    return entries;
}

Movie timedMovie(uint32_t timeScale, const std::vector<std::pair<uint32_t, uint32_t>>& stts) {
    Movie m;
    Atom mdat = atom("mdat");
    mdat.large = true;
    VideoTrack v;
    v.timeScale = timeScale;
    v.tables.stts = stts;
    v.tables.stsc = {{1, 1, 1}};
    uint32_t frames = 0;
    for (const auto& entry : stts)
        frames += entry.first;
    uint64_t at = 16;
    for (uint32_t i = 0; i < frames; i++) {
        Bytes frame = dxt1Frame(static_cast<uint8_t>(i));
        v.tables.sizes.push_back(static_cast<uint32_t>(frame.size()));
        v.tables.offsets.push_back(at);
        at += frame.size();
        append(mdat.data, frame);
    }
    Atom moov = atom("moov");
    moov.add(atom("mvhd", mvhdBody()));
    moov.add(videoTrak(v, 1));
    m.top.push_back(std::move(mdat));
    m.top.push_back(std::move(moov));
    return m;
}

TempFile::TempFile(const Bytes& bytes) {
    char name[] = "/tmp/keo-movie-XXXXXX";
    int fd = mkstemp(name);
    if (fd < 0)
        throw std::runtime_error("cannot create a temporary file");
    path = name;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
}

TempFile::~TempFile() {
    std::remove(path.c_str());
}

} // namespace keotest
