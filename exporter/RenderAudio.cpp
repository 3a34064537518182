// RenderAndWriteAllAudio: the export's audio, block by block, into the movie.
//
// The host renders planar floats; the movie stores interleaved integers of the
// export's sample type, one chunk per rendered block. Buffers are sized by the
// first block, which bounds every later one, so they are taken once.
#include "exporter/RenderAudio.h"

#include <cstdint>
#include <cstdlib>
#include <utility>

#include "KEOAudioChannels.h"
#include "base/Bounds.h"
#include "container/LargeFp.h"
#include "container/MovFile.h"
#include "exporter/ExportParams.h"
#include "exporter/ExportRender.h"
#include "exporter/ExporterLocalRec.h"

namespace keo::exporter {

int bytesPerSampleOfType(int sampleType) {
    switch (sampleType) {
    case kPrAudioSampleType_8BitInt:
        return 1;
    case kPrAudioSampleType_16BitInt:
        return 2;
    case kPrAudioSampleType_24BitInt:
        return 3;
    case kPrAudioSampleType_32BitInt:
        return 4;
    default:
        return 0;
    }
}

void swapSampleBytes(unsigned char* samples, size_t count, int bytesPerSample) {
    if (bytesPerSample < 2)
        return;
    const size_t width = static_cast<size_t>(bytesPerSample);
    for (size_t i = 0; i < count; ++i) {
        unsigned char* s = samples + i * width;
        for (size_t a = 0, b = width - 1; a < b; ++a, --b)
            std::swap(s[a], s[b]);
    }
}

} // namespace keo::exporter

int GetNumberOfAudioChannels(int channelType) {
    return KEOChannelsOfType(channelType);
}

int WriteMarkerAndProjectDataToFile(exportStdParms*, exDoExportRec*) {
    return 0;
}

namespace {

using keo::exporter::bytesPerSampleOfType;

using Interleave = prSuiteError (*)(float**, char*, uint32_t, uint32_t);

Interleave interleaveFor(const PrSDKAudioSuite* audio, int sampleType) {
    switch (sampleType) {
    case kPrAudioSampleType_8BitInt:
        return audio->ConvertAndInterleaveTo8BitInteger;
    case kPrAudioSampleType_16BitInt:
        return audio->ConvertAndInterleaveTo16BitInteger;
    case kPrAudioSampleType_24BitInt:
        return audio->ConvertAndInterleaveTo24BitInteger;
    case kPrAudioSampleType_32BitInt:
        return audio->ConvertAndInterleaveTo32BitInteger;
    default:
        return nullptr;
    }
}

struct AudioJob {
    const ExporterLocalRec* rec;
    uint32_t renderer;
    PrTime ticksPerFrame;
    int64_t remaining; // sample frames still to render
    int channels;
    int bytesPerSample;
    Interleave interleave;
};

// The host's largest block now; a failed or non-positive answer would make
// the loop write nothing forever.
int askMaxBlip(const AudioJob& job, int32_t* blip) {
    *blip = 0;
    const prSuiteError err =
        job.rec->sequenceAudioSuite->GetMaxBlip(job.renderer, job.ticksPerFrame, blip);
    if (err != suiteError_NoError)
        return err;
    return *blip > 0 ? 0 : kKEOExportHostFailed;
}

// Converts, orders and appends one rendered block as one audio chunk.
int writeBlock(const AudioJob& job, float** channelArrays, unsigned char* buffer, int32_t block) {
    MovFile* movie = job.rec->movFile;
    const size_t bytes = static_cast<size_t>(block) * static_cast<size_t>(job.channels) *
                         static_cast<size_t>(job.bytesPerSample);
    if (job.interleave(channelArrays, reinterpret_cast<char*>(buffer),
                       static_cast<uint32_t>(job.channels), static_cast<uint32_t>(block)) != 0)
        return kKEOExportHostFailed;
    // The host converts into machine order, which is little-endian here; any
    // format but "sowt" stores big-endian samples.
    if (!movie->audioBigEndian())
        keo::exporter::swapSampleBytes(buffer, bytes / static_cast<size_t>(job.bytesPerSample),
                                       job.bytesPerSample);
    LargeFp* fp = movie->prepareToWriteAudioSample();
    // A short write is not ended as a chunk, so no table points at it.
    if (!fp)
        return kKEOExportWriteFailed;
    if (fwrite_L(buffer, bytes, 1, fp) != bytes) {
        movie->noteWriteError();
        return kKEOExportWriteFailed;
    }
    if (movie->endWriteAudioSample(block) != 0)
        return kKEOExportWriteFailed;
    return 0;
}

// Steps 5 to 8 of an audio export: the block loop, with the buffers it needs.
int renderBlocks(AudioJob& job) {
    int32_t blip;
    int err = askMaxBlip(job, &blip);
    if (job.remaining == 0)
        return 0;
    if (err != 0)
        return err;
    // The first block is the largest the buffers ever hold.
    const int32_t first = job.remaining < blip ? static_cast<int32_t>(job.remaining) : blip;

    uint64_t arrayBytes, bufferBytes;
    if (!keo::checkedMul(static_cast<uint64_t>(first), uint64_t{sizeof(float)}, &arrayBytes) ||
        arrayBytes > UINT32_MAX ||
        !keo::checkedMul(static_cast<uint64_t>(first),
                         static_cast<uint64_t>(job.channels * job.bytesPerSample), &bufferBytes) ||
        bufferBytes > SIZE_MAX)
        return kKEOExportOutOfMemory;

    const PrSDKMemoryManagerSuite* memory = job.rec->memorySuite;
    float* channelArrays[6] = {};
    int result = 0;
    for (int c = 0; c < job.channels && result == 0; ++c) {
        channelArrays[c] =
            reinterpret_cast<float*>(memory->NewPtr(static_cast<uint32_t>(arrayBytes)));
        if (!channelArrays[c])
            result = kKEOExportOutOfMemory;
    }
    unsigned char* buffer = nullptr;
    if (result == 0) {
        buffer = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(bufferBytes), 1));
        if (!buffer)
            result = kKEOExportOutOfMemory;
    }

    int32_t block = first;
    while (result == 0) {
        result = job.rec->sequenceAudioSuite->GetAudio(job.renderer, static_cast<uint32_t>(block),
                                                       channelArrays, 0);
        if (result != 0)
            break;
        result = writeBlock(job, channelArrays, buffer, block);
        if (result != 0)
            break;
        job.remaining -= block;
        err = askMaxBlip(job, &blip);
        if (job.remaining == 0)
            break;
        if (err != 0) {
            result = err;
            break;
        }
        block = first;
        if (blip < block)
            block = blip;
        if (job.remaining < block)
            block = static_cast<int32_t>(job.remaining);
    }

    std::free(buffer);
    for (float* array : channelArrays)
        if (array)
            memory->PrDisposePtr(reinterpret_cast<PrMemoryPtr>(array));
    return result;
}

