// The reading side of MovFile: opening a movie, the top-level walk, the
// track maps and the video frame queries.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/Bounds.h"
#include "container/AtomReader.h"
#include "container/MovFile.h"
#include "container/QuicktimeFile.h"

namespace {

int toIntOrZero(int64_t v) {
    return v >= 0 && v <= INT_MAX ? static_cast<int>(v) : 0;
}

int truncateDimension(float f) {
    if (!(f >= 0.0f && f < 2147483648.0f))
        return 0;
    return static_cast<int>(f);
}

void releaseMaps(QuicktimeFile* f) {
    std::free(f->audioMaps);
    std::free(f->videoMaps);
    f->audioMaps = nullptr;
    f->videoMaps = nullptr;
    f->totalAudioTracks = 0;
    f->totalVideoTracks = 0;
}

// One movie at a time: a new open replaces the one before. The movie's
// fresh, zero-filled file record, or null.
QuicktimeFile* startFile(MovFile& movie, int rd, int wr) {
    if (movie.file)
        movie.close();
    movie.ok = true;
    movie.refused = false;
    movie.movieAtomTooLarge = false;
    movie.file = new (std::nothrow) QuicktimeFile();
    if (movie.file) {
        movie.file->moov.init();
        movie.file->rd = rd;
        movie.file->wr = wr;
    }
    return movie.file;
}

// Reads the payload of a top-level movie atom into memory and the movie
// tree from there (container/AtomReader.h says why); the header has just
// been read and its end is inside the file. A movie atom that does not hold
// what its atoms promise, or cannot be read whole, refuses the file.
void readMovieAtom(MovFile& movie, QuicktimeFile* f, const QuicktimeAtom& atom) {
    const int64_t start = movie.position(f);
    const int64_t bytes = atom.end > start ? atom.end - start : 0;
    unsigned char* payload = nullptr;
    if (bytes > 0) {
        payload = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(bytes)));
        if (!payload || movie.readInto(bytes, payload) != bytes) {
            std::free(payload);
            movie.refuse();
            return;
        }
    }
    AtomReader reader(payload, static_cast<size_t>(bytes), start);
    reader.setHeader(atom);
    f->moov.read(f, reader, movie);
    std::free(payload);
    if (!reader.ok())
        movie.refuse();
}

// Reads the movie tree of the file just opened; false when it is refused.
bool readMovie(MovFile& movie) {
    movie.readInfo(movie.file);
    return !movie.stopped();
}

} // namespace

void QuicktimeAudioMap::init(QuicktimeTrak* t) {
    track = t;
    const QuicktimeSTSDTable* desc = t ? t->firstDescription() : nullptr;
    channels = desc ? desc->channels : 0;
    currentPosition = 0;
    currentChunk = 1;
}

MovFile::MovFile()
    : chunkAtom(), chunkStart(0), chunkEnd(0), ok(true), refused(false), file(nullptr), typeText(),
      audioTypeText() {}

LargeFp* MovFile::openRead(char const* path, int64_t minSample) {
    minSampleBytes = minSample;
    QuicktimeFile* f = open(path, 1, 0, nullptr);
    return f ? f->fp : nullptr;
}

LargeFp* MovFile::openReadMemory(const void* data, size_t size, int64_t minSample) {
    minSampleBytes = minSample;
    if (!startFile(*this, 1, 0))
        return nullptr;
    file->fp = fmemopen_L(data, size);
    file->fileSize = static_cast<int64_t>(size);
    if (!file->fp->stream || !readMovie(*this)) {
        close();
        return nullptr;
    }
    return file->fp;
}

QuicktimeFile* MovFile::open(const char* path, int rd, int wr, const char*) {
    if (!startFile(*this, rd, wr))
        return nullptr;
    if (fileOpen(file, path, rd, wr) != 0 || (rd && !readMovie(*this))) {
        close();
        return nullptr;
    }
    if (wr)
        startMediaData();
    return file;
}

QuicktimeFile* MovFile::openOver(LargeFp* fp) {
    if (!startFile(*this, 0, 1)) {
        fclose_L(fp);
        delete fp;
        return nullptr;
    }
    file->fp = fp;
    startMediaData();
    return file;
}

