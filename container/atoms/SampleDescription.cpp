// Reading the sample description: video and sound entries, the video
// extension atoms, and the ZUVM test that decides whether a movie is ours.
#include "container/atoms/SampleDescription.h"

#include <cstdlib>
#include <cstring>

#include "container/atoms/AtomRead.h"
#include "container/atoms/Media.h"

void QuicktimeSTSDTable::init() {
    std::memset(this, 0, sizeof *this);
    std::memcpy(format, "ZUVM", 4);
    dataReference = 1;
    std::memcpy(vendor, "KEO ", 4);
    temporalQuality = 100;
    spatialQuality = 258;
    width = 400;
    height = 400;
    dpiHorizontal = 72.0f;
    dpiVertical = 72.0f;
    framesPerSample = 1;
    std::memcpy(compressorName, "KEO", 3);
    depth = 24;
    ctabId = 0xFFFF;
    ctab.init();
    fieldDominance = 1;
}

bool QuicktimeSTSDTable::formatIs(const char* fourcc) const {
    return MovFile::match32(format, fourcc) && reserved[0] == 0;
}

void QuicktimeSTSDTable::formatText(char* out) const {
    int n = 0;
    for (char c : format) {
        if (c == 0)
            break;
        out[n++] = c;
    }
    // The reserved bytes follow the format in memory and so continue it as a
    // string until the first zero; ten bytes at most either way.
    if (n == 4) {
        for (char c : reserved) {
            if (c == 0)
                break;
            out[n++] = c;
        }
    }
    out[n] = 0;
}

void QuicktimeSTSDTable::read(QuicktimeFile* file, QuicktimeMInf& minf, MovFile& movie,
                              AtomReader& stsd) {
    AtomReader entry;
    if (!stsd.nextChild(&entry)) {
        stsd.fail(); // the count promised this entry
        return;
    }
    std::memcpy(format, entry.header().type, 4);
    if (minf.isVideo && !MovFile::match32(format, "ZUVM")) {
        movie.ok = false;
        return;
    }
    // reserved and dataReference complete the 16 bytes every entry has.
    entry.bytes(reserved, sizeof reserved);
    entry.u16(&dataReference);
    if (minf.isAudio)
        readAudio(file, entry, movie);
    if (minf.isVideo)
        readVideo(file, entry, movie);
    if (!entry.ok())
        stsd.fail();
}

void QuicktimeSTSDTable::readVideo(QuicktimeFile* file, AtomReader& entry, MovFile& movie) {
    entry.u16(&version);
    entry.u16(&revision);
    entry.fourCC(vendor);
    entry.u32(&temporalQuality);
    entry.u32(&spatialQuality);
    entry.u16(&width);
    entry.u16(&height);
    entry.fixed32(&dpiHorizontal);
    entry.fixed32(&dpiVertical);
    entry.u32(&dataSize);
    entry.u16(&framesPerSample);
    // The length byte is not trusted: the field is always 31 bytes of text.
    entry.skip(1);
    entry.bytes(compressorName, 31);
    compressorName[31] = 0;
    entry.u16(&depth);
    entry.u16(&ctabId);
    if (!entry.ok())
        return;

    walkChildren(entry, movie, [&](AtomReader& ext) {
        if (ext.is("ctab")) {
            ctab.read(file, ext, movie);
        } else if (ext.is("fiel")) {
            ext.s8(&fields);
            ext.s8(&fieldDominance);
        } else if (ext.is("gama")) {
            ext.fixed32(&gamma);
        }
    });
}

void QuicktimeSTSDTable::readAudio(QuicktimeFile*, AtomReader& entry, MovFile&) {
    entry.u16(&version);
    entry.u16(&revision);
    entry.fourCC(vendor);
    entry.u16(&channels);
    entry.u16(&sampleSize);
    entry.u16(&compressionId);
    entry.u16(&packetSize);
    // A 16-bit integer part cannot hold 88200 or 96000; the writer keeps
    // their low 16 bits, recognised here by the wrapped value.
    float rate = 0.0f;
    if (!entry.fixed32(&rate))
        return;
    if (rate + 65536.0f == 88200.0f)
        rate = 88200.0f;
    else if (rate + 65536.0f == 96000.0f)
        rate = 96000.0f;
    sampleRate = rate;
    if (version == 1) {
        uint32_t v[4];
        for (uint32_t& field : v)
            entry.u32(&field);
        if (!entry.ok())
            return;
        samplesPerPacket = static_cast<int32_t>(v[0]);
        bytesPerPacket = static_cast<int32_t>(v[1]);
        bytesPerFrame = static_cast<int32_t>(v[2]);
        bytesPerSample = static_cast<int32_t>(v[3]);
    }
}

void QuicktimeSTSD::read(QuicktimeFile* file, AtomReader& atom, MovFile& movie,
                         QuicktimeMInf& minf) {
    deleteMe();
    int64_t count;
    // Every entry is at least 16 bytes: size, format, reserved, data reference.
    if (!readTableHeader(atom, 16, &version, &flags, &count))
        return;
    table = allocTable<QuicktimeSTSDTable>(count, movie);
    if (movie.stopped())
        return;
    totalEntries = count;
    for (int64_t i = 0; i < count && atom.ok() && !movie.stopped(); i++) {
        table[i].init();
        table[i].read(file, minf, movie, atom);
    }
}

void QuicktimeSTSD::deleteMe() {
    for (int64_t i = 0; table && i < totalEntries; i++)
        table[i].ctab.deleteMe();
    std::free(table);
    table = nullptr;
    totalEntries = 0;
}
