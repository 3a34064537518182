// Fuzz target: the codec's LZF decompressor against liblzf's.
//
// Byte 0 chooses the mode, bytes 1 and 2 an output limit (little-endian,
// 0..65535), the rest is the input.
//   even mode: the input is a stream. lzf_decompress and KEOLZFDecompress on
//     every path (the branching loops and the select loop alike) must give
//     the same answer and, when they accept, the same
//     bytes; a decode that stops and resumes every (mode / 2) * 37 + 1 bytes
//     must end the same way.
//   mode 3 modulo 4: the input is the LZF payload of a 1920x1080 frame whose
//     layout is (mode >> 2) & 3 (BlockLayout.h); the limit is not used. The
//     frame is decoded as the importer decodes it (a frame this large through
//     the pipeline that unpacks on one thread while a worker decodes rows)
//     and with everything on one thread: both must answer alike and, when
//     they accept, give the same pixels.
//   other odd modes: the input is data. lzf_compress makes a stream of it,
//     which the codec's decompressor must turn back into the data.
// Our decoder gets its input in an allocation of exactly its size, and its
// output likewise, so AddressSanitizer sees the first byte beyond either.
#include <lzf.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "codec/DecodeWorkers.h"
#include "codec/FramePayload.h"
#include "codec/LZFDecode.h"
#include "fuzz/FuzzSupport.h"

namespace {

std::unique_ptr<unsigned char[]> exactCopy(const uint8_t* data, size_t size) {
    std::unique_ptr<unsigned char[]> copy(new unsigned char[size > 0 ? size : 1]);
    if (size > 0)
        std::memcpy(copy.get(), data, size);
    return copy;
}

void compareWithLiblzf(const uint8_t* stream, size_t size, unsigned limit, size_t step) {
    // liblzf reads a control byte even from an empty input.
    const auto reference = exactCopy(stream, size);
    std::vector<unsigned char> expected(limit);
    const unsigned answer =
        lzf_decompress(reference.get(), static_cast<unsigned>(size), expected.data(), limit);

    const auto in = exactCopy(stream, size);
    for (KEOLZFPath path : {kKEOLZFPortable, kKEOLZFSSE2, kKEOLZFSelect, kKEOLZFBest}) {
        if (!KEOLZFPathAvailable(path))
            continue;
        std::unique_ptr<unsigned char[]> out(new unsigned char[limit > 0 ? limit : 1]);
        const unsigned got =
            KEOLZFDecompress(in.get(), static_cast<unsigned>(size), out.get(), limit, path);
        KEO_FUZZ_CHECK(got == answer);
        KEO_FUZZ_CHECK(got == 0 || std::memcmp(out.get(), expected.data(), got) == 0);

        KEOLZFStream s;
        KEOLZFBegin(&s, in.get(), static_cast<unsigned>(size), out.get(), limit, path);
        for (size_t target = step;
             KEOLZFDecodeUntil(&s, target) && !KEOLZFFinished(&s) && s.consumed < size;
             target += step) {
        }
        KEO_FUZZ_CHECK(KEOLZFFinished(&s) == (answer == limit && answer != 0));
        if (KEOLZFFinished(&s))
            KEO_FUZZ_CHECK(std::memcmp(out.get(), expected.data(), limit) == 0);
    }
}

void roundTrip(const uint8_t* data, size_t size) {
    if (size == 0)
        return;
    std::vector<unsigned char> stream(size + size / 16 + 64);
    const unsigned length = lzf_compress(data, static_cast<unsigned>(size), stream.data(),
                                         static_cast<unsigned>(stream.size()));
    KEO_FUZZ_CHECK(length > 0);
    const auto in = exactCopy(stream.data(), length);
    std::unique_ptr<unsigned char[]> out(new unsigned char[size]);
    KEO_FUZZ_CHECK(KEOLZFDecompress(in.get(), length, out.get(), static_cast<unsigned>(size)) ==
                   size);
    KEO_FUZZ_CHECK(std::memcmp(out.get(), data, size) == 0);
}

// The frames and working memory of the frame modes, taken and filled once
// (LLVMFuzzerInitialize): megabytes taken and filled afresh for every input
// would leave the fuzzer little time for decoding, and the first input would
// pay for them all.
constexpr int kFrameWidth = 1920, kFrameHeight = 1080;
constexpr long long kFramePitch = kFrameWidth * 4LL + 8;
std::vector<unsigned char> g_frames[2];
keo::ByteBuffer g_scratch;

// One decode of the sample under a decode thread setting.
const std::vector<unsigned char>& decodeFrame(const unsigned char* sample, size_t size, int threads,
                                              int* result) {
    std::vector<unsigned char>& frame = g_frames[threads == 1];
    const int saved = KEOGetDecodeThreads();
    KEOSetDecodeThreads(threads);
    *result = DecodeFramePayloadInto(sample, static_cast<unsigned>(size), kFrameWidth, kFrameHeight,
                                     frame.data(), kFramePitch, true, &g_scratch);
    KEOSetDecodeThreads(saved);
    return frame;
}

void comparePipeline(unsigned layout, const uint8_t* stream, size_t size) {
    KEOFrameHeader header{};
    header.headerSize = kKEOFrameHeaderSize;
    header.formatVersion = 1;
    header.hasAlpha = KEOLayoutHasAlpha(static_cast<KEOBlockLayout>(layout)) ? 1 : 0;
    header.isDXT24 = KEOLayoutIsDXT24(static_cast<KEOBlockLayout>(layout)) ? 1 : 0;
    header.isLZF = 1;
    header.payloadSize = static_cast<uint32_t>(size);
    std::vector<unsigned char> bytes(kKEOFrameHeaderSize);
    header.write(bytes.data());
    bytes.insert(bytes.end(), stream, stream + size);
    const auto sample = exactCopy(bytes.data(), bytes.size());
    int piped = 0, alone = 0;
    const auto& frame = decodeFrame(sample.get(), bytes.size(), kKEODecodeThreadsAuto, &piped);
    const auto& reference = decodeFrame(sample.get(), bytes.size(), 1, &alone);
    KEO_FUZZ_CHECK(piped == alone);
    KEO_FUZZ_CHECK(piped != kKEODecodeOK || frame == reference);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    for (auto& frame : g_frames)
        frame.assign(static_cast<size_t>(kFramePitch) * kFrameHeight, 0);
    uint64_t largest = 0;
    KEOLayoutBlockDataSize(kFrameWidth, kFrameHeight, kKEOLayoutDXT24Alpha, &largest);
    keo::reserve(g_scratch, largest);
    // A first decode starts the decode workers and fills their scratch.
    const unsigned char empty[kKEOFrameHeaderSize + 1] = {kKEOFrameHeaderSize, 0, 0, 0, 1, 0, 1};
    int result = 0;
    decodeFrame(empty, sizeof empty, kKEODecodeThreadsAuto, &result);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3)
        return 0;
    const unsigned mode = data[0];
    const unsigned limit = static_cast<unsigned>(data[1] | (data[2] << 8));
    if ((mode & 3) == 3)
        comparePipeline((mode >> 2) & 3, data + 3, size - 3);
    else if (mode & 1)
        roundTrip(data + 3, size - 3);
    else
        compareWithLiblzf(data + 3, size - 3, limit, (mode >> 1) * 37 + 1);
    return 0;
}
