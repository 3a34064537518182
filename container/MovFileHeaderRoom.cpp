// The movie atom at the start of the file, kept up to date while chunks
// still come, so that a recording cut off at any moment (the process
// killed, the power gone) opens with everything up to the last update.
//
// The writer keeps `headerRoom` bytes (R) at offset 0, in front of the
// media data, in two halves: half 1 from byte 8 to R/2, half 2 from R/2 to
// R. A movie atom goes into the half that no reader sees, with a free atom
// after it that reaches to R; then the one 8-byte header at offset 0 shows
// it and hides the other half:
//
//   bytes 0..8       a reader walks
//   free, size R     free(R), mdat                         (no movie atom yet)
//   free, size 8     free(8), moov(half 1), free(to R), mdat
//   free, size R/2   free(R/2), moov(half 2), free(to R), mdat
//
// While half 1 is shown, half 2 lies inside the free atom after it; while
// half 2 is shown, half 1 lies inside free(R/2). So the movie atom being
// written is never seen, and the switch is one write of 8 bytes: a reader
// finds the old movie atom or the new one, whole, never a mix. The media
// data's size is set to cover every chunk the new atom names before the
// switch; chunks written after the last update lie past the media data's
// end, where readers find no atom they know and stop.
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "base/TempFile.h"
#include "container/MovFile.h"
#include "container/QuicktimeFile.h"
#include "container/atoms/FreeSpace.h"

namespace {

// The movie atom as close would write it now, written into a scratch file
// (the movie's own stream may be one that cannot be read back) and read
// into `out`. The writer's stream and counters are left as they were.
bool renderMovieAtom(MovFile& movie, QuicktimeFile* f, std::vector<unsigned char>* out) {
    const int fd = keo::openUnnamedTemporary();
    FILE* scratch = fd >= 0 ? fdopen(fd, "w+b") : nullptr;
    if (!scratch) {
        if (fd >= 0)
            close(fd);
        return false;
    }
    LargeFp* const stream = f->fp;
    const int64_t last = f->lastPosition, pos = f->filePosition;
    LargeFp scratchFp{fd, scratch};
    f->fp = &scratchFp;
    f->lastPosition = f->filePosition = 0;
    bool ok = f->moov.write(f, movie) == 0 && std::fflush(scratch) == 0 && !std::ferror(scratch);
    f->fp = stream;
    f->lastPosition = last;
    f->filePosition = pos;
    long size = ok && std::fseek(scratch, 0, SEEK_END) == 0 ? std::ftell(scratch) : -1;
    ok = size > 0;
    if (ok) {
        out->resize(static_cast<size_t>(size));
        std::rewind(scratch);
        ok = std::fread(out->data(), 1, out->size(), scratch) == out->size();
    }
    std::fclose(scratch);
    return ok;
}

} // namespace

int MovFile::startMediaData() {
    headerHalf = 0;
    if (headerRoom > 0) {
        QuicktimeFREE room;
        room.init(0, headerRoom);
        if (room.write(file, *this, true) != 0)
            return 1;
    }
    return file->mdat.writeHeader64(file, "mdat", *this);
}

bool MovFile::flushWrites() {
    FILE* s = file && file->fp ? file->fp->stream : nullptr;
    return s && std::fflush(s) == 0 && !std::ferror(s);
}

int MovFile::updateMovieAtom() {
    if (!file || !file->wr || headerRoom <= 0 || writeFailed || openChunk != 0)
        return 1;
    const int placed = flushWrites() ? placeMovieAtomInRoom() : 1;
    if (placed == 1) {
        noteWriteError();
        writeFailed = true;
    }
    return placed;
}

// At the end of the media data: the chunks the tables name are all there.
int MovFile::placeMovieAtomInRoom() {
    QuicktimeFile* f = file;
    const int64_t end = position(f);
    std::vector<unsigned char> atom;
    if (!renderMovieAtom(*this, f, &atom))
        return 1;
    const int64_t half = headerRoom / 2;
    const int64_t size = static_cast<int64_t>(atom.size());
    // Room for the free atom after it, and in half 1 for the one in front.
    if (size > half - 16)
        return kHeaderRoomFull;
    // The media data covers every chunk the new movie atom names.
    f->mdat.writeFooter(f, *this);
    const int next = headerHalf == 1 ? 2 : 1;
    const int64_t at = next == 1 ? 8 : half;
    setPosition(f, at);
    QuicktimeFREE after;
    after.init(at + size, headerRoom - at - size);
    bool ok =
        writeInto(size, atom.data()) == size && after.write(f, *this, false) == 0 && flushWrites();
    // The switch: the header in front shows the new half, hides the old.
    QuicktimeFREE front;
    front.init(0, next == 1 ? 8 : half);
    ok = ok && front.write(f, *this, false) == 0 && flushWrites();
    setPosition(f, end);
    if (!ok)
        return 1;
    headerHalf = next;
    return 0;
}

void MovFile::hideHeaderRoom() {
    const int64_t end = position(file);
    QuicktimeFREE room;
    room.init(0, headerRoom);
    room.write(file, *this, false);
    headerHalf = 0;
    setPosition(file, end);
}
