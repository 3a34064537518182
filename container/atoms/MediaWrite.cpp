// Writing the media atom and the media information below it, and turning a
// new track's media into a video or a sound medium.
#include <cstdlib>
#include <cstring>

#include "container/MovFile.h"
#include "container/QuicktimeFile.h"
#include "container/atoms/AtomWrite.h"
#include "container/atoms/Media.h"

void QuicktimeMDHD::initVideo(QuicktimeFile*, int, int, keo::FrameRate rate) {
    timeScale = QuicktimeMVHD::getTimeBase(rate).timeScale;
    duration = 0;
}

void QuicktimeMDHD::initAudio(QuicktimeFile*, int sampleRate) {
    // One tick per sample frame, so every sound sample lasts 1.
    timeScale = sampleRate;
    duration = 0;
}

// mdhd (32 bytes): version 1, flags 3, creationTime 4, modificationTime 4,
// timeScale 4, duration 4, language 2, quality 2
void QuicktimeMDHD::write(QuicktimeFile* file, MovFile& movie) {
    QuicktimeAtom atom;
    writeFullAtomHeader(atom, file, "mdhd", version, flags, movie);
    writeInt32s(movie, {creationTime, modificationTime, timeScale, duration});
    writeInt16s(movie, {language, quality});
    atom.writeFooter(file, movie);
}

void QuicktimeHDLR::initVideo() {
    std::memcpy(componentSubtype, "vide", 4);
    std::strcpy(componentName, "ZU Video Media Handler");
}

void QuicktimeHDLR::initAudio() {
    std::memcpy(componentSubtype, "soun", 4);
    std::strcpy(componentName, "ZU Audio Media Handler");
}

// hdlr: version 1, flags 3, componentType 4, componentSubtype 4,
// componentManufacturer 4, componentFlags 4, componentFlagsMask 4,
// componentName (Pascal string)
void QuicktimeHDLR::write(QuicktimeFile* file, MovFile& movie) {
    QuicktimeAtom atom;
    writeFullAtomHeader(atom, file, "hdlr", version, flags, movie);
    movie.writeChar32(componentType);
    movie.writeChar32(componentSubtype);
    writeInt32s(movie, {componentManufacturer, componentFlags, componentFlagsMask});
    movie.writePascal(componentName);
    atom.writeFooter(file, movie);
}

void QuicktimeVMHD::initVideo() {
    // The defaults of init are what a video medium needs.
}

// vmhd (20 bytes): version 1, flags 3, graphicsMode 2, opcolor 3 x 2
void QuicktimeVMHD::write(QuicktimeFile* file, MovFile& movie) {
    QuicktimeAtom atom;
    writeFullAtomHeader(atom, file, "vmhd", version, flags, movie);
    movie.writeInt16(graphicsMode);
    for (int32_t c : opcolor)
        movie.writeInt16(c);
    atom.writeFooter(file, movie);
}

// smhd (16 bytes): version 1, flags 3, balance 2, reserved 2
void QuicktimeSMHD::write(QuicktimeFile* file, MovFile& movie) {
    QuicktimeAtom atom;
    writeFullAtomHeader(atom, file, "smhd", version, flags, movie);
    writeInt16s(movie, {balance, reserved});
    atom.writeFooter(file, movie);
}

// One data reference: size 4 (12 + data), type 4, version 1, flags 3, then
// the data without terminator. Flags 1 says the media is in this file.
void QuicktimeDRefTable::write(QuicktimeFile*, MovFile& movie) {
    int64_t length = dataReference ? static_cast<int64_t>(std::strlen(dataReference)) : 0;
    movie.writeInt32(12 + length);
    movie.writeChar32(type);
    movie.writeChar(version);
    movie.writeInt24(flags);
    movie.writeInto(length, dataReference);
}

int QuicktimeDRef::initAll() {
    if (totalEntries > 0 && table)
        return 0;
    table = static_cast<QuicktimeDRefTable*>(std::calloc(1, sizeof(QuicktimeDRefTable)));
    if (!table)
        return 1;
    table[0].init();
    table[0].size = 12;
    totalEntries = 1;
    return 0;
}

// dref: version 1, flags 3, count 4, then the entries
void QuicktimeDRef::write(QuicktimeFile* file, MovFile& movie) {
    QuicktimeAtom atom;
    writeFullAtomHeader(atom, file, "dref", version, flags, movie);
    writeTable(movie, totalEntries, table,
               [&](QuicktimeDRefTable& entry) { entry.write(file, movie); });
    atom.writeFooter(file, movie);
}

int QuicktimeDInf::initAll() {
    return dref.initAll();
}

// dinf holds only dref.
void QuicktimeDInf::write(QuicktimeFile* file, MovFile& movie) {
    QuicktimeAtom atom;
    atom.writeHeader(file, "dinf", movie);
    dref.write(file, movie);
    atom.writeFooter(file, movie);
}

int QuicktimeMInf::initVideo(QuicktimeFile* file, int width, int height, keo::FrameRate rate,
                             char* compressor) {
    isVideo = 1;
    vmhd.initVideo();
    hdlr.initVideo();
    return stbl.initVideo(file, width, height, rate, compressor) != 0 || dinf.initAll() != 0;
}

int QuicktimeMInf::initAudio(QuicktimeFile* file, int channels, int sampleRate, int bits,
                             char* compressor) {
    isAudio = 1;
    smhd.init();
    hdlr.initAudio();
    return stbl.initAudio(file, channels, sampleRate, bits, compressor) != 0 || dinf.initAll() != 0;
}

// minf holds [smhd] [vmhd] hdlr dinf stbl; the media header says the kind.
void QuicktimeMInf::write(QuicktimeFile* file, MovFile& movie) {
    QuicktimeAtom atom;
    atom.writeHeader(file, "minf", movie);
    if (isAudio)
        smhd.write(file, movie);
    if (isVideo)
        vmhd.write(file, movie);
    hdlr.write(file, movie);
    dinf.write(file, movie);
    stbl.write(file, *this, movie);
    atom.writeFooter(file, movie);
}

int QuicktimeMdia::initVideo(QuicktimeFile* file, int width, int height, keo::FrameRate rate,
                             char* compressor) {
    mdhd.initVideo(file, width, height, rate);
    hdlr.initVideo();
    return minf.initVideo(file, width, height, rate, compressor);
}

int QuicktimeMdia::initAudio(QuicktimeFile* file, int channels, int sampleRate, int bits,
                             char* compressor) {
    mdhd.initAudio(file, sampleRate);
    hdlr.initAudio();
    return minf.initAudio(file, channels, sampleRate, bits, compressor);
}

// mdia holds mdhd, hdlr (the media handler) and minf.
void QuicktimeMdia::write(QuicktimeFile* file, MovFile& movie) {
    QuicktimeAtom atom;
    atom.writeHeader(file, "mdia", movie);
    mdhd.write(file, movie);
    hdlr.write(file, movie);
    minf.write(file, movie);
    atom.writeFooter(file, movie);
}
