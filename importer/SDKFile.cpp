// Fork utilities over the SDK_File layout: frame and float-audio reads,
// plain block helpers, row packing and a nearest-neighbour scaler.
#include "importer/SDKFile.h"

#include <cstdlib>
#include <cstring>

#include "base/Bounds.h"

int SDKForkSetPosition(SDKFork* fork, int64_t offset, bool fromCurrent) {
    if (!fork || !fork->stream)
        return kSDKForkPositionError;
    if (!fromCurrent && offset < 0)
        return kSDKForkPositionError;
    return fseeko(fork->stream, static_cast<off_t>(offset), fromCurrent ? SEEK_CUR : SEEK_SET) == 0
               ? kSDKForkNoError
               : kSDKForkPositionError;
}

int SDKForkRead(SDKFork* fork, int64_t size, void* buffer) {
    if (!fork || !fork->stream || size < 0 || (size > 0 && !buffer))
        return kSDKForkReadError;
    size_t n = static_cast<size_t>(size);
    return std::fread(buffer, 1, n, fork->stream) == n ? kSDKForkNoError : kSDKForkReadError;
}

int ReadSDK_File(void* fork, int frameSize, int frame, char* destination) {
    if (frameSize < 0 || frame < 0)
        return kSDKForkReadError;
    // Every frame after the first is preceded by 4 bytes.
    int64_t offset = kSDKFileHeaderSize + static_cast<int64_t>(frame) * frameSize +
                     (frame >= 1 ? static_cast<int64_t>(frame) * 4 : 0);
    SDKFork* f = static_cast<SDKFork*>(fork);
    if (SDKForkSetPosition(f, offset, false) != kSDKForkNoError ||
        SDKForkRead(f, frameSize, destination) != kSDKForkNoError)
        return kSDKForkReadError;
    return kSDKForkNoError;
}

int setPointerToAudioStart(ImporterLocalRec8** record, long long sample, void* fork) {
    ImporterLocalRec8* rec = record ? *record : nullptr;
    if (!rec || sample < 0)
        return kSDKForkPositionError;
    const SDK_File& header = rec->fileHeader;
    int64_t offset = kSDKFileHeaderSize;
    int64_t step;
    if (!keo::checkedMul(static_cast<int64_t>(sample), int64_t{4}, &step) ||
        !keo::checkedAdd(offset, step, &offset))
        return kSDKForkPositionError;
    // The audio follows the frames, each stored with its 4-byte prefix.
    int32_t frames = header.numFrames;
    if (frames != 0 && header.hasVideo) {
        int64_t width = header.width;
        int64_t height = header.height;
        int64_t frameBytes;
        if (frames < 0 || width < 0 || height < 0 ||
            !keo::checkedMul(width * height, int64_t{4}, &frameBytes) ||
            !keo::checkedMul(int64_t{frames}, frameBytes + 4, &step) ||
            !keo::checkedAdd(offset, step, &offset))
            return kSDKForkPositionError;
    }
    return SDKForkSetPosition(static_cast<SDKFork*>(fork), offset, false);
}

int readAudioToBuffer(long long count, long long length, int channels, void* fork,
                      float** channelBuffers) {
    SDKFork* f = static_cast<SDKFork*>(fork);
    int64_t bytes;
    int64_t skip;
    if (count < 0 || length < count ||
        !keo::checkedMul(static_cast<int64_t>(count), int64_t{4}, &bytes) ||
        !keo::checkedMul(static_cast<int64_t>(length - count), int64_t{4}, &skip))
        return kSDKForkReadError;
    int result = kSDKForkNoError;
    for (int channel = 0; channel < channels; channel++) {
        if (!channelBuffers || SDKForkRead(f, bytes, channelBuffers[channel]) != kSDKForkNoError)
            return kSDKForkReadError;
        result = SDKForkSetPosition(f, skip, true);
    }
    return result;
}

void* myRealloc(void* old, int size) {
    std::free(old);
    return size > 0 ? std::malloc(static_cast<size_t>(size)) : nullptr;
}

void myFree(void* block) {
    std::free(block);
}

void RemoveRowPadding(char* src, char* dst, int rowBytes, int bytesPerPixel, int width,
                      int height) {
    if (!src || !dst || width < 0 || bytesPerPixel < 0 || height < 1)
        return;
    int64_t packed = static_cast<int64_t>(width) * bytesPerPixel;
    if (packed >= rowBytes)
        return;
    // First row first: in place, every row moves to where an earlier one was.
    for (int64_t row = 0; row < height; row++)
        std::memmove(dst + row * packed, src + row * rowBytes, static_cast<size_t>(packed));
}

namespace sdkfile {
int GetPixelFormatSize(unsigned int) {
    return 4;
}
} // namespace sdkfile

uint32_t GetSrcPix(char* source, SDK_File header, unsigned int x, unsigned int y, float xScale,
                   float yScale) {
    int32_t width = header.width;
    int32_t height = header.height;
    if (!source || width < 1 || height < 1)
        return 0;
    float fx = static_cast<float>(x) * xScale;
    float fy = static_cast<float>(y) * yScale;
    // Truncation toward zero; a scale that lands past the picture keeps to
    // its edge instead of reading beyond it.
    int64_t column =
        fx > 0 ? (fx < static_cast<float>(width) ? static_cast<int64_t>(fx) : width - 1) : 0;
    int64_t row =
        fy > 0 ? (fy < static_cast<float>(height) ? static_cast<int64_t>(fy) : height - 1) : 0;
    uint32_t pixel;
    std::memcpy(&pixel, source + (row * width + column) * 4, sizeof(pixel));
    return pixel;
}

int ScaleAndBltFrame(imStdParms*, SDK_File header, unsigned int frameSize, char* source,
                     imImportImageRec* image) {
    int32_t width = header.width;
    int32_t height = header.height;
    if (!source || !image || !image->pix || width < 1 || height < 1 || image->dstWidth < 1 ||
        image->dstHeight < 1 ||
        static_cast<int64_t>(image->rowbytes) < static_cast<int64_t>(image->dstWidth) * 4)
        return imOtherErr;
    if (static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4 > frameSize)
        return imOtherErr;
    float xScale = static_cast<float>(width) / static_cast<float>(image->dstWidth);
    float yScale = static_cast<float>(height) / static_cast<float>(image->dstHeight);
    for (int32_t y = 0; y < image->dstHeight; y++) {
        char* row = image->pix + static_cast<int64_t>(y) * image->rowbytes;
        for (int32_t x = 0; x < image->dstWidth; x++) {
            uint32_t pixel = GetSrcPix(source, header, static_cast<unsigned int>(x),
                                       static_cast<unsigned int>(y), xScale, yScale);
            std::memcpy(row + static_cast<int64_t>(x) * 4, &pixel, sizeof(pixel));
        }
    }
    return malNoError;
}
