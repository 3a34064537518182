// Fuzz target: DecodeFramePayload on one sample.
//
// The first two bytes choose the frame's width and height (1..256 each, so
// that one run stays fast), the rest is the sample. The sample is copied into
// an allocation of exactly its size so that AddressSanitizer sees the first
// byte read beyond it. Both entries are run: the one that allocates the
// picture and the one that decodes into a caller's buffer, which must agree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "codec/FramePayload.h"
#include "fuzz/FuzzSupport.h"

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
    return 0;
}
