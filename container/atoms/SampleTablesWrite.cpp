// Writing the sample table atom and its tables, the new-movie set-up of the
// tables, and the way they grow while chunks are written: one entry per
// chunk, stored at its index, with the sample-to-chunk runs merged as the
// table is written.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/Bounds.h"
#include "container/MovFile.h"
#include "container/QuicktimeFile.h"
#include "container/atoms/AtomWrite.h"
#include "container/atoms/Media.h"

namespace {

// Room a new track's chunk tables start with: an hour of video at 25 fps
// fits without a single reallocation.
const int64_t kInitialRoom = 16384;

const int64_t kMax32 = 0xFFFFFFFFLL;

// Resizes `table` to `capacity` entries, zeroing the entries gained; on
// failure the table is left exactly as it was.
template <typename T> bool resize(T*& table, int64_t& allocated, int64_t capacity) {
    uint64_t bytes;
    if (capacity <= 0 || !keo::checkedMul(static_cast<uint64_t>(capacity), sizeof(T), &bytes) ||
        bytes > SIZE_MAX)
        return false;
    // A new table comes zeroed from calloc, which for memory fresh from the
    // system touches none of it: a track's room costs only the pages that
    // its chunks use.
    T* grown = table ? static_cast<T*>(std::realloc(table, static_cast<size_t>(bytes)))
                     : static_cast<T*>(std::calloc(static_cast<size_t>(capacity), sizeof(T)));
    if (!grown)
        return false;
    int64_t kept = table ? std::min(allocated, capacity) : capacity;
    std::memset(grown + kept, 0, static_cast<size_t>(capacity - kept) * sizeof(T));
    table = grown;
    allocated = capacity;
    return true;
}

// Makes `table` hold at least `needed` entries. Growth doubles the count
// asked for, so appending n chunks costs O(log n) reallocations.
template <typename T> bool makeRoom(T*& table, int64_t& allocated, int64_t needed) {
    if (needed <= allocated && table)
        return true;
    int64_t capacity;
    return needed > 0 && keo::checkedMul(needed, int64_t{2}, &capacity) &&
           resize(table, allocated, capacity);
}

// A chunk table of a newly set-up track: empty, with kInitialRoom entries
// of room. A table that already has room is left as it is.
template <typename T> bool startTable(T*& table, int64_t& allocated, int64_t& total) {
    if (allocated > 0 && table)
        return true;
    if (!resize(table, allocated, kInitialRoom))
        return false;
    total = 0;
    return true;
}

} // namespace

int QuicktimeSTTS::initTable() {
    if (totalEntries > 0 && table)
        return 0;
    table = static_cast<QuicktimeSTTSTable*>(std::calloc(1, sizeof(QuicktimeSTTSTable)));
    if (!table)
        return 1;
    totalEntries = 1;
    return 0;
}

int QuicktimeSTTS::initVideo(QuicktimeFile*, keo::FrameRate rate) {
    const int64_t duration = QuicktimeMVHD::getTimeBase(rate).sampleDuration;
    if (duration < 1 || initTable() != 0)
        return 1;
    table[0].sampleCount = 0;
    table[0].sampleDuration = duration;
    return 0;
}

int QuicktimeSTTS::initAudio(QuicktimeFile*) {
    if (initTable() != 0)
        return 1;
    table[0].sampleDuration = 1;
    return 0;
}

// stts: version 1, flags 3, count 4, then (sampleCount 4, sampleDuration 4)
void QuicktimeSTTS::write(QuicktimeFile* file, MovFile& movie) {
    QuicktimeAtom atom;
    writeFullAtomHeader(atom, file, "stts", version, flags, movie);
    writeTable(movie, totalEntries, table, [&](const QuicktimeSTTSTable& entry) {
        writeInt32s(movie, {entry.sampleCount, entry.sampleDuration});
    });
    atom.writeFooter(file, movie);
}

// stss: version 1, flags 3, count 4, then one sample number 4 per entry.
// Without entries every sample is a sync sample, so nothing is written.
void QuicktimeSTSS::write(QuicktimeFile* file, MovFile& movie) {
    if (totalEntries <= 0 || !table)
        return;
    QuicktimeAtom atom;
    writeFullAtomHeader(atom, file, "stss", version, flags, movie);
    writeTable(movie, totalEntries, table, [&](int64_t number) { movie.writeInt32(number); });
    atom.writeFooter(file, movie);
}

