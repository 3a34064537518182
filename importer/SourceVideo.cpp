// imGetSourceVideo: a frame request from the host's cache or from the movie.
#include "importer/SourceVideo.h"

#include <cstdlib>
#include <cstring>

#include "codec/FramePayload.h"
#include "container/LargeFp.h"
#include "container/MovFile.h"
#include "importer/ImporterSelectors.h"
#include "importer/TimeConversion.h"

namespace {

// Checks the frame that the host created before anything is written into
// it: its bounds and format are the ones asked for and its rows are wide
// enough, so the copy cannot reach beyond its pixel memory.
bool HostFrameFits(ImporterLocalRec8* rec, PPixHand frame, int width, int height, char** pixels,
                   int32_t* rowBytes) {
    prRect bounds = {};
    PrPixelFormat format = 0;
    if (rec->PPixSuite->GetBounds(frame, &bounds) != suiteError_NoError ||
        rec->PPixSuite->GetPixelFormat(frame, &format) != suiteError_NoError ||
        rec->PPixSuite->GetRowBytes(frame, rowBytes) != suiteError_NoError ||
        rec->PPixSuite->GetPixels(frame, PrPPixBufferAccess_ReadWrite, pixels) !=
            suiteError_NoError)
        return false;
    return *pixels && bounds.left == 0 && bounds.top == 0 && bounds.right == width &&
           bounds.bottom == height && format == PrPixelFormat_ARGB_4444_8u &&
           static_cast<int64_t>(*rowBytes) >= static_cast<int64_t>(width) * 4;
}

} // namespace

bool PictureCanBeDelivered(int width, int height) {
    return KEOPictureFits(width, height) && width <= kMaxFrameSide && height <= kMaxFrameSide;
}

int GetPixelFormatSize(PrPixelFormat pixelFormat) {
    return pixelFormat == PrPixelFormat_VUYA_4444_32f ? 16 : 4;
}

void AddRowPadding(char* src, char* dst, unsigned int rowBytes, unsigned int bytesPerPixel,
                   unsigned int width, unsigned int height) {
    uint64_t packed = static_cast<uint64_t>(width) * bytesPerPixel;
    if (!src || !dst || packed >= rowBytes)
        return;
    // Last row first: every row lands at or after where it was read, so no
    // row is overwritten before it has moved.
    for (uint64_t row = height; row-- > 0;)
        std::memmove(dst + row * rowBytes, src + row * packed, packed);
}

int ReadFrameIntoRows(ImporterLocalRec8* rec, int frame, const imFrameFormat* frameFormat,
                      char* dest, int64_t rowBytes) {
    if (!rec || !rec->movFile || !rec->fileRef || !dest)
        return imFrameOrAudioErr;
    MovFile* movie = rec->movFile;
    if (frame < 0 || frame >= movie->nFrames())
        return imFrameOrAudioErr;
    int width = 0;
    int height = 0;
    movie->frameSize(width, height);
    if (!PictureCanBeDelivered(width, height))
        return imFrameOrAudioErr;
    if (frameFormat && (frameFormat->inFrameWidth != width || frameFormat->inFrameHeight != height))
        return imFrameOrAudioErr;
    const int64_t packed = static_cast<int64_t>(width) * 4;
    if (rowBytes == 0)
        rowBytes = packed;
    if (rowBytes < packed)
        return imFrameOrAudioErr;

    // The movie located every frame when it opened, inside the file as it
    // was measured then, so the size can be trusted for the allocation.
    unsigned int size = static_cast<unsigned int>(movie->frameSize(frame));
    if (size < kKEOFrameHeaderSize + 1)
        return imFrameOrAudioErr;
    long long offset = movie->frameOffset(frame);
    if (offset < 0 || fseek_L(rec->fileRef, offset, SEEK_SET) != 0)
        return imFrameOrAudioErr;

    // The movie keeps the sample's memory and the decoder's between
    // requests. No zero-fill: a read that does not fill every byte is
    // refused below.
    keo::ByteBuffer* sampleBytes = nullptr;
    keo::ByteBuffer* scratch = nullptr;
    if (!movie->frameBuffers(&sampleBytes, &scratch))
        return imFrameOrAudioErr;
    unsigned char* sample = keo::reserve(*sampleBytes, size);
    if (!sample || fread_L(sample, 1, size, rec->fileRef) != size)
        return imFrameOrAudioErr;
    // Straight into the destination, bottom row first at its pitch; the
    // decoder checks the header and the LZF stream before it stores a pixel,
    // so a bad frame leaves the destination as it was.
    int result =
        DecodeFramePayloadInto(sample, size, width, height, reinterpret_cast<unsigned char*>(dest),
                               rowBytes, true, scratch);
    return result == kKEODecodeOK ? malNoError : imFrameOrAudioErr;
}

