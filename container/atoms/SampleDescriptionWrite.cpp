// Writing the sample description of a new movie's video or sound track, and
// setting it up from the writer's arguments.
#include <cstdlib>
#include <cstring>

#include "container/MovFile.h"
#include "container/QuicktimeFile.h"
#include "container/atoms/AtomWrite.h"
#include "container/atoms/Media.h"

namespace {

// The first four characters of the caller's compressor name, padded with
// spaces as four-character codes are; no name keeps the default.
void setFormat(char* format, const char* compressor) {
    if (!compressor)
        return;
    size_t n = strnlen(compressor, 4);
    for (size_t i = 0; i < 4; i++)
        format[i] = i < n ? compressor[i] : ' ';
}

} // namespace

int QuicktimeSTSD::initTable() {
    if (totalEntries > 0 && table)
        return 0;
    table = static_cast<QuicktimeSTSDTable*>(std::calloc(1, sizeof(QuicktimeSTSDTable)));
    if (!table)
        return 1;
    table[0].init();
    totalEntries = 1;
    return 0;
}

int QuicktimeSTSD::initVideo(QuicktimeFile*, int width, int height, keo::FrameRate,
                             char* compressor) {
    if (initTable() != 0)
        return 1;
    QuicktimeSTSDTable& entry = table[0];
    setFormat(entry.format, compressor);
    entry.width = width;
    entry.height = height;
    entry.framesPerSample = 1;
    entry.depth = 24;
    entry.ctabId = 65535; // no colour table
    return 0;
}

int QuicktimeSTSD::initAudio(QuicktimeFile*, int channels, int sampleRate, int bits,
                             char* compressor) {
    if (initTable() != 0)
        return 1;
    QuicktimeSTSDTable& entry = table[0];
    setFormat(entry.format, compressor);
    entry.channels = channels;
    entry.sampleRate = static_cast<float>(sampleRate);
    entry.sampleSize = bits;
    entry.compressionId = 0;
    entry.packetSize = 0;
    return 0;
}

// stsd: version 1, flags 3, count 4, then one description atom per entry.
void QuicktimeSTSD::write(QuicktimeFile* file, QuicktimeMInf& minf, MovFile& movie) {
    QuicktimeAtom atom;
    writeFullAtomHeader(atom, file, "stsd", version, flags, movie);
    writeTable(movie, totalEntries, table,
               [&](QuicktimeSTSDTable& entry) { entry.write(file, minf, movie); });
    atom.writeFooter(file, movie);
}

// One description: an atom whose type is the format, holding reserved 6
// (zero), data reference index 2, then the sound part and/or the video part
// as the track's media information says.
void QuicktimeSTSDTable::write(QuicktimeFile* file, QuicktimeMInf& minf, MovFile& movie) {
    static const char kZeros[6] = {0};
    QuicktimeAtom atom;
    atom.writeHeader(file, format, movie);
    movie.writeInto(6, kZeros);
    movie.writeInt16(dataReference);
    if (minf.isAudio)
        writeAudio(file, movie);
    if (minf.isVideo)
        writeVideo(file, movie);
    atom.writeFooter(file, movie);
}

// Video part (70 bytes): version 2, revision 2, vendor 4, temporalQuality 4,
// spatialQuality 4, width 2, height 2, dpiHorizontal 4 (16.16), dpiVertical 4
// (16.16), dataSize 4, framesPerSample 2, compressorName 32 (length byte and
// 31 bytes), depth 2, ctabId 2; then "fiel" (count 1, ordering 1) when the
// description has fields.
void QuicktimeSTSDTable::writeVideo(QuicktimeFile* file, MovFile& movie) {
    writeInt16s(movie, {version, revision});
    movie.writeChar32(vendor);
    writeInt32s(movie, {temporalQuality, spatialQuality});
    writeInt16s(movie, {width, height});
    movie.writeFixed32(dpiHorizontal);
    movie.writeFixed32(dpiVertical);
    movie.writeInt32(dataSize);
    movie.writeInt16(framesPerSample);
    // The name field is fixed at 32 bytes whatever the name's length, so
    // the text is copied as the record holds it, zeros included.
    movie.writeChar(static_cast<int>(strnlen(compressorName, 31)));
    movie.writeInto(31, compressorName);
    movie.writeInt16(depth);
    movie.writeInt16(ctabId);
    if (fields != 0) {
        QuicktimeAtom fiel;
        fiel.writeHeader(file, "fiel", movie);
        movie.writeChar(fields);
        movie.writeChar(fieldDominance);
        fiel.writeFooter(file, movie);
    }
}

// Sound part (26 bytes): version 2, revision 2, vendor 4, channels 2,
// sampleSize 2, compressionId 2, packetSize 2, sampleRate 2 (the integer
// rate, low 16 bits), samplesPerPacket 2, bytesPerPacket 2, bytesPerFrame 2,
// bytesPerSample 2. The rate and the zero samples-per-packet field together
// read as a 16.16 rate; readers map the wrapped 88200 and 96000 back.
void QuicktimeSTSDTable::writeAudio(QuicktimeFile*, MovFile& movie) {
    writeInt16s(movie, {version, revision});
    movie.writeChar32(vendor);
    int64_t rate =
        sampleRate >= 0.0f && sampleRate < 4294967296.0f ? static_cast<int64_t>(sampleRate) : 0;
    writeInt16s(movie, {channels, sampleSize, compressionId, packetSize, rate, samplesPerPacket,
                        bytesPerPacket, bytesPerFrame, bytesPerSample});
}