int QuicktimeSTSC::initVideo(QuicktimeFile*) {
    if (!startTable(table, entriesAllocated, totalEntries))
        return 1;
    table[0] = QuicktimeSTSCTable{1, 1, 1};
    return 0;
}

int QuicktimeSTSC::initAudio(QuicktimeFile*) {
    if (!startTable(table, entriesAllocated, totalEntries))
        return 1;
    table[0] = QuicktimeSTSCTable{1, 0, 1};
    return 0;
}

int QuicktimeSTSC::update(int64_t chunk, int64_t samples) {
    if (chunk < 1 || samples < 0 || samples > kMax32 || !makeRoom(table, entriesAllocated, chunk))
        return 1;
    table[chunk - 1] = QuicktimeSTSCTable{chunk, samples, 1};
    totalEntries = std::max(totalEntries, chunk);
    return 0;
}

// stsc: version 1, flags 3, count 4, then (first chunk 4, samples per
// chunk 4, description id 4). While writing, the table holds one entry per
// chunk; runs of equal sample counts are merged on the way out and the
// table is left as it is, so that a movie atom written while chunks still
// come (kept up to date at the start of the file) leaves every later chunk
// its entry.
void QuicktimeSTSC::write(QuicktimeFile* file, MovFile& movie) {
    // A table without entries still carries its first one, so that a track
    // without chunks reads as one run.
    const int64_t entries = table ? std::max<int64_t>(totalEntries, 1) : 1;
    auto startsRun = [&](int64_t i) { return i == 0 || table[i].samples != table[i - 1].samples; };
    int64_t runs = 0;
    for (int64_t i = 0; table && i < entries; i++)
        runs += startsRun(i) ? 1 : 0;

    QuicktimeAtom atom;
    writeFullAtomHeader(atom, file, "stsc", version, flags, movie);
    movie.writeInt32(table ? runs : 1);
    for (int64_t i = 0; i < entries; i++) {
        if (table && !startsRun(i))
            continue;
        QuicktimeSTSCTable entry = table ? table[i] : QuicktimeSTSCTable{1, 1, 1};
        movie.writeInt32(entry.chunk);
        movie.writeInt32(entry.samples);
        movie.writeInt32(entry.id);
    }
    atom.writeFooter(file, movie);
}

int QuicktimeSTSZ::initVideo(QuicktimeFile*) {
    sampleSize = 0;
    return startTable(table, entriesAllocated, totalEntries) ? 0 : 1;
}

void QuicktimeSTSZ::initAudio(QuicktimeFile*) {
    // Sound samples all have the one size their description gives; the
    // table counts them but holds no entries.
    sampleSize = 1;
    totalEntries = 0;
    std::free(table);
    table = nullptr;
    entriesAllocated = 0;
}

int QuicktimeSTSZ::update(int64_t sample, int64_t bytes) {
    if (sampleSize != 0)
        return 0;
    // The file keeps every size in 32 bits; a larger sample cannot be told.
    if (sample < 0 || bytes < 0 || bytes > kMax32 || !makeRoom(table, entriesAllocated, sample + 1))
        return 1;
    table[sample] = bytes;
    totalEntries = std::max(totalEntries, sample + 1);
    return 0;
}

// stsz: version 1, flags 3, sampleSize 4, count 4, then, only when
// sampleSize is 0, one size 4 per sample.
void QuicktimeSTSZ::write(QuicktimeFile* file, MovFile& movie) {
    // Sizes per sample but no sample: written as one common size of 1 and
    // no samples, as a track without chunks has always been.
    const bool none = sampleSize == 0 && totalEntries == 0;
    QuicktimeAtom atom;
    writeFullAtomHeader(atom, file, "stsz", version, flags, movie);
    movie.writeInt32(none ? 1 : sampleSize);
    writeTable(movie, totalEntries, sampleSize == 0 ? table : nullptr,
               [&](int64_t size) { movie.writeInt32(size); });
    atom.writeFooter(file, movie);
}

int QuicktimeSTCO::initCommon(QuicktimeFile*) {
    return startTable(table, entriesAllocated, totalEntries) ? 0 : 1;
}