int ReadFrameToBuffer(imStdParms*, ImporterLocalRec8** record, int frame,
                      imFrameFormat* frameFormat, void*, char* dest) {
    return ReadFrameIntoRows(record ? *record : nullptr, frame, frameFormat, dest, 0);
}

int32_t ImGetSourceVideo(imStdParms*, imSourceVideoRec* request) {
    if (!request || !request->inFrameFormat || !request->outFrame)
        return imFrameOrAudioErr;
    ImporterLocalRec8* rec = RecordOf(request->inPrivateData);
    if (!rec || !rec->movFile || !rec->PPixCacheSuite || !rec->PPixCreatorSuite ||
        !rec->PPixSuite || rec->ticksPerFrame <= 0)
        return imFrameOrAudioErr;
    MovFile* movie = rec->movFile;
    imFrameFormat* format = request->inFrameFormat;
    *request->outFrame = nullptr;

    // The index is checked in 64 bits before it becomes an int, so a time
    // far past the end cannot wrap round onto a real frame.
    const keo::FrameRate told{rec->fileHeader.frameRateScale, rec->fileHeader.frameRateSampleSize};
    int64_t index = FrameOfHostTime(rec->TimeSuite, told, movie->nFrames(), request->inFrameTime);
    if (index < 0 || index >= movie->nFrames())
        return imFrameOrAudioErr;

    if (rec->PPixCacheSuite->GetFrameFromCache(rec->importerID, 0, index, 1, format,
                                               request->outFrame, nullptr,
                                               nullptr) == suiteError_NoError &&
        *request->outFrame)
        return malNoError;
    *request->outFrame = nullptr;

    int width = 0;
    int height = 0;
    movie->frameSize(width, height);
    if (!PictureCanBeDelivered(width, height))
        return imFrameOrAudioErr;
    // Frames are decoded at the movie's own size and in the one declared
    // format; anything else would need scaling or conversion.
    if (format->inFrameWidth == 0 && format->inFrameHeight == 0) {
        format->inFrameWidth = width;
        format->inFrameHeight = height;
    }
    if (format->inFrameWidth != width || format->inFrameHeight != height ||
        format->inPixelFormat != PrPixelFormat_ARGB_4444_8u)
        return imFrameOrAudioErr;

    prRect bounds = {0, 0, static_cast<int16_t>(height), static_cast<int16_t>(width)};
    PPixHand frame = nullptr;
    if (rec->PPixCreatorSuite->CreatePPix(&frame, PrPPixBufferAccess_ReadWrite,
                                          format->inPixelFormat, &bounds) != suiteError_NoError ||
        !frame)
        return imFrameOrAudioErr;

    char* pixels = nullptr;
    int32_t rowBytes = 0;
    int result = imFrameOrAudioErr;
    if (HostFrameFits(rec, frame, width, height, &pixels, &rowBytes))
        result = ReadFrameIntoRows(rec, static_cast<int>(index), format, pixels, rowBytes);
    if (result != malNoError) {
        // A frame that failed is neither cached nor handed out, so a later
        // request can still succeed.
        rec->PPixSuite->Dispose(frame);
        return imFrameOrAudioErr;
    }
    rec->PPixCacheSuite->AddFrameToCache(rec->importerID, 0, frame, index, nullptr, 0);
    *request->outFrame = frame;
    return malNoError;
}
