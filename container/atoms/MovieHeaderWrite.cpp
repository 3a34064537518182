// Writing the movie atom: the movie header, the user data texts and every
// track, after the counts and durations that close fixes.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/Bounds.h"
#include "container/MovFile.h"
#include "container/QuicktimeFile.h"
#include "container/atoms/AtomWrite.h"
#include "container/atoms/MovieHeader.h"
#include "container/atoms/Track.h"

namespace {

const int64_t kMax32 = 0xFFFFFFFFLL;
// A time scale or sample duration above this reads back as no rate.
const int64_t kMaxInt32 = 0x7FFFFFFFLL;

// An upper bound of the bytes a track's atom takes: a generous fixed part
// for the headers, names and descriptions, plus every table entry.
bool addTrackBytes(const QuicktimeTrak& t, uint64_t* total) {
    const QuicktimeSTBL& s = t.mdia.minf.stbl;
    const struct {
        int64_t count;
        uint64_t size;
    } tables[] = {
        {s.stts.totalEntries, 8},
        {s.stss.totalEntries, 4},
        {s.stsc.totalEntries, 12},
        {s.stsz.sampleSize == 0 ? s.stsz.totalEntries : 0, 4},
        {s.stco.totalEntries, 8},
        {t.edts.elst.totalEntries, 12},
        {t.mdia.minf.dinf.dref.totalEntries, 12 + 256},
        {s.stsd.totalEntries, 256},
    };
    uint64_t bytes = 4096;
    for (const auto& table : tables) {
        uint64_t part;
        if (table.count < 0 ||
            !keo::checkedMul(static_cast<uint64_t>(table.count), table.size, &part) ||
            !keo::checkedAdd(bytes, part, &bytes))
            return false;
    }
    return keo::checkedAdd(*total, bytes, total);
}

// The time scale of the rule movies were first written by: 600 for a whole
// rate that divides it, other whole rates in hundredths, anything else in
// 1001ths. Kept in its own double arithmetic, so it picks what it always did.
int64_t firstRuleScale(double fps) {
    bool whole = fps == std::floor(fps);
    if (whole && 600.0 / fps == std::floor(600.0 / fps))
        return 600;
    return static_cast<int64_t>(whole ? fps * 100.0 + 0.5 : fps * 1001.0 + 0.5);
}

// That rule's pair, or {0, 0} where it does not hold the rate exactly. It
// took the media's scale and duration from the rate in single precision and
// the movie's scale from the double, so it counts only where the two agree.
// It holds the whole rates below 671089 and the usual 1001-based ones
// exactly (25 as 600/24, 30000/1001 as 30000/1001), and no other: 12.5 came
// out as 12513/1001 (12.5005 frames per second), 39000/1001 as 39000/1000,
// 700000 as 70000000/99.
QuicktimeTimeBase firstRule(keo::FrameRate rate) {
    const double fps = static_cast<double>(rate.num) / rate.den;
    const float single = static_cast<float>(fps);
    const int64_t scale = firstRuleScale(fps);
    if (firstRuleScale(single) != scale)
        return {0, 0};
    const float duration = static_cast<float>(scale) / single;
    if (!(duration >= 1.0f && duration <= static_cast<float>(kMaxInt32)))
        return {0, 0};
    const int64_t units = static_cast<int64_t>(duration);
    if (scale > kMaxInt32 || units > kMaxInt32 ||
        static_cast<__int128>(scale) * rate.den != static_cast<__int128>(units) * rate.num)
        return {0, 0};
    return {scale, units};
}

} // namespace

QuicktimeTimeBase QuicktimeMVHD::getTimeBase(keo::FrameRate rate) {
    if (!keo::rateFitsMovie(rate))
        return {0, 0};
    // Where the first rule holds the rate exactly, its pair stays: movies
    // written at those rates keep their bytes.
    const QuicktimeTimeBase first = firstRule(rate);
    if (first.timeScale > 0)
        return first;
    // Elsewhere the rate in lowest terms, both terms times the least factor
    // that takes the scale to 600 or above: 25/2 as 600/48, 25/3 as 600/72,
    // 15/2 as 600/80, 7/3 as 602/258. Exact by construction. At least 600
    // because the movie, track and edit durations count in this scale, and
    // a sound track's length rounded to a twenty-fifth of a second would cut
    // its end; the least factor, so a long movie's durations still fit
    // their 32-bit fields. A denominator too large for the factor keeps a
    // smaller one (down to 1, the rate itself).
    const keo::FrameRate lowest = keo::reduced(rate);
    const int64_t num = lowest.num, den = lowest.den;
    int64_t factor = std::max<int64_t>(1, (600 + num - 1) / num);
    factor = std::min(factor, kMaxInt32 / den);
    return {num * factor, den * factor};
}

