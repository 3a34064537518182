// The writing side of MovFile. A new movie is a 64-bit mdat at offset 0 to
// which chunks are appended back to back, each holding one video frame or
// one block of audio samples, and a moov that close writes after them.
//
// Every chunk is pushed to the file and checked before it enters the
// tables, so the tables only ever refer to bytes that reached the file.
// Once a chunk fails (a write error, a table that cannot grow, a frame too
// large for its 32-bit size field) the movie is failed: prepare calls return
// null and no later chunk is entered. close still writes the movie atom for
// the chunks that succeeded, straight after the last of them (over the
// failed chunk's bytes, never over a chunk the tables refer to), and
// reports the failure.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cstdio>
#include <cstdlib>

#include "base/Bounds.h"
#include "container/MovFile.h"
#include "container/QuicktimeFile.h"
#include "container/atoms/SampleDescription.h"

namespace {

enum ChunkKind { kNoChunk = 0, kVideoChunk = 1, kAudioChunk = 2 };

// Width and height go into 16-bit fields; every rate that fits is stored
// exactly (QuicktimeMVHD::getTimeBase).
bool validVideo(int width, int height, keo::FrameRate rate) {
    return width > 0 && width <= 65535 && height > 0 && height <= 65535 && keo::rateFitsMovie(rate);
}

// The sample widths the audio reader can take apart, and the rates the
// description's 16-bit rate field carries (QuicktimeSoundRateFits).
bool validAudio(int channels, int sampleRate, int bits) {
    return channels > 0 && channels <= 65535 && QuicktimeSoundRateFits(sampleRate) &&
           (bits == 8 || bits == 16 || bits == 24 || bits == 32);
}

// Room for the movie atom: none, or two halves that each hold a movie atom
// of a few KB at least, in a free atom whose size has 32 bits.
bool validRoom(int64_t room) {
    return room == 0 || (room >= kMinHeaderRoom && room <= 0xFFFFFFFELL && room % 2 == 0);
}

// Ends the file at `length`, dropping the bytes of chunks that no table
// refers to so that they are never read as atoms.
bool truncateAt(QuicktimeFile* f, int64_t length) {
    FILE* s = f->fp->stream;
    if (std::fflush(s) != 0)
        return false;
    // A device has no length to cut: what lies past the movie atom there is
    // the device's own. Nor has a stream without a descriptor, whose bytes
    // go wherever its maker sends them; its maker never takes frames back.
    struct stat st;
    if (fileno(s) < 0 || (fstat(fileno(s), &st) == 0 && !S_ISREG(st.st_mode)))
        return true;
    return ftruncate(fileno(s), static_cast<off_t>(length)) == 0;
}

template <typename Map> bool growMaps(Map*& maps, int32_t count, int extra) {
    size_t n = static_cast<size_t>(count) + static_cast<size_t>(extra);
    Map* grown = static_cast<Map*>(std::realloc(maps, n * sizeof(Map)));
    if (!grown)
        return false;
    maps = grown;
    return true;
}

char kSowt[] = "sowt";

} // namespace

QuicktimeFile* MovFile::openWrite(char const* path, char* compressor, int width, int height,
                                  keo::FrameRate rate, int hasVideo, int hasAudio, int sampleRate,
                                  int channels, int bits) {
    // Arguments are checked before the file is touched, so a bad call
    // truncates nothing.
    if (!path || (hasVideo && !validVideo(width, height, rate)) ||
        (hasAudio && !validAudio(channels, sampleRate, bits)) || !validRoom(headerRoom))
        return nullptr;
    writeErrno = 0;
    errno = 0;
    return startMovie(open(path, 0, 1, nullptr), compressor, width, height, rate, hasVideo,
                      hasAudio, sampleRate, channels, bits);
}

QuicktimeFile* MovFile::openWrite(LargeFp* stream, char* compressor, int width, int height,
                                  keo::FrameRate rate, int hasVideo, int hasAudio, int sampleRate,
                                  int channels, int bits) {
    if (!stream || !stream->stream || (hasVideo && !validVideo(width, height, rate)) ||
        (hasAudio && !validAudio(channels, sampleRate, bits)) || !validRoom(headerRoom)) {
        fclose_L(stream);
        delete stream;
        return nullptr;
    }
    writeErrno = 0;
    errno = 0;
    return startMovie(openOver(stream), compressor, width, height, rate, hasVideo, hasAudio,
                      sampleRate, channels, bits);
}