int QuicktimeSTCO::update(int64_t chunk, int64_t offset) {
    if (chunk < 1 || offset < 0 || !makeRoom(table, entriesAllocated, chunk))
        return 1;
    table[chunk - 1] = offset;
    totalEntries = std::max(totalEntries, chunk);
    return 0;
}

// co64: version 1, flags 3, count 4, then one offset 8 per chunk. Offsets
// are always written in 64 bits, so media data may pass 4 GiB.
void QuicktimeSTCO::write(QuicktimeFile* file, MovFile& movie) {
    QuicktimeAtom atom;
    writeFullAtomHeader(atom, file, "co64", version, flags, movie);
    writeTable(movie, totalEntries, table, [&](int64_t offset) { movie.writeInt64(offset); });
    atom.writeFooter(file, movie);
}

int QuicktimeSTBL::initVideo(QuicktimeFile* file, int width, int height, keo::FrameRate rate,
                             char* compressor) {
    if (stsd.initVideo(file, width, height, rate, compressor) != 0 ||
        stts.initVideo(file, rate) != 0 || stsc.initVideo(file) != 0 || stsz.initVideo(file) != 0 ||
        stco.initCommon(file) != 0)
        return 1;
    return 0;
}

int QuicktimeSTBL::initAudio(QuicktimeFile* file, int channels, int sampleRate, int bits,
                             char* compressor) {
    stsz.initAudio(file);
    if (stsd.initAudio(file, channels, sampleRate, bits, compressor) != 0 ||
        stts.initAudio(file) != 0 || stsc.initAudio(file) != 0 || stco.initCommon(file) != 0)
        return 1;
    return 0;
}

// stbl holds stsd, stts, [stss], stsc, stsz, co64 in this order.
void QuicktimeSTBL::write(QuicktimeFile* file, QuicktimeMInf& minf, MovFile& movie) {
    QuicktimeAtom atom;
    atom.writeHeader(file, "stbl", movie);
    stsd.write(file, minf, movie);
    stts.write(file, movie);
    stss.write(file, movie);
    stsc.write(file, movie);
    stsz.write(file, movie);
    stco.write(file, movie);
    atom.writeFooter(file, movie);
}

void QuicktimeTrak::writeChunkHeader(QuicktimeFile* file, QuicktimeAtom& chunk, MovFile& movie) {
    chunk.start = movie.position(file);
}

int QuicktimeTrak::writeChunkFooter(QuicktimeFile* file, int64_t currentChunk, QuicktimeAtom& chunk,
                                    int samples, MovFile& movie) {
    int64_t offset = chunk.start;
    int64_t end = movie.position(file);
    QuicktimeSTBL& stbl = mdia.minf.stbl;
    // A chunk is entered into all three tables or into none: a table that
    // cannot grow takes the others' new entries back with it.
    int64_t offsets = stbl.stco.totalEntries;
    int64_t sizes = stbl.stsz.totalEntries;
    int64_t runs = stbl.stsc.totalEntries;
    if (end < offset || stbl.stco.update(currentChunk, offset) != 0 ||
        stbl.stsz.update(currentChunk - 1, end - offset) != 0 ||
        stbl.stsc.update(currentChunk, samples) != 0) {
        stbl.stco.totalEntries = offsets;
        stbl.stsz.totalEntries = sizes;
        stbl.stsc.totalEntries = runs;
        return 1;
    }
    return 0;
}

int QuicktimeTrak::fixCounts(QuicktimeFile* file, MovFile& movie) {
    QuicktimeSTBL& stbl = mdia.minf.stbl;
    int64_t count = samples(file, movie);
    if (count < 0 || count > kMax32 || stbl.stts.initTable() != 0)
        return 1;
    stbl.stts.table[0].sampleCount = count;
    // A table of one common size counts the samples and holds no entries;
    // one of sizes per sample without an entry (a video track without a
    // frame) is written as (1, 0) by QuicktimeSTSZ::write. Either way
    // nothing here stops the next chunk from being entered, so the counts
    // can be fixed again for a movie atom written while chunks still come.
    if (stbl.stsz.sampleSize != 0)
        stbl.stsz.totalEntries = count;
    return 0;
}
