// RenderAndWriteVideoFrame: one frame from the host's renderer into the movie.
//
// The host renders bottom-up BGRA with padded rows; the encoder wants a
// top-down ARGB32 picture with packed rows. One pass of base/PixelOrder
// reverses each pixel's bytes and takes the rows from the bottom up, reading
// the frame at its own row pitch, so a padded frame needs no packed copy.
#include <cstdint>
#include <cstring>
#include <mutex>

#include "base/Bounds.h"
#include "base/ByteBuffer.h"
#include "base/PixelOrder.h"
#include "codec/FrameEncoder.h"
#include "container/LargeFp.h"
#include "container/MovFile.h"
#include "exporter/ExportParams.h"
#include "exporter/ExportRender.h"
#include "exporter/ExporterLocalRec.h"

namespace {

using keo::exporter::readParamInt;

// The frame as it must be before a byte of it is read: the size and format we
// asked for, rows wide enough for a packed row, and pixels to read.
int checkFrame(const PrSDKPPixSuite* ppix, PPixHand frame, int width, int height,
               const unsigned char** pixels, size_t* rowBytes) {
    char* address = nullptr;
    int32_t bytes = 0;
    PrPixelFormat format = 0;
    prRect bounds{};
    if (ppix->GetPixels(frame, PrPPixBufferAccess_ReadOnly, &address) != suiteError_NoError ||
        ppix->GetRowBytes(frame, &bytes) != suiteError_NoError ||
        ppix->GetPixelFormat(frame, &format) != suiteError_NoError ||
        ppix->GetBounds(frame, &bounds) != suiteError_NoError || !address)
        return kKEOExportBadFrame;
    // Only BGRA is asked for; a float frame would be read as bytes and its
    // rows are four times wider than the ARGB picture made from them.
    if (format != PrPixelFormat_BGRA_4444_8u)
        return kKEOExportBadFrame;
    if (bounds.right - bounds.left != width || bounds.bottom - bounds.top != height)
        return kKEOExportBadFrame;
    if (bytes < 0 || static_cast<uint64_t>(bytes) < static_cast<uint64_t>(width) * 4)
        return kKEOExportBadFrame;
    *pixels = reinterpret_cast<const unsigned char*>(address);
    *rowBytes = static_cast<size_t>(bytes);
    return 0;
}

// The ARGB picture and the encoded sample of a frame, kept from one frame to
// the next: an export asks for the same sizes frame after frame, and fresh
// megabytes each time would cost their page faults on the render thread. An
// export that finds them taken by another one at the same time uses buffers
// of its own for that frame.
struct KeptBuffers {
    std::mutex taken;
    keo::ByteBuffer argb, payload;
    ~KeptBuffers() {
        keo::release(argb);
        keo::release(payload);
    }
} g_kept;

// The frame's working memory: the kept buffers when free, else its own.
struct FrameMemory {
    std::unique_lock<std::mutex> kept{g_kept.taken, std::try_to_lock};
    keo::ByteBuffer ownArgb, ownPayload;
    ~FrameMemory() {
        keo::release(ownArgb);
        keo::release(ownPayload);
    }
    unsigned char* argb(size_t n) { return keo::reserve(kept ? g_kept.argb : ownArgb, n); }
    unsigned char* payload(size_t n) { return keo::reserve(kept ? g_kept.payload : ownPayload, n); }
};

// Encodes the packed ARGB picture and appends it as one video sample.
int encodeAndWrite(unsigned char* argb, int width, int height, exDoExportRec* record,
                   MovFile* movie, FrameMemory& memory) {
    uint64_t capacity;
    if (!KEOMaxFramePayloadSize(width, height, &capacity))
        return kKEOExportBadArgument;
    unsigned char* payload = memory.payload(capacity);
    if (!payload)
        return kKEOExportOutOfMemory;
    const int length = CompressDXTFrame(argb, payload, width, height, width * 4, record);
    int result = 0;
    if (length <= 0) {
        // An empty sample would be an undecodable frame in the movie.
        result = kKEOExportEncodeFailed;
    } else {
        LargeFp* fp = movie->prepareToWriteFrame(0);
        if (!fp ||
            fwrite_L(payload, static_cast<size_t>(length), 1, fp) != static_cast<size_t>(length)) {
            // The chunk is not ended, so the tables never point at a torn
            // frame; the frames before it stay valid.
            if (fp)
                movie->noteWriteError();
            result = kKEOExportWriteFailed;
        } else if (movie->endWriteFrame() != 0) {
            result = kKEOExportWriteFailed;
        }
    }
    return result;
}

} // namespace