QuicktimeFile* MovFile::startMovie(QuicktimeFile* f, char* compressor, int width, int height,
                                   keo::FrameRate rate, int hasVideo, int hasAudio, int sampleRate,
                                   int channels, int bits) {
    if (!f) {
        noteWriteError();
        return nullptr;
    }
    resetWriteState();
    mediaEnd = position(f);
    // A file that cannot be created, or cannot even take the mdat header,
    // is reported here rather than by an empty movie at close.
    bool ready = f->fp && f->fp->stream && flushWrites() && mediaEnd == headerRoom + 16;
    f->moov.mvhd.nextTrackId = 1;
    if (ready && hasVideo)
        ready = setVideo(1, width, height, rate, compressor) == 0;
    if (ready && hasAudio)
        ready = setAudio(1, channels, sampleRate, bits, kSowt) == 0;
    if (!ready) {
        noteWriteError();
        abandonWrite();
        return nullptr;
    }
    return f;
}

void MovFile::abandonWrite() {
    if (!file || !file->wr)
        return;
    // The writer's close must not run: it would write a movie atom.
    fileClose();
    deleteAll();
    delete file;
    file = nullptr;
    resetWriteState();
}

int MovFile::setVideo(int tracks, int width, int height, keo::FrameRate rate, char* compressor) {
    if (tracks == 0)
        return 0;
    QuicktimeFile* f = file;
    if (!f || !f->wr || tracks < 0 || tracks > kQuicktimeMaxTracks - f->moov.totalTracks ||
        !validVideo(width, height, rate) || !growMaps(f->videoMaps, f->totalVideoTracks, tracks))
        return 1;
    f->moov.mvhd.timeScale = QuicktimeMVHD::getTimeBase(rate).timeScale;
    for (int i = 0; i < tracks; i++) {
        QuicktimeTrak* t = f->moov.addTrak();
        if (!t)
            return 1;
        if (t->initVideo(f, width, height, rate, compressor) != 0) {
            f->moov.deleteTrak();
            return 1;
        }
        t->tkhd.trackId = static_cast<int32_t>(f->moov.mvhd.nextTrackId++);
        f->videoMaps[f->totalVideoTracks++].init(t);
    }
    return 0;
}

int MovFile::setAudio(int tracks, int channels, int sampleRate, int bits, char* compressor) {
    if (tracks == 0)
        return 0;
    QuicktimeFile* f = file;
    if (!f || !f->wr || tracks < 0 || tracks > kQuicktimeMaxTracks - f->moov.totalTracks ||
        !validAudio(channels, sampleRate, bits) ||
        !growMaps(f->audioMaps, f->totalAudioTracks, tracks))
        return 1;
    for (int i = 0; i < tracks; i++) {
        QuicktimeTrak* t = f->moov.addTrak();
        if (!t)
            return 1;
        if (t->initAudio(f, channels, sampleRate, bits, compressor) != 0) {
            f->moov.deleteTrak();
            return 1;
        }
        t->tkhd.trackId = static_cast<int32_t>(f->moov.mvhd.nextTrackId++);
        t->tkhd.volume = 1.0f;
        f->audioMaps[f->totalAudioTracks++].init(t);
    }
    return 0;
}

void MovFile::noteWriteError() {
    if (writeErrno == 0)
        writeErrno = errno;
}

void MovFile::resetWriteState() {
    openChunk = kNoChunk;
    lastChunk = kNoChunk;
    mediaEnd = 0;
    writeFailed = false;
}

bool MovFile::canBeginChunk() const {
    return file && file->wr && file->fp && file->fp->stream && !writeFailed &&
           openChunk == kNoChunk;
}