int MovFile::fileOpen(QuicktimeFile* f, const char* path, int rd, int wr) {
    LargeFp* probe = fopen_L(path, "rb");
    bool exists = probe->fd != 0;
    fclose_L(probe);
    delete probe;
    if (rd && !exists)
        return 1;
    const char* mode = rd && wr ? (exists ? "rb+" : "wb+") : (rd ? "rb" : "wb");
    f->fp = fopen_L(path, mode);
    // The probe proved nothing about this open; a reader needs it to work.
    if (rd && !f->fp->stream)
        return 1;
    if (rd && exists)
        f->fileSize = fileSize(path);
    return 0;
}

int MovFile::readInfo(QuicktimeFile* f) {
    int64_t saved = ftell_L(f->fp);
    f->lastPosition = saved;
    setPosition(f, 0);
    f->hasMovieAtom = false;
    int64_t movieBytes = 0; // of every movie atom so far
    for (int64_t pos = position(f); pos < f->fileSize && f->fileSize - pos >= 8;
         pos = position(f)) {
        QuicktimeAtom atom;
        if (atom.readHeader(f, *this) != 0)
            break;
        // Nothing at the top level reaches past the end of the file.
        if (atom.end > f->fileSize) {
            atom.end = f->fileSize;
            atom.size = atom.end - atom.start;
        }
        if (atom.is("mdat")) {
            f->mdat.start = atom.start;
            f->mdat.size = atom.size;
            f->mdat.end = atom.end;
        } else if (atom.is("moov")) {
            f->hasMovieAtom = true;
            movieBytes += atom.end - atom.start;
            if (movieBytes > kMaxMovieAtomBytes) {
                movieAtomTooLarge = true;
                refuse();
                return 0;
            }
            readMovieAtom(*this, f, atom);
            if (stopped())
                return 0;
        }
        // Every step moves forward, however small or odd the atom's size.
        atomSkip(f, atom);
    }
    setPosition(f, saved);
    if (f->hasMovieAtom)
        initMaps(f);
    // A movie being written has no index: its frames are still coming.
    if (!f->wr && f->totalVideoTracks > 0 &&
        f->frameIndex.build(f, *f->videoMaps[0].track, minSampleBytes) != 0)
        refuse();
    return 0;
}

int MovFile::initMaps(QuicktimeFile* f) {
    releaseMaps(f);
    QuicktimeMOOV& moov = f->moov;
    int audio = 0;
    int video = 0;
    for (int64_t i = 0; i < moov.totalTracks; i++) {
        audio += moov.trak[i]->mdia.minf.isAudio ? 1 : 0;
        video += moov.trak[i]->mdia.minf.isVideo ? 1 : 0;
    }
    if (audio > 0)
        f->audioMaps =
            static_cast<QuicktimeAudioMap*>(std::calloc(audio, sizeof(QuicktimeAudioMap)));
    if (video > 0)
        f->videoMaps =
            static_cast<QuicktimeVideoMap*>(std::calloc(video, sizeof(QuicktimeVideoMap)));
    if ((audio > 0 && !f->audioMaps) || (video > 0 && !f->videoMaps)) {
        releaseMaps(f);
        return 1;
    }
    for (int64_t i = 0; i < moov.totalTracks; i++) {
        QuicktimeTrak* t = moov.trak[i];
        if (t->mdia.minf.isAudio)
            f->audioMaps[f->totalAudioTracks++].init(t);
        if (t->mdia.minf.isVideo)
            f->videoMaps[f->totalVideoTracks++].init(t);
    }
    return 0;
}

int MovFile::close() {
    if (!file)
        return 0;
    // A file open for writing gets its movie atom from the writer here.
    int result = file->wr ? closeWrite() : 0;
    fileClose();
    deleteAll();
    keo::release(file->sampleBytes);
    keo::release(file->decodeScratch);
    delete file;
    file = nullptr;
    return result;
}

void MovFile::fileClose() {
    if (!file || !file->fp)
        return;
    fclose_L(file->fp);
    delete file->fp;
    file->fp = nullptr;
}

void MovFile::deleteAll() {
    if (!file)
        return;
    releaseMaps(file);
    file->frameIndex.deleteMe();
    file->moov.deleteMe();
}

void MovFile::init() {
    if (!file)
        return;
    file->moov.deleteMe();
    file->moov.init();
}

