// The leaf bodies and sample description entries of the test-side movie
// builder: each atom's fields in the file's order, every count an argument.
#include "support/MovieBuilder.h"

#include <utility>

namespace keotest {

namespace {

void putMatrix(Bytes& b) {
    const uint32_t identity[9] = {0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000};
    for (uint32_t v : identity)
        put32(b, v);
}

void putVersionFlags(Bytes& b, uint32_t flags = 0) {
    put8(b, 0);
    put24(b, flags);
}

} // namespace

Bytes mvhdBody(uint32_t timeScale, uint32_t duration) {
    Bytes b;
    putVersionFlags(b);
    put32(b, 0); // creation
    put32(b, 0); // modification
    put32(b, timeScale);
    put32(b, duration);
    putFixed32(b, 1.0);
    putFixed16(b, 1.0);
    putZeros(b, 10);
    putMatrix(b);
    putZeros(b, 6 * 4); // preview, poster, selection, current time
    put32(b, 3);        // next track id
    return b;
}

Bytes tkhdBody(double width, double height, uint32_t trackId) {
    Bytes b;
    putVersionFlags(b, 15);
    put32(b, 0);
    put32(b, 0);
    put32(b, trackId);
    put32(b, 0);
    put32(b, 0); // duration
    putZeros(b, 8);
    put16(b, 0);        // layer
    put16(b, 0);        // alternate group
    putFixed16(b, 0.0); // volume
    put16(b, 0);
    putMatrix(b);
    putFixed32(b, width);
    putFixed32(b, height);
    return b;
}

Bytes mdhdBody(uint32_t timeScale, uint32_t duration) {
    Bytes b;
    putVersionFlags(b);
    put32(b, 0);
    put32(b, 0);
    put32(b, timeScale);
    put32(b, duration);
    put16(b, 0);
    put16(b, 100);
    return b;
}

Bytes hdlrBody(const char* subtype, const std::string& name) {
    Bytes b;
    putVersionFlags(b);
    putType(b, "mhlr");
    putType(b, subtype);
    putZeros(b, 12);
    put8(b, static_cast<uint32_t>(name.size()));
    b.insert(b.end(), name.begin(), name.end());
    return b;
}

Bytes vmhdBody() {
    Bytes b;
    putVersionFlags(b, 1);
    put16(b, 64);
    for (int i = 0; i < 3; i++)
        put16(b, 0x8000);
    return b;
}

Bytes smhdBody() {
    Bytes b;
    putVersionFlags(b);
    put16(b, 0);
    put16(b, 0);
    return b;
}

Bytes drefBody() {
    Bytes b;
    putVersionFlags(b);
    put32(b, 1);
    put32(b, 12);
    putType(b, "alis");
    putVersionFlags(b, 1);
    return b;
}

Bytes sttsBody(const std::vector<std::pair<uint32_t, uint32_t>>& entries,
               std::optional<uint32_t> count) {
    Bytes b;
    putVersionFlags(b);
    put32(b, count ? *count : static_cast<uint32_t>(entries.size()));
    for (auto& e : entries) {
        put32(b, e.first);
        put32(b, e.second);
    }
    return b;
}

Bytes stscBody(const std::vector<std::array<uint32_t, 3>>& entries, std::optional<uint32_t> count) {
    Bytes b;
    putVersionFlags(b);
    put32(b, count ? *count : static_cast<uint32_t>(entries.size()));
    for (auto& e : entries)
        for (uint32_t v : e)
            put32(b, v);
    return b;
}

Bytes stszBody(uint32_t sampleSize, uint32_t count, const std::vector<uint32_t>& sizes) {
    Bytes b;
    putVersionFlags(b);
    put32(b, sampleSize);
    put32(b, count);
    for (uint32_t s : sizes)
        put32(b, s);
    return b;
}

namespace {

// Version and flags, the entry count (or the one a test claims), then the
// values, each written by `put`.
template <class T>
Bytes countedBody(const std::vector<T>& values, std::optional<uint32_t> count,
                  void (*put)(Bytes&, T)) {
    Bytes b;
    putVersionFlags(b);
    put32(b, count ? *count : static_cast<uint32_t>(values.size()));
    for (T v : values)
        put(b, v);
    return b;
}

} // namespace

Bytes co64Body(const std::vector<uint64_t>& offsets, std::optional<uint32_t> count) {
    return countedBody(offsets, count, put64);
}

Bytes stcoBody(const std::vector<uint32_t>& offsets, std::optional<uint32_t> count) {
    return countedBody(offsets, count, put32);
}

Bytes elstBody(const std::vector<std::array<uint32_t, 3>>& entries, std::optional<uint32_t> count) {
    return stscBody(entries, count); // same shape: count, then three 32-bit fields
}

Bytes ctabBody(uint16_t sizeField, int present) {
    Bytes b;
    put32(b, 0);
    put16(b, 0x8000);
    put16(b, sizeField);
    for (int i = 0; i < present; i++) {
        put16(b, static_cast<uint32_t>(i));
        put16(b, 0x1111 * (i + 1));
        put16(b, 0x2222);
        put16(b, 0x3333);
    }
    return b;
}

Atom videoEntry(const char* format, uint16_t width, uint16_t height, uint16_t depth) {
    Bytes b;
    putZeros(b, 6);
    put16(b, 1); // data reference index
    put16(b, 0); // version
    put16(b, 0); // revision
    putType(b, "KEO ");
    put32(b, 100);
    put32(b, 258);
    put16(b, width);
    put16(b, height);
    putFixed32(b, 72.0);
    putFixed32(b, 72.0);
    put32(b, 0);
    put16(b, 1);
    put8(b, 3);
    b.insert(b.end(), {'K', 'E', 'O'});
    putZeros(b, 28);
    put16(b, depth);
    put16(b, 0xFFFF);
    return atom(format, b);
}

Atom soundEntry(const char* format, uint16_t channels, uint16_t bits, uint32_t rate,
                uint16_t version) {
    Bytes b;
    putZeros(b, 6);
    put16(b, 1);
    put16(b, version);
    put16(b, 0);
    putType(b, "KEO ");
    put16(b, channels);
    put16(b, bits);
    put16(b, 0);
    put16(b, 0);
    put16(b, rate & 0xFFFF); // the integer part of a 16.16 rate
    put16(b, 0);
    if (version == 1) {
        put32(b, 1);
        put32(b, channels * bits / 8);
        put32(b, channels * bits / 8);
        put32(b, bits / 8);
    }
    return atom(format, b);
}

Atom stsdAtom(std::vector<Atom> entries, std::optional<uint32_t> count) {
    Bytes b;
    putVersionFlags(b);
    put32(b, count ? *count : static_cast<uint32_t>(entries.size()));
    return atom("stsd", b, std::move(entries));
}

} // namespace keotest