// mvhd (108 bytes): version 1, flags 3, creationTime 4, modificationTime 4,
// timeScale 4, duration 4, preferredRate 4 (16.16), preferredVolume 2 (8.8),
// reserved 10, matrix 36, previewTime 4, previewDuration 4, posterTime 4,
// selectionTime 4, selectionDuration 4, currentTime 4, nextTrackId 4
void QuicktimeMVHD::write(QuicktimeFile* file, MovFile& movie) {
    static const char kZeros[10] = {0};
    QuicktimeAtom atom;
    writeFullAtomHeader(atom, file, "mvhd", version, flags, movie);
    writeInt32s(movie, {creationTime, modificationTime, timeScale, duration});
    movie.writeFixed32(preferredRate);
    movie.writeFixed16(preferredVolume);
    movie.writeInto(10, kZeros);
    movie.writeMatrix(matrix);
    writeInt32s(movie, {previewTime, previewDuration, posterTime, selectionTime, selectionDuration,
                        currentTime, nextTrackId});
    atom.writeFooter(file, movie);
}

// One user data text: an atom of type 0xA9 + three letters holding
// text length 2, language code 2 (0), then the text without terminator.
void QuicktimeUDTA::writeString(QuicktimeFile* file, const char* type, const char* text,
                                int32_t length, MovFile& movie) {
    // The length field has 16 bits; a longer text is cut to what it can say.
    int64_t n = std::min<int64_t>(std::min<int64_t>(length, 65535),
                                  static_cast<int64_t>(strnlen(text, 65535)));
    QuicktimeAtom atom;
    atom.writeHeader(file, type, movie);
    movie.writeInt16(n);
    movie.writeInt16(0);
    movie.writeInto(n, text);
    atom.writeFooter(file, movie);
}

// udta holds one atom per text that is set: rights, name, information.
void QuicktimeUDTA::write(QuicktimeFile* file, MovFile& movie) {
    QuicktimeAtom atom;
    atom.writeHeader(file, "udta", movie);
    if (cpy && cpyLen > 0)
        writeString(file,
                    "\xA9"
                    "cpy",
                    cpy, cpyLen, movie);
    if (nam && namLen > 0)
        writeString(file,
                    "\xA9"
                    "nam",
                    nam, namLen, movie);
    if (inf && infLen > 0)
        writeString(file,
                    "\xA9"
                    "inf",
                    inf, infLen, movie);
    atom.writeFooter(file, movie);
}

// moov holds mvhd, udta and the tracks in the order they were added. It is
// written at the current position, which is left unchanged afterwards.
int QuicktimeMOOV::write(QuicktimeFile* file, MovFile& movie) {
    int64_t mediaEnd = movie.position(file);

    // Every count, duration and size is settled before the first byte is
    // written: a movie whose values do not fit their 32-bit fields is
    // reported, never written wrapped.
    if (mvhd.timeScale <= 0 || mvhd.timeScale > kMax32)
        return 1;
    int64_t longest = 0;
    uint64_t bytes = 8 + 108 + 8 + 3 * (12 + 65535);
    for (int64_t i = 0; i < totalTracks; i++) {
        QuicktimeTrak* t = trak[i];
        int64_t mediaDuration;
        int64_t mediaTimeScale;
        if (t->fixCounts(file, movie) != 0 || t->duration(&mediaDuration, &mediaTimeScale) != 0 ||
            mediaDuration > kMax32 || mediaTimeScale > kMax32 || !addTrackBytes(*t, &bytes))
            return 1;
        int64_t inMovieUnits = t->durationInMovieUnits(mvhd.timeScale);
        if (inMovieUnits < 0 || inMovieUnits > kMax32)
            return 1;
        longest = std::max(longest, inMovieUnits);
    }
    if (bytes > static_cast<uint64_t>(kMax32))
        return 1;
    mvhd.duration = longest;
    mvhd.selectionDuration = longest;

    QuicktimeAtom atom;
    atom.writeHeader(file, "moov", movie);
    mvhd.write(file, movie);
    udta.write(file, movie);
    for (int64_t i = 0; i < totalTracks; i++)
        trak[i]->write(file, mvhd.timeScale, movie);
    atom.writeFooter(file, movie);
    movie.setPosition(file, mediaEnd);
    return 0;
}
