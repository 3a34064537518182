// imGetInfo8 and imGetPreferredFrameSize: describing an open movie to the host.
#include <cstdio>
#include <cstdlib>

#include "codec/FramePayload.h"
#include "container/LargeFp.h"
#include "container/MovFile.h"
#include "importer/ImporterLocalRec.h"
#include "importer/ImporterSelectors.h"
#include "importer/SourceVideo.h"
#include "importer/TimeConversion.h"

namespace {

// The alpha flag of the first frame's header. A first frame too short to
// hold a header and a block, or a header that cannot be read or that the
// decoder would refuse (its flag byte means nothing then), leaves the host's
// value alone.
void DescribeAlpha(ImporterLocalRec8* rec, imFileInfoRec8* info) {
    MovFile* movie = rec->movFile;
    unsigned char header[kKEOFrameHeaderSize] = {};
    if (movie->frameSize(0) < kKEOFrameHeaderSize + 1)
        return;
    long long offset = movie->frameOffset(0);
    if (offset < 0 || fseek_L(rec->fileRef, offset, SEEK_SET) != 0)
        return;
    if (fread_L(header, 1, sizeof(header), rec->fileRef) != sizeof(header))
        return;
    KEOFrameHeader fields;
    fields.read(header);
    if (!KEOFrameHeaderAcceptable(fields))
        return;
    info->vidInfo.alphaType = fields.hasAlpha != 0 ? 1 : 0;
}

bool DescribeVideo(ImporterLocalRec8* rec, imFileInfoRec8* info) {
    MovFile* movie = rec->movFile;
    if (!movie || !rec->fileRef)
        return false;
    int frames = movie->nFrames();
    if (frames < 1) {
        info->hasVideo = 0;
        info->vidInfo.imageWidth = 0;
        info->vidInfo.imageHeight = 0;
        return false;
    }
    info->hasVideo = 1;
    int width = 0;
    int height = 0;
    movie->frameSize(width, height);
    // The host would make frames of this size; refuse one no frame can fill.
    if (!PictureCanBeDelivered(width, height))
        return false;
    DescribeAlpha(rec, info);
    info->vidInfo.imageWidth = width;
    info->vidInfo.imageHeight = height;
    info->vidInfo.depth = static_cast<int16_t>(movie->frameBitDepth());
    info->vidInfo.fieldType = 0;
    info->vidInfo.pixelAspectNum = 1;
    info->vidInfo.pixelAspectDen = 1;

    // The rate of the time-to-sample table as a whole: a movie whose frames
    // last unequal times (a writer counting in milliseconds) plays at its
    // frames over their time, not at its first frame's rate.
    bool even = true;
    keo::FrameRate stored = movie->tableFrameRate(&even);
    if (!even)
        stored = MeasuredFrameRate(stored, frames);
    keo::FrameRate told;
    long long ticks = 0;
    // A rate that is none of the standard ones still plays at its own speed;
    // only a rate that is no rate at all (zero or negative) refuses the file.
    if (!TellFrameRate(rec->TimeSuite, stored, &told, &ticks))
        return false;
    const int scale = static_cast<int>(told.num);
    const int sampleSize = static_cast<int>(told.den);
    int64_t duration = static_cast<int64_t>(frames) * sampleSize;
    if (scale <= 0 || sampleSize <= 0 || duration > INT32_MAX)
        return false;
    // Frame requests find their frame by exactly the rate the host is told.
    rec->ticksPerFrame = ticks;
    rec->fileHeader.frameRateScale = scale;
    rec->fileHeader.frameRateSampleSize = sampleSize;
    info->vidScale = scale;
    info->vidSampleSize = sampleSize;
    info->vidDuration = static_cast<int32_t>(duration);
    return true;
}

void DescribeAudio(ImporterLocalRec8* rec, imFileInfoRec8* info) {
    MovFile* movie = rec->movFile;
    if (!movie->hasAudio()) {
        info->hasAudio = 0;
        return;
    }
    info->hasAudio = 1;
    info->audInfo.numChannels = movie->audioTrackNumberOfChannels(0);
    info->audInfo.sampleRate = static_cast<float>(movie->audioTrackSampleRate(0));
    switch (movie->audioTrackAudioBits(0)) {
    case 8:
        info->audInfo.sampleType = kPrAudioSampleType_8BitInt;
        break;
    case 16:
        info->audInfo.sampleType = kPrAudioSampleType_16BitInt;
        break;
    case 24:
        info->audInfo.sampleType = kPrAudioSampleType_24BitInt;
        break;
    case 32:
        info->audInfo.sampleType = kPrAudioSampleType_32BitInt;
        break;
    default:
        break;
    }
    info->audDuration = movie->audioTrackNumberOfSamples(0);
}

} // namespace

int32_t ImGetInfo8(imStdParms* stdParms, imFileAccessRec8* access, imFileInfoRec8* info) {
    if (!stdParms || !stdParms->piSuites || !info)
        return imBadFile;
    info->accessModes = stdParms->imInterfaceVer >= 6 ? 4 : 0;
    info->vidInfo.supportsAsyncIO = 0;
    info->vidInfo.supportsGetSourceVideo = 1;
    info->vidInfo.hasPulldown = 0;
    info->hasDataRate = 1;

    if (!info->privatedata) {
        info->privatedata = NewRecordHandle(stdParms);
        if (!info->privatedata)
            return imBadFile;
    }
    PrMemoryHandle handle = static_cast<PrMemoryHandle>(info->privatedata);
    ImporterLocalRec8* rec = RecordOf(handle);
    if (!rec)
        return imBadFile;
    PlugMemoryFuncs* mem = stdParms->piSuites->memFuncs;
    if (mem && mem->lockHandle)
        mem->lockHandle(handle);
    rec->memFuncs = mem;
    PlugUtilFuncs* util = stdParms->piSuites->utilFuncs;
    // Suites from an earlier description are given back first, so that
    // describing a file twice does not hold them twice.
    ReleaseRecordSuites(rec);
    rec->BasicSuite = util && util->getSPBasicSuite ? util->getSPBasicSuite() : nullptr;
    if (rec->BasicSuite)
        AcquireRecordSuites(rec);
    rec->audioPosition = 0;

    int32_t result = malNoError;
    if (DescribeVideo(rec, info)) {
        DescribeAudio(rec, info);
        rec->importerID = info->vidInfo.importerID;
        if (access && access->filepath) {
            int i = 0;
            for (; i < kRecordNameUnits - 1 && access->filepath[i] != 0; i++)
                rec->name[i] = access->filepath[i];
            rec->name[i] = 0;
        }
    } else {
        result = imBadFile;
    }
    if (mem && mem->unlockHandle)
        mem->unlockHandle(handle);
    return result;
}

int32_t ImGetPreferredFrameSize(imPreferredFrameSizeRec* request) {
    if (!request || request->inIndex != 0)
        return imOtherErr;
    ImporterLocalRec8* rec = RecordOf(request->inPrivateData);
    if (!rec || !rec->movFile)
        return imOtherErr;
    int width = 0;
    int height = 0;
    rec->movFile->frameSize(width, height);
    request->outWidth = width;
    request->outHeight = height;
    return malNoError;
}
