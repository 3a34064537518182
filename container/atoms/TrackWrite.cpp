// Writing the track atom, its header and its edit list, and setting a new
// track up as a video or a sound track.
#include <cstdlib>

#include "container/MovFile.h"
#include "container/QuicktimeFile.h"
#include "container/atoms/AtomWrite.h"
#include "container/atoms/Track.h"

void QuicktimeTKHD::initVideo(int width, int height) {
    trackWidth = static_cast<float>(width);
    trackHeight = static_cast<float>(height);
    volume = 0.0f;
}

// tkhd (92 bytes): version 1, flags 3, creationTime 4, modificationTime 4,
// trackId 4, reserved1 4, duration 4, reserved2 8, layer 2,
// alternateGroup 2, volume 2 (8.8), reserved3 2, matrix 36,
// trackWidth 4 (16.16), trackHeight 4 (16.16)
void QuicktimeTKHD::write(QuicktimeFile* file, MovFile& movie) {
    QuicktimeAtom atom;
    writeFullAtomHeader(atom, file, "tkhd", version, flags, movie);
    writeInt32s(movie, {creationTime, modificationTime, trackId, reserved1, duration});
    movie.writeInto(8, reserved2);
    writeInt16s(movie, {layer, alternateGroup});
    movie.writeFixed16(volume);
    movie.writeInt16(reserved3);
    movie.writeMatrix(matrix);
    movie.writeFixed32(trackWidth);
    movie.writeFixed32(trackHeight);
    atom.writeFooter(file, movie);
}

// One edit: duration 4, time 4, rate 4 (16.16). The single edit of a new
// track spans the whole track, so it takes the track's duration.
void QuicktimeELSTTable::write(QuicktimeFile*, long trackDuration, MovFile& movie) {
    duration = trackDuration;
    movie.writeInt32(duration);
    movie.writeInt32(time);
    movie.writeFixed32(rate);
}

int QuicktimeELST::initAll() {
    if (totalEntries > 0 && table)
        return 0;
    table = static_cast<QuicktimeELSTTable*>(std::calloc(1, sizeof(QuicktimeELSTTable)));
    if (!table)
        return 1;
    table[0].init();
    totalEntries = 1;
    return 0;
}

// elst: version 1, flags 3, count 4, then the edits
void QuicktimeELST::write(QuicktimeFile* file, int64_t trackDuration, MovFile& movie) {
    QuicktimeAtom atom;
    writeFullAtomHeader(atom, file, "elst", version, flags, movie);
    writeTable(movie, totalEntries, table, [&](QuicktimeELSTTable& edit) {
        edit.write(file, static_cast<long>(trackDuration), movie);
    });
    atom.writeFooter(file, movie);
}

int QuicktimeEDTS::initTable() {
    return elst.initAll();
}

// edts holds only elst.
void QuicktimeEDTS::write(QuicktimeFile* file, int64_t trackDuration, MovFile& movie) {
    QuicktimeAtom atom;
    atom.writeHeader(file, "edts", movie);
    elst.write(file, trackDuration, movie);
    atom.writeFooter(file, movie);
}

int QuicktimeTrak::initVideo(QuicktimeFile* file, int width, int height, keo::FrameRate rate,
                             char* compressor) {
    tkhd.initVideo(width, height);
    return mdia.initVideo(file, width, height, rate, compressor) != 0 || edts.initTable() != 0;
}

int QuicktimeTrak::initAudio(QuicktimeFile* file, int channels, int sampleRate, int bits,
                             char* compressor) {
    return mdia.initAudio(file, channels, sampleRate, bits, compressor) != 0 ||
           edts.initTable() != 0;
}

int64_t QuicktimeTrak::durationInMovieUnits(int64_t movieTimeScale) const {
    int64_t mediaDuration;
    int64_t mediaTimeScale;
    if (duration(&mediaDuration, &mediaTimeScale) != 0)
        return -1;
    if (mediaDuration == 0)
        return 0;
    if (mediaTimeScale <= 0)
        return -1;
    // Single precision throughout, as KEO movies have always been written:
    // 21 frames of 24 at 600 give 503, one unit short of the exact 504.
    float units = static_cast<float>(movieTimeScale) *
                  (static_cast<float>(mediaDuration) / static_cast<float>(mediaTimeScale));
    if (!(units >= 0.0f && units < 9.2e18f))
        return -1;
    return static_cast<int64_t>(units);
}

// trak holds tkhd, edts and mdia. The media and track durations are
// computed from the time-to-sample table just before they are written.
void QuicktimeTrak::write(QuicktimeFile* file, int64_t movieTimeScale, MovFile& movie) {
    int64_t mediaDuration;
    int64_t mediaTimeScale;
    duration(&mediaDuration, &mediaTimeScale);
    mdia.mdhd.duration = mediaDuration;
    tkhd.duration = durationInMovieUnits(movieTimeScale);

    QuicktimeAtom atom;
    atom.writeHeader(file, "trak", movie);
    tkhd.write(file, movie);
    edts.write(file, tkhd.duration, movie);
    mdia.write(file, movie);
    atom.writeFooter(file, movie);
}
