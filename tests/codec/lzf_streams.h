// LZF streams written token by token, for the decompressor tests and the
// fuzz corpus: the cases that liblzf's compressor never emits (references at
// every distance and length, to before the start, cut tokens) are as easy to
// build as the ones it does.
#pragma once

#include <cstdint>
#include <vector>

namespace lzf_test {

using Bytes = std::vector<unsigned char>;

// A literal run of 1 to 32 bytes.
inline void literal(Bytes& stream, const unsigned char* bytes, size_t count) {
    stream.push_back(static_cast<unsigned char>(count - 1));
    stream.insert(stream.end(), bytes, bytes + count);
}

// Literal runs of up to 32 bytes carrying `bytes`.
inline void literals(Bytes& stream, const Bytes& bytes) {
    for (size_t at = 0; at < bytes.size(); at += 32)
        literal(stream, bytes.data() + at, bytes.size() - at < 32 ? bytes.size() - at : 32);
}

// A back-reference of 3 to 264 bytes starting 1 to 8192 bytes back.
inline void reference(Bytes& stream, size_t distance, size_t length) {
    const size_t back = distance - 1;
    const size_t code = length - 2;
    const size_t high = back >> 8;
    if (code < 7) {
        stream.push_back(static_cast<unsigned char>((code << 5) | high));
    } else {
        stream.push_back(static_cast<unsigned char>((7 << 5) | high));
        stream.push_back(static_cast<unsigned char>(code - 7));
    }
    stream.push_back(static_cast<unsigned char>(back & 0xFF));
}

// Seeded bytes with some repeats in them, so that a compressor finds
// references of many distances and lengths.
inline Bytes textureBytes(size_t count, uint32_t seed) {
    Bytes bytes(count);
    uint32_t state = seed * 2654435761u + 1;
    for (size_t i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        const uint32_t pick = state >> 24;
        if (i >= 64 && pick < 96)
            bytes[i] = bytes[i - 1 - (state >> 10) % 64]; // a near repeat
        else if (i >= 8 && pick < 160)
            bytes[i] = bytes[i - 8]; // a block-sized repeat
        else
            bytes[i] = static_cast<unsigned char>(state >> 16);
    }
    return bytes;
}

} // namespace lzf_test
