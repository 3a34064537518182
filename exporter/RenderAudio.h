// Pieces of RenderAndWriteAllAudio that tests reach directly.
#pragma once

#include <cstddef>

namespace keo::exporter {

// Bytes per written sample of a host sample-type code: 1, 2, 3 or 4 for the
// codes 1, 3, 4 and 5; 0 for any other code (8-bit two's complement included).
int bytesPerSampleOfType(int sampleType);

// Reverses the bytes of each of `count` samples of `bytesPerSample` bytes, so
// little-endian samples become big-endian. One-byte samples stay as they are.
void swapSampleBytes(unsigned char* samples, size_t count, int bytesPerSample);

} // namespace keo::exporter
