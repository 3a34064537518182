// KEOEncodeFrame: banded block encoding and LZF, header; CompressDXTFrame's
// mapping of the export settings.
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

// Where the bands go. With LZF tried, the blocks and the bands' streams go
// into the kept buffers; plain blocks are the payload and are encoded where
// they are to stay. False when memory cannot be had.
bool placeBands(KEOBandedFrame* frame, unsigned int blockDataSize, unsigned char* payload) {
    if (!frame->compress) {
        frame->blocks = payload;
        frame->packed = nullptr;
        frame->packedLengths = nullptr;
        return true;
    }
    const size_t bands = static_cast<size_t>(frame->bandCount);
    frame->blocks = keo::reserve(g_frameBuffers.blocks, blockDataSize);
    frame->packed = keo::reserve(g_frameBuffers.packed, bands * frame->bandRoom);
    frame->packedLengths = reinterpret_cast<unsigned int*>(
        keo::reserve(g_frameBuffers.lengths, bands * sizeof(unsigned int)));
    return frame->blocks && frame->packed && frame->packedLengths;
}

// The payload after the header: the joined streams when they are shorter
// than the blocks, else the blocks (already in place when LZF was not tried).
// Returns the payload's length and whether it is LZF.
uint32_t writePayload(const KEOBandedFrame& frame, unsigned int blockDataSize,
                      unsigned char* payload, bool* isLZF) {
    *isLZF = false;
    if (!frame.compress)
        return blockDataSize;
    const size_t packed = KEOPackedBandsLength(&frame);
    if (packed != 0 && packed < blockDataSize) {
        KEOJoinPackedBands(&frame, payload);
        *isLZF = true;
        return static_cast<uint32_t>(packed);
    }
    std::memcpy(payload, frame.blocks, blockDataSize);
    return blockDataSize;
}

} // namespace

KEOEncodeSettings KEOExportSettings(int transparency, int optimizeFor, int encodeThreads) {
    KEOEncodeSettings settings;
    // DXT24 carries no alpha here, so transparency always means DXT5.
    if (transparency != 0)
        settings.layout = kKEOLayoutDXT5;
    else
        settings.layout = optimizeFor == 0 || optimizeFor == 2 ? kKEOLayoutDXT24 : kKEOLayoutDXT1;
    settings.tryLZF = optimizeFor != 2;
    settings.prefersDXT1 = optimizeFor == 1;
    settings.threads = encodeThreads;
    return settings;
}

bool KEOMaxFramePayloadSize(int width, int height, uint64_t* bytes) {
    uint64_t blockData;
    if (!KEOBlockDataSize(width, height, false, true, &blockData))
        return false;
    *bytes = blockData + kKEOFrameHeaderSize;
    return true;
}

int KEOEncodeFrame(const unsigned char* source, unsigned char* destination, int width, int height,
                   int rowBytes, const KEOEncodeSettings& settings) {
    const KEOBlockLayout layout = settings.layout;
    if (!source || !destination || layout == kKEOLayoutDXT24Alpha)
        return 0;
    uint64_t size;
    if (!KEOLayoutBlockDataSize(width, height, layout, &size))
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
    frame.layout = layout;
    frame.compress = settings.tryLZF;
    unsigned char* payload = destination + kKEOFrameHeaderSize;
    if (!KEOPlanBands(&frame) || !placeBands(&frame, blockDataSize, payload))
        return 0;
    KEOEncodeBandsThreaded(height >= kMinThreadedRows ? settings.threads : 1, &frame);

    KEOFrameHeader header;
    header.headerSize = kKEOFrameHeaderSize;
    header.formatVersion = 1;
    header.hasAlpha = KEOLayoutHasAlpha(layout) ? 1 : 0;
    header.isOpaque = header.hasAlpha ? 0 : 1;
    header.prefersDXT1 = settings.prefersDXT1 ? 1 : 0;
    header.isDXT24 = KEOLayoutIsDXT24(layout) ? 1 : 0;
    bool isLZF = false;
    header.payloadSize = writePayload(frame, blockDataSize, payload, &isLZF);
    header.isLZF = isLZF ? 1 : 0;
    header.write(destination);
    return kKEOFrameHeaderSize + static_cast<int>(header.payloadSize);
}

int CompressDXTFrame(const unsigned char* source, unsigned char* destination, int width, int height,
                     int rowBytes, int transparency, int optimizeFor, int encodeThreads) {
    return KEOEncodeFrame(source, destination, width, height, rowBytes,
                          KEOExportSettings(transparency, optimizeFor, encodeThreads));
}
