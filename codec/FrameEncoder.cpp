// CompressDXTFrame: layout choice, banded block encoding and LZF, header.
#include "codec/FrameEncoder.h"

#include <climits>
#include <cstring>
#include <mutex>

#include "base/ByteBuffer.h"
#include "codec/BandedEncode.h"
#include "codec/EncoderThreads.h"
#include "codec/FramePayload.h"

namespace {

// The worker pool and the buffers below are shared; two exports at once
// take turns frame by frame.
std::mutex g_frameLock;

// The block data, the bands' streams and their lengths, kept from one frame
// to the next (under g_frameLock): an export asks for the same sizes frame
// after frame, and fresh megabytes each time would cost their page faults.
struct FrameBuffers {
    keo::ByteBuffer blocks, packed, lengths;
    ~FrameBuffers() {
        keo::release(blocks);
        keo::release(packed);
        keo::release(lengths);
    }
} g_frameBuffers;

// Fewer rows than this are not worth handing to the workers.
const int kMinThreadedRows = 29;

} // namespace

KEOFrameLayout KEOChooseFrameLayout(int transparency, int optimizeFor) {
    KEOFrameLayout layout;
    layout.hasAlpha = transparency != 0;
    // DXT24 carries no alpha here, so transparency always means DXT5.
    layout.isDXT24 = !layout.hasAlpha && (optimizeFor == 0 || optimizeFor == 2);
    layout.tryLZF = optimizeFor != 2;
    layout.prefersDXT1 = optimizeFor == 1;
    return layout;
}

bool KEOMaxFramePayloadSize(int width, int height, uint64_t* bytes) {
    uint64_t blockData;
    if (!KEOBlockDataSize(width, height, false, true, &blockData))
        return false;
    *bytes = blockData + kKEOFrameHeaderSize;
    return true;
}

int CompressDXTFrame(const unsigned char* source, unsigned char* destination, int width, int height,
                     int rowBytes, int transparency, int optimizeFor, int encodeThreads) {
    if (!source || !destination)
        return 0;
    const KEOFrameLayout layout = KEOChooseFrameLayout(transparency, optimizeFor);
    uint64_t size;
    if (!KEOBlockDataSize(width, height, layout.isDXT24, layout.hasAlpha, &size))
        return 0;
    // The sample length is returned as an int.
    if (size > static_cast<uint64_t>(INT_MAX - kKEOFrameHeaderSize))
        return 0;
    const unsigned int blockDataSize = static_cast<unsigned int>(size);

    std::lock_guard<std::mutex> lock(g_frameLock);
    KEOBandedFrame frame;
    frame.source = source;
    frame.width = width;
    frame.height = height;
    frame.rowBytes = rowBytes;
    frame.isDXT24 = layout.isDXT24;
    frame.alpha = layout.hasAlpha;
    frame.compress = layout.tryLZF;
    KEOPlanBands(&frame);
    unsigned char* payload = destination + kKEOFrameHeaderSize;
    if (layout.tryLZF) {
        const size_t bands = static_cast<size_t>(frame.bandCount);
        frame.blocks = keo::reserve(g_frameBuffers.blocks, blockDataSize);
        frame.packed = keo::reserve(g_frameBuffers.packed, bands * frame.bandRoom);
        frame.packedLengths = reinterpret_cast<unsigned int*>(
            keo::reserve(g_frameBuffers.lengths, bands * sizeof(unsigned int)));
        if (!frame.blocks || !frame.packed || !frame.packedLengths)
            return 0;
    } else {
        // Plain blocks are the payload: encoded where they are to stay.
        frame.blocks = payload;
        frame.packed = nullptr;
        frame.packedLengths = nullptr;
    }
    KEOEncodeBandsThreaded(height >= kMinThreadedRows ? encodeThreads : 1, &frame);

    KEOFrameHeader header;
    header.headerSize = kKEOFrameHeaderSize;
    header.formatVersion = 1;
    header.hasAlpha = layout.hasAlpha ? 1 : 0;
    header.isOpaque = layout.hasAlpha ? 0 : 1;
    header.prefersDXT1 = layout.prefersDXT1 ? 1 : 0;
    header.isDXT24 = layout.isDXT24 ? 1 : 0;
    header.isLZF = 0;
    header.payloadSize = blockDataSize;
    if (layout.tryLZF) {
        // LZF only when it saves space; otherwise the blocks go in plain.
        const size_t packed = KEOPackedBandsLength(&frame);
        if (packed != 0 && packed < blockDataSize) {
            KEOJoinPackedBands(&frame, payload);
            header.isLZF = 1;
            header.payloadSize = static_cast<uint32_t>(packed);
        } else {
            std::memcpy(payload, frame.blocks, blockDataSize);
        }
    }
    header.write(destination);
    return kKEOFrameHeaderSize + static_cast<int>(header.payloadSize);
}
