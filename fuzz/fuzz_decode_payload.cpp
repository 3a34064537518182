// Fuzz target: DecodeFramePayload on one sample.
//
// The first two bytes choose the frame's width and height (1..256 each, so
// that one run stays fast), the rest is the sample. The sample is copied into
// an allocation of exactly its size so that AddressSanitizer sees the first
// byte read beyond it. Both entries are run: the one that allocates the
// picture and the one that decodes into a caller's buffer, which must agree.
// Then the bytes after the header are taken as plain blocks of the layout
// the header names and decoded by the portable and the SIMD block decoders,
// which must give the same picture.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "codec/DecodeBlocks.h"
#include "codec/FramePayload.h"
#include "fuzz/FuzzSupport.h"

namespace {

// The sample's bytes after the header as the block data of the layout its
// header names (cut or padded with zeros to the frame's size), through both
// block decoders.
void compareBlockDecoders(const uint8_t* sample, size_t length, int width, int height) {
    if (length < kKEOFrameHeaderSize || !KEODecodePathAvailable(kKEODecodeSSSE3))
        return;
    // Any nonzero DXT24 flag as DXT24, so that every byte value picks a layout.
    const KEOBlockLayout layout = KEOLayoutOfFlags(sample[26] != 0, sample[5]);
    uint64_t blockBytes = 0;
    KEOLayoutBlockDataSize(width, height, layout, &blockBytes);
    // Exactly the block data's size, so that a read past it is caught.
    std::unique_ptr<unsigned char[]> blocks(new unsigned char[blockBytes]);
    const size_t given = std::min<size_t>(length - kKEOFrameHeaderSize, blockBytes);
    std::memcpy(blocks.get(), sample + kKEOFrameHeaderSize, given);
    std::memset(blocks.get() + given, 0, blockBytes - given);
    const size_t pitch = static_cast<size_t>(width) * 4;
    std::vector<unsigned char> portable(pitch * height), simd(pitch * height);
    KEODecodeBlocks(layout, blocks.get(), width, height, portable.data(),
                    static_cast<ptrdiff_t>(pitch), kKEODecodePortable);
    KEODecodeBlocks(layout, blocks.get(), width, height, simd.data(), static_cast<ptrdiff_t>(pitch),
                    kKEODecodeSSSE3);
    KEO_FUZZ_CHECK(portable == simd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const int width = data[0] + 1;
    const int height = data[1] + 1;
    const size_t length = size - 2;
    std::unique_ptr<unsigned char[]> sample(new unsigned char[length > 0 ? length : 1]);
    if (length > 0)
        std::memcpy(sample.get(), data + 2, length);

    unsigned char* picture = nullptr;
    const int result = DecodeFramePayload(sample.get(), static_cast<unsigned int>(length), width,
                                          height, &picture);
    KEO_FUZZ_CHECK(result == kKEODecodeOK || result == kKEODecodeFailed);
    KEO_FUZZ_CHECK((result == kKEODecodeOK) == (picture != nullptr));

    // Bottom row first with a padded pitch, as a host frame is laid out.
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    const size_t pitch = rowBytes + 12;
    std::vector<unsigned char> frame(pitch * static_cast<size_t>(height), 0x5A);
    const int into =
        DecodeFramePayloadInto(sample.get(), static_cast<unsigned int>(length), width, height,
                               frame.data(), static_cast<long long>(pitch), true);
    KEO_FUZZ_CHECK(into == result);
    for (int y = 0; y < height; y++) {
        const unsigned char* row = frame.data() + static_cast<size_t>(height - 1 - y) * pitch;
        if (picture)
            KEO_FUZZ_CHECK(std::memcmp(row, picture + y * rowBytes, rowBytes) == 0);
        // Nothing is written to the padding, and nothing at all on failure.
        for (size_t i = picture ? rowBytes : 0; i < pitch; i++)
            KEO_FUZZ_CHECK(row[i] == 0x5A);
    }
    std::free(picture);
    compareBlockDecoders(data + 2, length, width, height);
    return 0;
}
