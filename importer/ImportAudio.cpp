// imImportAudio7: interleaved integer samples of the first audio track into
// the host's float buffers, through the host's Audio Suite.
#include "importer/ImportAudio.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "base/Bounds.h"
#include "container/LargeFp.h"
#include "container/MovFile.h"
#include "importer/ImporterLocalRec.h"
#include "importer/ImporterSelectors.h"

namespace {

constexpr bool kMachineIsLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// Reverses the bytes of every `width`-byte group, turning samples of the
// other byte order into the machine's.
void SwapSampleBytes(char* buffer, int64_t size, int width) {
    for (int64_t at = 0; at + width <= size; at += width) {
        for (int i = 0, j = width - 1; i < j; i++, j--)
            std::swap(buffer[at + i], buffer[at + j]);
    }
}

} // namespace

void calculateAudioRequest(imImportAudioRec7* request, long long length, long long* audioPosition,
                           long long* first, long long* count) {
    *first = request->position >= 0 ? request->position : *audioPosition;
    int64_t end;
    if (keo::checkedAdd(static_cast<int64_t>(*first), int64_t{request->size}, &end) &&
        end <= length) {
        *count = request->size;
        *audioPosition = end;
    } else {
        *count = length - *first;
        *audioPosition = length;
    }
}

int32_t ImImportAudio7(imImportAudioRec7* request) {
    if (!request)
        return imFrameOrAudioErr;
    ImporterLocalRec8* rec = RecordOf(request->privateData);
    if (!rec || !rec->movFile || !rec->fileRef)
        return imFrameOrAudioErr;
    MovFile* movie = rec->movFile;

    long long first = 0;
    long long count = 0;
    long long position = rec->audioPosition;
    calculateAudioRequest(request, movie->audioTrackNumberOfSamples(0), &position, &first, &count);
    rec->audioPosition = position;
    if (count < 0)
        return imFrameOrAudioErr;

    // Widths the Audio Suite cannot take are not an error, but nothing is
    // read or written for them; the format is checked before any
    // allocation so that a hostile width or channel count sizes nothing.
    int bits = movie->audioTrackAudioBits(0);
    int channels = movie->audioTrackNumberOfChannels(0);
    if ((bits != 8 && bits != 16 && bits != 24 && bits != 32) || channels < 1)
        return malNoError;
    if (count == 0)
        return malNoError;
    if (!rec->AudioSuite || !request->buffer)
        return imFrameOrAudioErr;

    int64_t frameBytes = static_cast<int64_t>(channels) * bits / 8;
    int64_t size;
    // Every byte delivered is stored in the file, so a request that needs
    // more than the file holds cannot be real and allocates nothing.
    if (!keo::checkedMul(frameBytes, static_cast<int64_t>(count), &size) ||
        size > movie->fileLength() || static_cast<uint64_t>(size) > SIZE_MAX)
        return imFrameOrAudioErr;
    // Every byte is either read from the file or the request fails, so no
    // zero-fill.
    char* buffer = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
    if (!buffer)
        return imFrameOrAudioErr;
    bool littleEndian = movie->audioBigEndian(); // true for "sowt" samples
    // Samples the file does not hold (a chunk past its end, a chunk the
    // tables do not place, a short read) fail the request: silence in
    // their place would be a failure reported as success.
    if (movie->readAudio(buffer, static_cast<long>(first), static_cast<long>(count), 0) != size) {
        std::free(buffer);
        return imFrameOrAudioErr;
    }
    if (littleEndian != kMachineIsLittleEndian)
        SwapSampleBytes(buffer, size, bits / 8);

    PrSDKAudioSuite* suite = rec->AudioSuite;
    uint32_t frames = static_cast<uint32_t>(count);
    uint32_t numChannels = static_cast<uint32_t>(channels);
    switch (bits) {
    case 8:
        suite->UninterleaveAndConvertFrom8BitInteger(buffer, request->buffer, numChannels, frames);
        break;
    case 16:
        suite->UninterleaveAndConvertFrom16BitInteger(buffer, request->buffer, numChannels, frames);
        break;
    case 24:
        suite->UninterleaveAndConvertFrom24BitInteger(buffer, request->buffer, numChannels, frames);
        break;
    default:
        suite->UninterleaveAndConvertFrom32BitInteger(buffer, request->buffer, numChannels, frames);
        break;
    }
    std::free(buffer);
    return malNoError;
}
