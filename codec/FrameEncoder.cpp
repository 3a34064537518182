// CompressDXTFrame: layout choice, block encoding, header and LZF.
#include "codec/FrameEncoder.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <lzf.h>
#include <mutex>

#include "codec/DXT1DXT5Encode.h"
#include "codec/EncoderThreads.h"
#include "codec/FramePayload.h"

namespace {

std::atomic<KEOExportParamGetter> g_paramGetter{nullptr};

// Both encoders keep shared state (static blocks, the worker pool); two
// exports at once take turns frame by frame.
std::mutex g_frameLock;

// Fewer rows than this are not worth handing to the workers.
const int kMinThreadedRows = 29;

} // namespace

void KEOSetExportParamGetter(KEOExportParamGetter getter) {
    g_paramGetter.store(getter);
}

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

int CompressDXTFrame(unsigned char* source, unsigned char* destination, int width, int height,
                     int rowBytes, exDoExportRec* record) {
    const KEOExportParamGetter getter = g_paramGetter.load();
    if (!getter)
        return 0;
    int transparency, optimizeFor, encodeThreads;
    if (getter(record, "KEOTransparency", &transparency) != 0 ||
        getter(record, "KEOOptimizeFor", &optimizeFor) != 0 ||
        getter(record, "KEOEncodeThreads", &encodeThreads) != 0)
        return 0;
    return CompressDXTFrame(source, destination, width, height, rowBytes, transparency, optimizeFor,
                            encodeThreads);
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

    unsigned char* scratch = static_cast<unsigned char*>(std::malloc(blockDataSize));
    if (!scratch)
        return 0;

    std::lock_guard<std::mutex> lock(g_frameLock);
    if (layout.isDXT24) {
        const int threads = height >= kMinThreadedRows ? encodeThreads : 1;
        stbCompressARGB32_to24_threaded(threads, scratch, source, width, height, rowBytes, false);
    } else {
        stbCompressARGB32(scratch, source, width, height, rowBytes, layout.hasAlpha);
    }

    KEOFrameHeader header;
    header.headerSize = kKEOFrameHeaderSize;
    header.formatVersion = 1;
    header.hasAlpha = layout.hasAlpha ? 1 : 0;
    header.isOpaque = layout.hasAlpha ? 0 : 1;
    header.prefersDXT1 = layout.prefersDXT1 ? 1 : 0;
    header.isDXT24 = layout.isDXT24 ? 1 : 0;
    header.isLZF = 0;
    header.payloadSize = blockDataSize;

    // The stream goes straight after the header; an output capacity of the
    // block-data size makes lzf_compress give up (0) exactly when storing
    // plain would be no longer, and a compressible frame is copied only once.
    unsigned char* payload = destination + kKEOFrameHeaderSize;
    const unsigned int packed =
        layout.tryLZF ? lzf_compress(scratch, blockDataSize, payload, blockDataSize) : 0;
    if (packed != 0) {
        header.isLZF = 1;
        header.payloadSize = packed;
    } else {
        std::memcpy(payload, scratch, blockDataSize);
    }
    header.write(destination);

    std::free(scratch);
    return kKEOFrameHeaderSize + static_cast<int>(header.payloadSize);
}
