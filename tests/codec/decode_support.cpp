// Reference decoder and sample builders for the decode tests.
#include "decode_support.h"

#include <lzf.h>

#include <cstdlib>

namespace decode_test {

namespace {

unsigned expand(unsigned v, unsigned bits) {
    const unsigned top = (1u << bits) - 1;
    const unsigned t = v * 255 + (1u << (bits - 1));
    return (t / (top + 1) + t) / (top + 1);
}

// Two-bit colour index of pixel k, read from its byte.
unsigned colourIndex(const unsigned char* indexBytes, int k) {
    return (indexBytes[k / 4] >> (2 * (k % 4))) & 3;
}

// Three-bit alpha code of pixel k, gathered bit by bit.
unsigned alphaCode(const unsigned char* alphaBlock, int k) {
    unsigned code = 0;
    for (int b = 0; b < 3; ++b) {
        const int bit = 3 * k + b;
        code |= ((alphaBlock[2 + bit / 8] >> (bit % 8)) & 1u) << b;
    }
    return code;
}

unsigned alphaValue(const unsigned char* alphaBlock, int k) {
    const unsigned a0 = alphaBlock[0], a1 = alphaBlock[1], c = alphaCode(alphaBlock, k);
    if (c == 0)
        return a0;
    if (c == 1)
        return a1;
    if (a0 > a1)
        return ((8 - c) * a0 + (c - 1) * a1) / 7;
    if (c == 6)
        return 0;
    if (c == 7)
        return 255;
    return ((6 - c) * a0 + (c - 1) * a1) / 5;
}

std::array<unsigned, 3> colour565(const unsigned char* at) {
    const unsigned c = at[0] | at[1] << 8;
    return {expand(c >> 11, 5), expand((c >> 5) & 63, 6), expand(c & 31, 5)};
}

std::array<unsigned, 3> dxtColour(const unsigned char* colourBlock, bool fourColourOnly, int k) {
    const auto e0 = colour565(colourBlock), e1 = colour565(colourBlock + 2);
    const unsigned c0 = colourBlock[0] | colourBlock[1] << 8;
    const unsigned c1 = colourBlock[2] | colourBlock[3] << 8;
    const unsigned index = colourIndex(colourBlock + 4, k);
    std::array<unsigned, 3> out{};
    for (int ch = 0; ch < 3; ++ch) {
        const unsigned a = e0[ch], b = e1[ch];
        if (index == 0)
            out[ch] = a;
        else if (index == 1)
            out[ch] = b;
        else if (fourColourOnly || c0 > c1)
            out[ch] = index == 2 ? (2 * a + b) / 3 : (a + 2 * b) / 3;
        else
            out[ch] = index == 2 ? (a + b) / 2 : 0;
    }
    return out;
}

std::array<unsigned, 3> dxt24Colour(const unsigned char* colourBlock, int k) {
    const unsigned index = colourIndex(colourBlock + 6, k);
    std::array<unsigned, 3> out{};
    for (int ch = 0; ch < 3; ++ch) {
        const unsigned a = colourBlock[ch], b = colourBlock[3 + ch];
        const unsigned mixes[4] = {a, b, (2 * a + b + 1) / 3, (2 * b + a + 1) / 3};
        out[ch] = mixes[index];
    }
    return out;
}

} // namespace

std::vector<unsigned char> lzfSample(Layout layout, const std::vector<unsigned char>& blocks) {
    std::vector<unsigned char> stream(blocks.size() + 64);
    const unsigned length = lzf_compress(blocks.data(), static_cast<unsigned>(blocks.size()),
                                         stream.data(), static_cast<unsigned>(stream.size()));
    if (length == 0)
        return {};
    stream.resize(length);
    SampleFields fields;
    fields.hasAlpha = hasAlpha(layout) ? 1 : 0;
    fields.isDXT24 = isDXT24(layout) ? 1 : 0;
    fields.isLZF = 1;
    return makeSample(fields, stream);
}

std::array<unsigned char, 4> referencePixel(Layout layout, const unsigned char* blockData,
                                            int width, int x, int y) {
    const int blocksX = (width + 3) / 4;
    const unsigned char* block =
        blockData + static_cast<size_t>((y / 4) * blocksX + x / 4) * blockSizeOf(layout);
    const int k = 4 * (y % 4) + x % 4;
    std::array<unsigned, 3> rgb{};
    unsigned alpha = 255;
    switch (layout) {
    case Layout::DXT1:
        rgb = dxtColour(block, false, k);
        break;
    case Layout::DXT5:
        rgb = dxtColour(block + 8, true, k);
        alpha = alphaValue(block, k);
        break;
    case Layout::DXT24:
        rgb = dxt24Colour(block, k);
        break;
    case Layout::DXT24Alpha:
        rgb = dxt24Colour(block + 8, k);
        alpha = alphaValue(block, k);
        break;
    }
    return {static_cast<unsigned char>(alpha), static_cast<unsigned char>(rgb[0]),
            static_cast<unsigned char>(rgb[1]), static_cast<unsigned char>(rgb[2])};
}

std::vector<unsigned char> referencePicture(Layout layout, const std::vector<unsigned char>& blocks,
                                            int width, int height) {
    std::vector<unsigned char> picture(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto px = referencePixel(layout, blocks.data(), width, x, y);
            std::memcpy(&picture[(static_cast<size_t>(y) * width + x) * 4], px.data(), 4);
        }
    return picture;
}

Decoded decode(const HeapBytes& sample, int width, int height) {
    Decoded out;
    // A non-null start value shows whether a failure really clears it.
    unsigned char sentinel = 0;
    unsigned char* picture = &sentinel;
    out.result = DecodeFramePayload(sample.data(), static_cast<unsigned>(sample.size), width,
                                    height, &picture);
    if (out.result == kKEODecodeOK && picture != nullptr) {
        out.picture.assign(picture, picture + static_cast<size_t>(width) * height * 4);
        std::free(picture);
    } else if (out.result != kKEODecodeOK) {
        out.pictureNullOnFailure = picture == nullptr;
    }
    return out;
}

Decoded decode(const std::vector<unsigned char>& sample, int width, int height) {
    return decode(HeapBytes(sample), width, height);
}

} // namespace decode_test