bool MovFile::frameBuffers(keo::ByteBuffer** sample, keo::ByteBuffer** scratch) {
    if (!file)
        return false;
    *sample = &file->sampleBytes;
    *scratch = &file->decodeScratch;
    return true;
}

QuicktimeTrak* MovFile::firstVideoTrack() const {
    return file && file->totalVideoTracks > 0 ? file->videoMaps[0].track : nullptr;
}

const QuicktimeSTSDTable* MovFile::firstVideoDescription() const {
    QuicktimeTrak* t = firstVideoTrack();
    return t ? t->firstDescription() : nullptr;
}

bool MovFile::locateFrame(int64_t frame, int64_t* offset, int64_t* size, int64_t* chunk) const {
    return file && file->frameIndex.locate(frame, offset, size, chunk);
}

int MovFile::nFrames() const {
    QuicktimeTrak* t = firstVideoTrack();
    if (!t)
        return 0;
    int64_t n = t->mdia.minf.stbl.stsz.totalEntries;
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

int MovFile::frameSize(int frame) const {
    int64_t offset, size, chunk;
    return locateFrame(frame, &offset, &size, &chunk) ? static_cast<int>(size) : 0;
}

void MovFile::frameSize(int& width, int& height) const {
    QuicktimeTrak* t = firstVideoTrack();
    width = t ? truncateDimension(t->tkhd.trackWidth) : 0;
    height = t ? truncateDimension(t->tkhd.trackHeight) : 0;
}

int MovFile::frameBitDepth() const {
    const QuicktimeSTSDTable* desc = firstVideoDescription();
    return desc ? desc->depth : 0;
}

const char* MovFile::frameType() {
    const QuicktimeSTSDTable* desc = firstVideoDescription();
    typeText[0] = 0;
    if (desc)
        desc->formatText(typeText);
    return typeText;
}

void MovFile::frameRate(int& numerator, int& denominator) const {
    QuicktimeTrak* t = firstVideoTrack();
    numerator = 0;
    denominator = 0;
    if (!t)
        return;
    numerator = toIntOrZero(t->mdia.mdhd.timeScale);
    const QuicktimeSTTS& stts = t->mdia.minf.stbl.stts;
    if (stts.totalEntries > 0 && stts.table)
        denominator = toIntOrZero(stts.table[0].sampleDuration);
}

float MovFile::frameRate() const {
    int numerator, denominator;
    frameRate(numerator, denominator);
    if (numerator == 0 || denominator == 0)
        return 0.0f;
    return static_cast<float>(numerator) / static_cast<float>(denominator);
}

long long MovFile::frameOffset(long long frame) {
    int64_t offset, size, chunk;
    if (!locateFrame(frame, &offset, &size, &chunk))
        return -1;
    file->videoMaps[0].currentPosition = frame;
    file->videoMaps[0].currentChunk = chunk;
    return offset;
}

int MovFile::setVideoPosition(QuicktimeFile* f, long long frame, int track) {
    if (!f || f->totalVideoTracks <= 0)
        return 0;
    if (track >= f->totalVideoTracks || track < 0)
        track = f->totalVideoTracks - 1;
    QuicktimeVideoMap& map = f->videoMaps[track];
    int64_t first, chunk;
    map.track->chunkOfSample(f, &first, &chunk, frame);
    int64_t offset = map.track->sampleToOffset(f, frame);
    if (offset < 0)
        return 0; // nowhere to go: the stream stays where it is
    map.currentPosition = frame;
    map.currentChunk = chunk;
    setPosition(f, offset);
    return 0;
}

int MovFile::readFrame(long long frame, unsigned char* buffer) {
    int64_t offset, size, chunk;
    if (!buffer || !locateFrame(frame, &offset, &size, &chunk))
        return 0;
    file->videoMaps[0].currentPosition = frame;
    file->videoMaps[0].currentChunk = chunk;
    setPosition(file, offset);
    readInto(size, buffer);
    return static_cast<int>(size);
}

int MovFile::videoTracks(QuicktimeFile* f) const {
    if (!f)
        return 0;
    int n = 0;
    for (int64_t i = 0; i < f->moov.totalTracks; i++)
        n += f->moov.trak[i]->mdia.minf.isVideo ? 1 : 0;
    return n;
}

int64_t MovFile::fileLength() const {
    return file && file->rd ? file->fileSize : 0;
}