int MovFile::finishChunk(QuicktimeTrak* track, int64_t chunk, QuicktimeAtom& atom, int samples,
                         int64_t expectedBytes) {
    bool whole = flushWrites();
    chunkEnd = position(file);
    // Only the caller knows how much it meant to write; where it says so, a
    // chunk of another length did not go as intended.
    if (whole && expectedBytes >= 0 && chunkEnd - atom.start != expectedBytes)
        whole = false;
    if (!whole || track->writeChunkFooter(file, chunk, atom, samples, *this) != 0) {
        noteWriteError();
        writeFailed = true;
        return 1;
    }
    mediaEnd = chunkEnd;
    return 0;
}

LargeFp* MovFile::prepareToWriteFrame(int) {
    if (!canBeginChunk() || file->totalVideoTracks <= 0)
        return nullptr;
    file->videoMaps[0].track->writeChunkHeader(file, chunkAtom, *this);
    chunkStart = chunkAtom.start;
    openChunk = kVideoChunk;
    lastChunk = kVideoChunk;
    return file->fp;
}

int MovFile::endWriteFrame() {
    if (!file || openChunk != kVideoChunk)
        return 1;
    openChunk = kNoChunk;
    QuicktimeVideoMap& map = file->videoMaps[0];
    if (finishChunk(map.track, map.currentChunk, chunkAtom, 1, -1) != 0)
        return 1;
    map.currentPosition++;
    map.currentChunk++;
    return 0;
}

int MovFile::writeFrame(int, int length, unsigned char* data) {
    if (!canBeginChunk() || file->totalVideoTracks <= 0 || length < 0 || (length > 0 && !data))
        return 1;
    QuicktimeVideoMap& map = file->videoMaps[0];
    QuicktimeAtom chunk;
    map.track->writeChunkHeader(file, chunk, *this);
    // Kept like a prepared chunk's, so that undo takes this frame back.
    chunkStart = chunk.start;
    lastChunk = kVideoChunk;
    if (length > 0 && writeInto(length, data) != length) {
        noteWriteError();
        writeFailed = true;
        return 1;
    }
    if (finishChunk(map.track, map.currentChunk, chunk, 1, length) != 0)
        return 1;
    map.currentPosition++;
    map.currentChunk++;
    return 0;
}

int MovFile::undoWriteFrame() {
    if (!file || !file->wr || writeFailed || openChunk == kAudioChunk)
        return 1;
    if (openChunk == kVideoChunk) {
        // A frame begun and not ended is in no table: only its bytes go.
        openChunk = kNoChunk;
        lastChunk = kNoChunk;
        setPosition(file, chunkStart);
        return 0;
    }
    // Only the chunk begun last can be taken back; after an audio block that
    // would cut the audio, and with no frame there is nothing to take.
    if (lastChunk != kVideoChunk || file->totalVideoTracks <= 0 ||
        file->videoMaps[0].currentChunk <= 1)
        return 1;
    QuicktimeVideoMap& map = file->videoMaps[0];
    map.currentPosition--;
    map.currentChunk--;
    // The tables forget the frame too: a movie closed now must neither count
    // it nor point at the bytes that the movie atom will cover.
    QuicktimeSTBL& stbl = map.track->mdia.minf.stbl;
    stbl.stco.totalEntries = map.currentChunk - 1;
    stbl.stsc.totalEntries = map.currentChunk - 1;
    stbl.stsz.totalEntries = map.currentPosition;
    lastChunk = kNoChunk;
    mediaEnd = chunkStart;
    setPosition(file, chunkStart);
    return 0;
}

LargeFp* MovFile::prepareToWriteAudioSample() {
    if (!canBeginChunk() || file->totalAudioTracks <= 0)
        return nullptr;
    file->audioMaps[0].track->writeChunkHeader(file, chunkAtom, *this);
    chunkStart = chunkAtom.start;
    openChunk = kAudioChunk;
    lastChunk = kAudioChunk;
    return file->fp;
}

