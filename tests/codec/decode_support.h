// Helpers shared by the decode tests: exact-size sample buffers, seeded block
// data, and a slow per-pixel reference decoder written straight from the
// block layouts, so that the fast decoders are checked against arithmetic
// spelled differently (bit-by-bit index reads, divisions instead of tables).
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "codec/DecodeWorkers.h"
#include "codec/FramePayload.h"

namespace decode_test {

// What a destination holds before a decode, so that bytes it should not
// touch are seen to be untouched.
constexpr unsigned char kUntouched = 0xA5;

// Restores the process-wide setting when a test ends, whatever it set.
struct SettingGuard {
    int saved = KEOGetDecodeThreads();
    ~SettingGuard() { KEOSetDecodeThreads(saved); }
};

enum class Layout { DXT1, DXT5, DXT24, DXT24Alpha };

inline int blockSizeOf(Layout layout) {
    switch (layout) {
    case Layout::DXT1:
        return 8;
    case Layout::DXT5:
        return 16;
    case Layout::DXT24:
        return 10;
    case Layout::DXT24Alpha:
        return 18;
    }
    return 0;
}
inline bool isDXT24(Layout layout) {
    return layout == Layout::DXT24 || layout == Layout::DXT24Alpha;
}
inline bool hasAlpha(Layout layout) {
    return layout == Layout::DXT5 || layout == Layout::DXT24Alpha;
}
inline size_t blockDataSize(Layout layout, int width, int height) {
    return static_cast<size_t>((width + 3) / 4) * ((height + 3) / 4) * blockSizeOf(layout);
}

// Bytes in their own heap allocation of exactly the requested size, so that
// AddressSanitizer reports the first byte read past the end.
struct HeapBytes {
    std::unique_ptr<unsigned char[]> bytes;
    size_t size = 0;

    explicit HeapBytes(const std::vector<unsigned char>& from, size_t length)
        : bytes(new unsigned char[length == 0 ? 1 : length]), size(length) {
        if (length != 0)
            std::memcpy(bytes.get(), from.data(), length);
    }
    explicit HeapBytes(const std::vector<unsigned char>& from) : HeapBytes(from, from.size()) {}
    const unsigned char* data() const { return bytes.get(); }
};

// Block data of a frame from a seed. Every fourth DXT1 block has c0 <= c1 so
// that both palette modes show up.
inline std::vector<unsigned char> randomBlockData(Layout layout, int width, int height,
                                                  uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<unsigned char> data(blockDataSize(layout, width, height));
    for (auto& b : data)
        b = static_cast<unsigned char>(rng());
    if (layout == Layout::DXT1) {
        for (size_t at = 0; at < data.size(); at += 32)
            std::memcpy(&data[at + 2], &data[at], 2);
    }
    return data;
}

// A sample: 28-byte header then the payload.
struct SampleFields {
    uint32_t headerSize = 28;
    uint8_t formatVersion = 1;
    uint8_t hasAlpha = 0;
    uint8_t isLZF = 0;
    uint8_t isDXT24 = 0;
    int64_t payloadSize = -1; // -1: the payload's real length
};
inline std::vector<unsigned char> makeSample(const SampleFields& fields,
                                             const std::vector<unsigned char>& payload) {
    KEOFrameHeader header{};
    header.headerSize = fields.headerSize;
    header.formatVersion = fields.formatVersion;
    header.hasAlpha = fields.hasAlpha;
    header.isOpaque = fields.hasAlpha ? 0 : 1;
    header.isLZF = fields.isLZF;
    header.isDXT24 = fields.isDXT24;
    header.payloadSize = fields.payloadSize < 0 ? static_cast<uint32_t>(payload.size())
                                                : static_cast<uint32_t>(fields.payloadSize);
    std::vector<unsigned char> sample(kKEOFrameHeaderSize);
    header.write(sample.data());
    sample.insert(sample.end(), payload.begin(), payload.end());
    return sample;
}
inline std::vector<unsigned char> plainSample(Layout layout,
                                              const std::vector<unsigned char>& blocks) {
    SampleFields fields;
    fields.hasAlpha = hasAlpha(layout) ? 1 : 0;
    fields.isDXT24 = isDXT24(layout) ? 1 : 0;
    return makeSample(fields, blocks);
}
// Empty when liblzf finds nothing to save.
std::vector<unsigned char> lzfSample(Layout layout, const std::vector<unsigned char>& blocks);

// Reference decode of one pixel: its bytes A, R, G, B.
std::array<unsigned char, 4> referencePixel(Layout layout, const unsigned char* blockData,
                                            int width, int x, int y);
// Reference decode of a whole frame, packed rows, top row first.
std::vector<unsigned char> referencePicture(Layout layout, const std::vector<unsigned char>& blocks,
                                            int width, int height);

// Decodes a sample given in its own exact-size allocation; returns the result
// code and the picture (empty on failure, and checks that *picture stayed null).
struct Decoded {
    int result = -1;
    bool pictureNullOnFailure = true;
    std::vector<unsigned char> picture;
};
Decoded decode(const std::vector<unsigned char>& sample, int width, int height);
Decoded decode(const HeapBytes& sample, int width, int height);

} // namespace decode_test
