// Reading the sample description: video and sound entries, the video
// extension atoms, and the ZUVM test that decides whether a movie is ours.
#include "container/atoms/SampleDescription.h"

#include <cstdlib>
#include <cstring>

#include "container/atoms/AtomRead.h"
#include "container/atoms/Media.h"

namespace {

// reserved 6 + dataReference 2 after the entry's own header.
const uint64_t kEntryHeadBytes = 8;
const uint64_t kVideoBodyBytes = 70;
const uint64_t kSoundBodyBytes = 20;
const uint64_t kSoundVersion1Bytes = 16;

} // namespace

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
                              int64_t end) {
    QuicktimeAtom entry;
    QuicktimeAtom stsdBody;
    stsdBody.start = movie.position(file);
    stsdBody.end = end;
    if (!readChildHeader(file, stsdBody, entry, movie)) {
        movie.refuse(); // a count promised this entry
        return;
    }
    std::memcpy(format, entry.type, 4);
    if (minf.isVideo && !MovFile::match32(format, "ZUVM")) {
        movie.ok = false;
        return;
    }
    // reserved and dataReference complete the 16 bytes every entry has.
    if (!movie.need(entry.end, kEntryHeadBytes))
        return;
    movie.readInto(6, reserved);
    dataReference = movie.readInt16();
    if (minf.isAudio)
        readAudio(file, entry, movie);
    if (minf.isVideo && !movie.stopped())
        readVideo(file, entry, movie);
    if (!movie.stopped())
        movie.setPosition(file, entry.end);
}

void QuicktimeSTSDTable::readVideo(QuicktimeFile* file, QuicktimeAtom& entryAtom, MovFile& movie) {
    if (!movie.need(entryAtom.end, kVideoBodyBytes))
        return;
    version = movie.readInt16();
    revision = movie.readInt16();
    movie.readChar32(vendor);
    temporalQuality = movie.readInt32();
    spatialQuality = movie.readInt32();
    width = movie.readInt16();
    height = movie.readInt16();
    dpiHorizontal = movie.readFixed32();
    dpiVertical = movie.readFixed32();
    dataSize = movie.readInt32();
    framesPerSample = movie.readInt16();
    // The length byte is not trusted: the field is always 31 bytes of text.
    movie.readChar();
    movie.readInto(31, compressorName);
    compressorName[31] = 0;
    depth = movie.readInt16();
    ctabId = movie.readInt16();

    walkChildren(file, entryAtom, movie, [&](QuicktimeAtom& ext) {
        if (ext.is("ctab")) {
            ctab.read(file, ext, movie);
        } else if (ext.is("fiel")) {
            if (movie.need(ext.end, 2)) {
                fields = movie.readChar();
                fieldDominance = movie.readChar();
            }
        } else if (ext.is("gama")) {
            if (movie.need(ext.end, 4))
                gamma = movie.readFixed32();
        }
    });
}

void QuicktimeSTSDTable::readAudio(QuicktimeFile*, QuicktimeAtom& entryAtom, MovFile& movie) {
    if (!movie.need(entryAtom.end, kSoundBodyBytes))
        return;
    version = movie.readInt16();
    revision = movie.readInt16();
    movie.readChar32(vendor);
    channels = movie.readInt16();
    sampleSize = movie.readInt16();
    compressionId = movie.readInt16();
    packetSize = movie.readInt16();
    // A 16-bit integer part cannot hold 88200 or 96000; the writer keeps
    // their low 16 bits, recognised here by the wrapped value.
    float rate = movie.readFixed32();
    if (rate + 65536.0f == 88200.0f)
        rate = 88200.0f;
    else if (rate + 65536.0f == 96000.0f)
        rate = 96000.0f;
    sampleRate = rate;
    if (version == 1) {
        if (!movie.need(entryAtom.end, kSoundVersion1Bytes))
            return;
        samplesPerPacket = static_cast<int32_t>(movie.readInt32());
        bytesPerPacket = static_cast<int32_t>(movie.readInt32());
        bytesPerFrame = static_cast<int32_t>(movie.readInt32());
        bytesPerSample = static_cast<int32_t>(movie.readInt32());
    }
}

void QuicktimeSTSD::read(QuicktimeFile* file, QuicktimeAtom& atom, MovFile& movie,
                         QuicktimeMInf& minf) {
    deleteMe();
    int64_t count;
    // Every entry is at least 16 bytes: size, format, reserved, data reference.
    if (!readTableHeader(file, atom, movie, 16, &version, &flags, &count))
        return;
    table = allocTable<QuicktimeSTSDTable>(count, movie);
    if (movie.stopped())
        return;
    totalEntries = count;
    for (int64_t i = 0; i < count && !movie.stopped(); i++) {
        table[i].init();
        table[i].read(file, minf, movie, atom.end);
    }
}

void QuicktimeSTSD::deleteMe() {
    for (int64_t i = 0; table && i < totalEntries; i++)
        table[i].ctab.deleteMe();
    std::free(table);
    table = nullptr;
    totalEntries = 0;
}