int RenderAndWriteVideoFrame(long long time, exDoExportRec* exportRecord) {
    if (!exportRecord || !exportRecord->privateData)
        return kKEOExportBadArgument;
    const ExporterLocalRec* rec = static_cast<const ExporterLocalRec*>(exportRecord->privateData);
    if (!rec->movFile || !rec->ppixSuite || !rec->sequenceRenderSuite)
        return kKEOExportBadArgument;

    int32_t width, height, transparency;
    int err = readParamInt(exportRecord, "ADBEVideoWidth", &width);
    if (err == 0)
        err = readParamInt(exportRecord, "ADBEVideoHeight", &height);
    if (err == 0)
        err = readParamInt(exportRecord, "KEOTransparency", &transparency);
    if (err != 0)
        return err;
    // The host's bounds are 16-bit, so nothing larger can come back.
    if (width < 1 || height < 1 || width > 32767 || height > 32767)
        return kKEOExportBadArgument;

    static const PrPixelFormat kFormats[1] = {PrPixelFormat_BGRA_4444_8u};
    SequenceRender_ParamsRec request{};
    request.inRequestedPixelFormatArray = kFormats;
    request.inRequestedPixelFormatArrayCount = 1;
    request.inWidth = width;
    request.inHeight = height;
    request.inPixelAspectRatioNumerator = 1;
    request.inPixelAspectRatioDenominator = 1;
    request.inRenderQuality = 3;
    request.inFieldType = 0;
    request.inDeinterlace = 0;
    request.inDeinterlaceQuality = 3;
    request.inCompositeOnBlack = transparency == 1 ? 0 : 1;

    SequenceRender_GetFrameReturnRec rendered{};
    const int renderResult = rec->sequenceRenderSuite->RenderVideoFrame(rec->videoRenderID, time,
                                                                        &request, 0, &rendered);
    PPixHand frame = rendered.outFrame;
    if (!frame)
        return renderResult != 0 ? renderResult : kKEOExportNoFrame;
    // A stopped render ends the export; its frame, if any, is still ours.
    if (renderResult == suiteError_RenderAbort) {
        rec->ppixSuite->Dispose(frame);
        return renderResult;
    }

    const unsigned char* pixels = nullptr;
    size_t rowBytes = 0;
    int result = checkFrame(rec->ppixSuite, frame, width, height, &pixels, &rowBytes);
    if (result == 0) {
        const size_t pictureSize = static_cast<size_t>(width) * 4 * static_cast<size_t>(height);
        FrameMemory memory;
        unsigned char* argb = memory.argb(pictureSize);
        if (!argb) {
            result = kKEOExportOutOfMemory;
        } else {
            keo::convertPixels(
                {keo::PixelLayout::BGRA, keo::PixelLayout::ARGB, keo::RowOrder::Flipped}, pixels,
                rowBytes, argb, static_cast<size_t>(width) * 4, width, height);
            result = encodeAndWrite(argb, width, height, exportRecord, rec->movFile, memory);
        }
    }
    rec->ppixSuite->Dispose(frame);
    // A render that complained but delivered a frame has had it written; its
    // complaint is still the caller's to see.
    return result != 0 ? result : renderResult;
}