int MovFile::endWriteAudioSample(int numSamples) {
    if (!file || openChunk != kAudioChunk)
        return 1;
    openChunk = kNoChunk;
    QuicktimeAudioMap& map = file->audioMaps[0];
    // An empty block is no chunk at all: a chunk of no samples would end
    // every later read of the track.
    if (numSamples == 0 && position(file) == chunkStart)
        return 0;
    const QuicktimeSTSDTable* desc = map.track->firstDescription();
    int64_t frameBytes = desc ? static_cast<int64_t>(desc->channels) * desc->sampleSize / 8 : 0;
    int64_t expected;
    if (numSamples <= 0 || !keo::checkedMul(frameBytes, int64_t{numSamples}, &expected)) {
        writeFailed = true;
        return 1;
    }
    if (finishChunk(map.track, map.currentChunk, chunkAtom, numSamples, expected) != 0)
        return 1;
    map.currentPosition++;
    map.currentChunk++;
    return 0;
}

int MovFile::cutAudio(int64_t samples) {
    if (!file || !file->wr || file->totalAudioTracks <= 0 || openChunk != kNoChunk || samples < 0)
        return 1;
    QuicktimeAudioMap& map = file->audioMaps[0];
    QuicktimeSTBL& stbl = map.track->mdia.minf.stbl;
    // While writing, entry i of the sample-to-chunk table is chunk i + 1.
    int64_t first = 0;
    for (int64_t i = 0; i < stbl.stsc.totalEntries; i++) {
        const int64_t n = stbl.stsc.table[i].samples;
        if (first + n < samples || n == 0) {
            first += n;
            continue;
        }
        const int64_t chunks = samples > first ? i + 1 : i;
        if (samples > first)
            stbl.stsc.table[i].samples = samples - first;
        stbl.stsc.totalEntries = chunks;
        stbl.stco.totalEntries = chunks;
        map.currentChunk = chunks + 1;
        map.currentPosition = chunks;
        lastChunk = kNoChunk;
        return 0;
    }
    return 0;
}

int MovFile::setFrameRate(keo::FrameRate rate) {
    if (!file || !file->wr || file->totalVideoTracks <= 0 || !keo::rateFitsMovie(rate))
        return 1;
    const QuicktimeTimeBase base = QuicktimeMVHD::getTimeBase(rate);
    QuicktimeTrak* t = file->videoMaps[0].track;
    if (t->mdia.minf.stbl.stts.initTable() != 0)
        return 1;
    file->moov.mvhd.timeScale = base.timeScale;
    t->mdia.mdhd.timeScale = base.timeScale;
    t->mdia.minf.stbl.stts.table[0].sampleDuration = base.sampleDuration;
    return 0;
}

int MovFile::closeWrite() {
    QuicktimeFile* f = file;
    if (!f || !f->wr || !f->fp || !f->fp->stream)
        return 0;
    FILE* s = f->fp->stream;
    // A chunk begun and never ended, or one that failed, is not part of the
    // movie, and the close says so.
    bool complete = !writeFailed && openChunk == kNoChunk;
    // Right after the mdat header when no chunk was ever entered.
    const int64_t first = headerRoom + 16;
    int64_t end = mediaEnd < first ? first : mediaEnd;
    resetWriteState();
    mediaEnd = end;

    // The movie atom follows the last chunk the tables refer to; what lies
    // beyond it (a frame taken back, a chunk that failed) is cut off first.
    std::clearerr(s);
    bool written = truncateAt(f, end);
    setPosition(f, end);
    // In the room at the start when there is room and it fits there.
    int inRoom = headerRoom > 0 && written ? placeMovieAtomInRoom() : kHeaderRoomFull;
    if (inRoom == 0)
        return complete ? 0 : 1;
    written = written && inRoom == kHeaderRoomFull && f->moov.write(f, *this) == 0 && flushWrites();
    if (!written) {
        noteWriteError();
        // Rather a movie atom missing than one cut short: the file ends with
        // the media data and reads as a movie without tracks.
        std::clearerr(s);
        truncateAt(f, end);
        setPosition(f, end);
    }
    f->mdat.writeFooter(f, *this);
    bool patched = flushWrites();
    // Only now that the movie atom after the media data is complete and
    // reachable does the one in the room go: a reader never finds none.
    if (patched && written && headerRoom > 0)
        hideHeaderRoom();
    patched = patched && flushWrites();
    if (!patched)
        noteWriteError();
    return written && patched && complete ? 0 : 1;
}
