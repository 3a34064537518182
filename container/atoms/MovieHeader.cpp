// Reading the movie atom, its header, colour table and track list, and the
// new-movie defaults of the movie header and user data.
#include "container/atoms/MovieHeader.h"

#include <cstdlib>
#include <cstring>
#include <new>

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

void QuicktimeMVHD::read(QuicktimeFile*, AtomReader& atom, MovFile&) {
    readVersionAndFlags(atom, &version, &flags);
    readUInt32s(atom, {&creationTime, &modificationTime, &timeScale, &duration});
    atom.fixed32(&preferredRate);
    atom.fixed16(&preferredVolume);
    atom.bytes(reserved, sizeof reserved);
    readMatrix(atom, matrix);
    readUInt32s(atom, {&previewTime, &previewDuration, &posterTime, &selectionTime,
                       &selectionDuration, &currentTime, &nextTrackId});
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

void QuicktimeCTab::read(QuicktimeFile*, AtomReader& atom, MovFile& movie) {
    deleteMe();
    int64_t storedSize;
    if (!atom.u32(&seed) || !atom.u16(&flags) || !atom.u16(&storedSize))
        return;
    const int64_t n = storedSize + 1;
    // Each entry is four 16-bit values; the atom must hold all of them.
    if (!atom.hasRoomFor(static_cast<uint64_t>(n), 8)) {
        atom.fail();
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
        atom.u16(&values[i]);
        atom.u16(&red[i]);
        atom.u16(&green[i]);
        atom.u16(&blue[i]);
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

void QuicktimeMOOV::read(QuicktimeFile* file, AtomReader& atom, MovFile& movie) {
    readChildren(file, atom, movie, 0);
}

void QuicktimeMOOV::readChildren(QuicktimeFile* file, AtomReader& parent, MovFile& movie,
                                 int depth) {
    walkChildren(parent, movie, [&](AtomReader& child) {
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
                child.fail();
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
