// Reading the movie atom, its header, colour table and track list, and the
// new-movie defaults of the movie header and user data.
#include "container/atoms/MovieHeader.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "base/Bounds.h"
#include "container/atoms/AtomRead.h"
#include "container/atoms/Track.h"

const char kQuicktimeCreditText[] = "Encoded with the KEO codec by Ostrel ZU";

namespace {

// cmov inside cmov is legal but pointless; past this depth it is an attack
// on the stack, not a movie.
const int kMaxNesting = 16;

char* copyText(const char* text, int32_t* length) {
    size_t n = std::strlen(text);
    char* copy = static_cast<char*>(std::malloc(n + 1));
    if (!copy) {
        *length = 0;
        return nullptr;
    }
    std::memcpy(copy, text, n + 1);
    *length = static_cast<int32_t>(n);
    return copy;
}

} // namespace

void QuicktimeMVHD::init() {
    std::memset(this, 0, sizeof *this);
    timeScale = 600;
    preferredRate = 1.0f;
    preferredVolume = 0.996094f;
    matrix.init();
    nextTrackId = 1;
}

void QuicktimeMVHD::read(QuicktimeFile*, QuicktimeAtom& atom, MovFile& movie) {
    if (!movie.need(atom.end, 100))
        return;
    version = movie.readChar();
    flags = movie.readInt24();
    creationTime = movie.readInt32();
    modificationTime = movie.readInt32();
    timeScale = movie.readInt32();
    duration = movie.readInt32();
    preferredRate = movie.readFixed32();
    preferredVolume = movie.readFixed16();
    movie.readInto(10, reserved);
    movie.readMatrix(matrix);
    previewTime = movie.readInt32();
    previewDuration = movie.readInt32();
    posterTime = movie.readInt32();
    selectionTime = movie.readInt32();
    selectionDuration = movie.readInt32();
    currentTime = movie.readInt32();
    nextTrackId = movie.readInt32();
}

void QuicktimeUDTA::init() {
    cpy = nullptr;
    cpyLen = 0;
    nam = nullptr;
    namLen = 0;
    inf = copyText(kQuicktimeCreditText, &infLen);
}

void QuicktimeUDTA::deleteMe() {
    std::free(cpy);
    std::free(nam);
    std::free(inf);
    cpy = nam = inf = nullptr;
    cpyLen = namLen = infLen = 0;
}

void QuicktimeCTab::init() {
    seed = 0;
    flags = 0;
    size = 0;
    values = red = green = blue = nullptr;
}

void QuicktimeCTab::read(QuicktimeFile* file, QuicktimeAtom& atom, MovFile& movie) {
    deleteMe();
    if (!movie.need(atom.end, 8))
        return;
    seed = movie.readInt32();
    flags = movie.readInt16();
    int64_t n = static_cast<int64_t>(movie.readInt16()) + 1;
    // Each entry is four 16-bit values; the atom must hold all of them.
    int64_t left = atom.end - movie.position(file);
    if (!keo::entriesFit(static_cast<uint64_t>(n), 8, static_cast<uint64_t>(left))) {
        movie.refuse();
        return;
    }
    values = allocTable<uint16_t>(n, movie);
    red = allocTable<uint16_t>(n, movie);
    green = allocTable<uint16_t>(n, movie);
    blue = allocTable<uint16_t>(n, movie);
    if (movie.stopped())
        return;
    size = n;
    for (int64_t i = 0; i < n; i++) {
        values[i] = static_cast<uint16_t>(movie.readInt16());
        red[i] = static_cast<uint16_t>(movie.readInt16());
        green[i] = static_cast<uint16_t>(movie.readInt16());
        blue[i] = static_cast<uint16_t>(movie.readInt16());
    }
}

void QuicktimeCTab::deleteMe() {
    std::free(values);
    std::free(red);
    std::free(green);
    std::free(blue);
    values = red = green = blue = nullptr;
    size = 0;
}

void QuicktimeMOOV::init() {
    totalTracks = 0;
    for (QuicktimeTrak*& t : trak)
        t = nullptr;
    mvhd.init();
    udta.init();
    ctab.init();
}

void QuicktimeMOOV::read(QuicktimeFile* file, QuicktimeAtom& atom, MovFile& movie) {
    readChildren(file, atom, movie, 0);
}

void QuicktimeMOOV::readChildren(QuicktimeFile* file, QuicktimeAtom& parent, MovFile& movie,
                                 int depth) {
    walkChildren(file, parent, movie, [&](QuicktimeAtom& child) {
        if (child.is("mvhd")) {
            mvhd.read(file, child, movie);
        } else if (child.is("trak")) {
            if (totalTracks >= kQuicktimeMaxTracks)
                return; // tracks after the 1024th are ignored
            QuicktimeTrak* track = addTrak();
            if (!track) {
                movie.refuse();
                return;
            }
            track->read(file, child, movie);
        } else if (child.is("ctab")) {
            ctab.read(file, child, movie);
        } else if (child.is("cmov")) {
            if (depth + 1 > kMaxNesting) {
                movie.refuse();
                return;
            }
            readChildren(file, child, movie, depth + 1);
        }
        // udta, clip and everything else: skipped by the walk.
    });
}

QuicktimeTrak* QuicktimeMOOV::addTrak() {
    if (totalTracks >= kQuicktimeMaxTracks)
        return nullptr;
    QuicktimeTrak* track = new (std::nothrow) QuicktimeTrak();
    if (!track)
        return nullptr;
    track->tkhd.init();
    track->mdia.init();
    trak[totalTracks++] = track;
    return track;
}

void QuicktimeMOOV::deleteTrak() {
    if (totalTracks <= 0)
        return;
    QuicktimeTrak*& track = trak[--totalTracks];
    if (track) {
        track->deleteMe();
        delete track;
        track = nullptr;
    }
}

void QuicktimeMOOV::deleteMe() {
    while (totalTracks > 0)
        deleteTrak();
    udta.deleteMe();
    ctab.deleteMe();
}
