// The bounded atom reader: typed reads, atom headers and child readers.
#include "container/AtomReader.h"

#include <cstring>

#include "base/Bounds.h"

namespace {

const int64_t kMaxPosition = std::numeric_limits<int64_t>::max();

// size and end from a size as stored. A size that no position can reach is
// held at the largest one; the callers' bounds (the parent atom, the file)
// then decide.
void setExtent(QuicktimeAtom* atom, uint64_t size) {
    int64_t end;
    if (size <= static_cast<uint64_t>(kMaxPosition) &&
        keo::checkedAdd(atom->start, static_cast<int64_t>(size), &end)) {
        atom->size = static_cast<int64_t>(size);
        atom->end = end;
        return;
    }
    atom->size =
        size > static_cast<uint64_t>(kMaxPosition) ? kMaxPosition : static_cast<int64_t>(size);
    atom->end = kMaxPosition;
}

} // namespace

AtomReader::AtomReader(const unsigned char* data, size_t size, int64_t fileOffset)
    : data_(data), size_(data ? size : 0), base_(fileOffset) {}

const unsigned char* AtomReader::take(uint64_t n) {
    if (failed_ || !keo::hasRoom(pos_, n, size_)) {
        failed_ = true;
        return nullptr;
    }
    const unsigned char* p = data_ + pos_;
    pos_ += static_cast<size_t>(n);
    return p;
}

bool AtomReader::fixed32(float* out) {
    const unsigned char* p = take(4);
    if (!p)
        return false;
    *out =
        static_cast<float>(keo::loadBE16(p)) + static_cast<float>(keo::loadBE16(p + 2)) / 65536.0f;
    return true;
}

bool AtomReader::fixed16(float* out) {
    const unsigned char* p = take(2);
    if (!p)
        return false;
    *out = static_cast<float>(p[0]) + static_cast<float>(p[1]) / 256.0f;
    return true;
}

bool AtomReader::bytes(void* out, uint64_t n) {
    const unsigned char* p = take(n);
    if (!p)
        return false;
    if (n > 0)
        std::memcpy(out, p, static_cast<size_t>(n));
    return true;
}

bool AtomReader::pascal(char* out) {
    const unsigned char* length = take(1);
    if (!length)
        return false;
    const unsigned char* text = take(length[0]);
    if (!text)
        return false;
    std::memcpy(out, text, length[0]);
    out[length[0]] = 0;
    return true;
}

bool AtomReader::restAsText(char* out, size_t capacity) {
    if (failed_ || capacity == 0)
        return false;
    size_t n = 0;
    for (size_t at = pos_; at < size_ && data_[at] != 0 && n + 1 < capacity; at++)
        out[n++] = static_cast<char>(data_[at]);
    out[n] = 0;
    pos_ = size_;
    return true;
}

bool AtomReader::hasRoomFor(uint64_t count, uint64_t entrySize) const {
    return keo::entriesFit(count, entrySize, remaining());
}

bool AtomReader::count(uint64_t entrySize, int64_t* out) {
    uint32_t n;
    if (!u32(&n))
        return false;
    if (!hasRoomFor(n, entrySize)) {
        fail();
        return false;
    }
    *out = n;
    return true;
}

bool AtomReader::readAtomHeader(QuicktimeAtom* atom, bool* fourLetters) {
    atom->reset();
    atom->start = position();
    const unsigned char* h = take(8);
    if (!h)
        return false;
    bool letters = QuicktimeAtom::readType(h, atom->type) == 0;
    uint64_t size = keo::loadBE32(h);
    if (atom->is("wide")) {
        // Padding that lets the atom after it grow to a 64-bit size: the
        // header that follows is the atom's own.
        const uint64_t wideSize = size;
        atom->start = position();
        if (!(h = take(8)))
            return false;
        letters = QuicktimeAtom::readType(h, atom->type) == 0;
        size = wideSize > 8 ? wideSize - 8 : keo::loadBE32(h);
        if (wideSize > 8) {
            setExtent(atom, size);
            *fourLetters = letters;
            return true;
        }
    }
    if (size == 1) {
        const unsigned char* large = take(8);
        if (!large)
            return false;
        const uint64_t stored = atom->readSize64(large);
        size = stored < 8 ? 8 : stored;
    }
    setExtent(atom, size);
    *fourLetters = letters;
    return true;
}

bool AtomReader::nextChild(AtomReader* child) {
    if (failed_ || size_ - pos_ < 8)
        return false;
    QuicktimeAtom h;
    bool letters;
    if (!readAtomHeader(&h, &letters))
        return false;
    const uint64_t headerBytes = static_cast<uint64_t>(position() - h.start);
    const uint64_t size = static_cast<uint64_t>(h.size);
    if (size < headerBytes || size - headerBytes > size_ - pos_) {
        fail();
        return false;
    }
    const size_t payload = static_cast<size_t>(size - headerBytes);
    *child = AtomReader(data_ + pos_, payload, position());
    h.end = position() + static_cast<int64_t>(payload);
    child->header_ = h;
    pos_ += payload;
    return true;
}