// A movie whose audio track was opened for another channel count or sample
// size would be unreadable, so that is refused before anything is rendered.
bool movieTakes(MovFile* movie, int channels, int bytesPerSample) {
    if (!movie->hasAudio())
        return false;
    return movie->audioTrackNumberOfChannels(0) == channels &&
           movie->audioTrackAudioBits(0) == bytesPerSample * 8;
}

} // namespace

int RenderAndWriteAllAudio(exDoExportRec* exportRecord, long long duration) {
    if (!exportRecord || !exportRecord->privateData)
        return kKEOExportBadArgument;
    const ExporterLocalRec* rec = static_cast<const ExporterLocalRec*>(exportRecord->privateData);
    if (!rec->movFile || !rec->timeSuite || !rec->memorySuite || !rec->sequenceAudioSuite ||
        !rec->audioSuite)
        return kKEOExportBadArgument;

    using keo::exporter::readParamFloat;
    using keo::exporter::readParamInt;
    using keo::exporter::readParamTime;
    PrTime ticksPerFrame = 0;
    double rate = 0;
    int32_t channelType = 0, sampleType = 0;
    int err = readParamTime(exportRecord, "ADBEVideoFPS", &ticksPerFrame);
    if (err == 0)
        err = readParamFloat(exportRecord, "ADBEAudioRatePerSecond", &rate);
    if (err == 0)
        err = readParamInt(exportRecord, "ADBEAudioNumChannels", &channelType);
    if (err == 0)
        err = readParamInt(exportRecord, "ADBEAudioSampleType", &sampleType);
    if (err != 0)
        return err;
    const float sampleRate = static_cast<float>(rate);
    if (duration < 0 || !(sampleRate > 0) || ticksPerFrame <= 0)
        return kKEOExportBadArgument;

    PrTime ticksPerSample = 0;
    err = rec->timeSuite->GetTicksPerAudioSample(sampleRate, &ticksPerSample);
    if (err != 0)
        return err;
    if (ticksPerSample <= 0)
        return kKEOExportHostFailed;

    AudioJob job{};
    job.rec = rec;
    job.ticksPerFrame = ticksPerFrame;
    job.remaining = duration / ticksPerSample;
    job.channels = GetNumberOfAudioChannels(channelType);
    job.bytesPerSample = bytesPerSampleOfType(sampleType);
    job.interleave = interleaveFor(rec->audioSuite, sampleType);

    err = rec->sequenceAudioSuite->MakeAudioRenderer(
        exportRecord->exporterPluginID, exportRecord->startTime, channelType,
        kPrAudioSampleType_32BitFloat, sampleRate, &job.renderer);
    const bool made = err == suiteError_NoError;
    int result;
    if (job.channels < 1 || job.bytesPerSample == 0 || !job.interleave)
        result = kKEOExportBadAudioFormat;
    else if (!made)
        result = err;
    else if (job.remaining > 0 && !movieTakes(rec->movFile, job.channels, job.bytesPerSample))
        result = kKEOExportBadAudioFormat;
    else
        result = renderBlocks(job);
    if (made)
        rec->sequenceAudioSuite->ReleaseAudioRenderer(exportRecord->exporterPluginID, job.renderer);
    return result;
}
