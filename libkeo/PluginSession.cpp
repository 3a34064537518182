// Loading the importer module and driving it as a host does.
#include "libkeo/PluginSession.h"

#include "base/AudioSamples.h"
#include "libkeo/Failure.h"
#include "libkeo/MovieSurvey.h"
#include "libkeo/PluginResults.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <unistd.h>

namespace keo::lib {
namespace {

constexpr uint32_t kZUVM = ('Z' << 24) | ('U' << 16) | ('V' << 8) | 'M';

std::string executableFolder() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return "";
    buf[n] = '\0';
    std::string exe(buf);
    size_t slash = exe.rfind('/');
    return slash == std::string::npos ? "." : exe.substr(0, slash);
}

void enumerateFormats(PluginSession& s) {
    bool keoFormat = false;
    for (int i = 0; i < 64; ++i) {
        imIndFormatRec rec;
        int32_t r = keo::host::formatAt(&s.importer, i, &rec);
        if (r == imBadFormatIndex)
            break;
        if (r != malNoError)
            fail(s.modulePath, "imGetIndFormat(" + std::to_string(i) + "): " + resultWords(r));
        if (rec.filetype == kZUVM)
            keoFormat = true;
    }
    if (!keoFormat)
        fail(s.modulePath, "the module declares no ZUVM format; is it the KEO importer?");
    bool argb = false;
    for (int i = 0; i < 64; ++i) {
        imIndPixelFormatRec rec;
        int32_t r = keo::host::pixelFormatAt(&s.importer, i, &rec);
        if (r == imBadFormatIndex)
            break;
        if (r != malNoError)
            fail(s.modulePath, "imGetIndPixelFormat(" + std::to_string(i) + "): " + resultWords(r));
        if (rec.outPixelFormat == PrPixelFormat_ARGB_4444_8u)
            argb = true;
    }
    if (!argb)
        fail(s.modulePath, "the module offers no ARGB 8-bit pixel format");
}

void describe(PluginSession& s, const imFileInfoRec8& fi) {
    MovieInfo& m = s.info;
    m = MovieInfo();
    m.width = fi.vidInfo.imageWidth;
    m.height = fi.vidInfo.imageHeight;
    m.depth = fi.vidInfo.depth;
    m.alpha = fi.vidInfo.alphaType != 0;
    m.scale = fi.vidScale;
    m.sampleSize = fi.vidSampleSize;
    m.duration = fi.vidDuration;
    if (!fi.hasVideo || m.width < 1 || m.height < 1)
        fail(s.moviePath, "the plug-in reports no video in it", kExitBadMovie);
    if (m.scale <= 0 || m.sampleSize <= 0)
        fail(s.moviePath,
             "the plug-in reports no usable frame rate (" + std::to_string(m.scale) + "/" +
                 std::to_string(m.sampleSize) + ")",
             kExitBadMovie);
    m.frames = m.duration / m.sampleSize;
    m.ticksPerFrame = keo::host::ticksPerFrame(fi);
    m.hasAudio = fi.hasAudio != 0;
    if (m.hasAudio) {
        m.channels = fi.audInfo.numChannels;
        m.sampleRate = fi.audInfo.sampleRate;
        m.sampleType = fi.audInfo.sampleType;
        m.audioFrames = fi.audDuration;
    }
}

// A 99 is the plug-in's answer for any failed request; memory that ran out
// is said as such, not as a damaged movie (MovieSurvey finds out which).
void checkFrameMemory(const PluginSession& s, int index, int result) {
    if (result == imFrameOrAudioErr &&
        frameFailedForMemory(s.moviePath, index, s.info.width, s.info.height))
        throw OutOfMemory("frame " + std::to_string(index));
}

} // namespace

int bitsOfSampleType(int sampleType) {
    switch (sampleType) {
    case kPrAudioSampleType_8BitInt:
    case kPrAudioSampleType_8BitTwosInt:
        return 8;
    case kPrAudioSampleType_16BitInt:
        return 16;
    case kPrAudioSampleType_24BitInt:
        return 24;
    case kPrAudioSampleType_32BitInt:
    case kPrAudioSampleType_32BitFloat:
        return 32;
    default:
        return 0;
    }
}

PluginSession::~PluginSession() {
    if (!host)
        return;
    if (movieOpen || importer.privateData)
        closeMovie(*this);
    if (ownsHost)
        keo::host::destroyHost(host);
    host = nullptr;
}

std::string locatePlugin(const std::string& option) {
    if (!option.empty())
        return option;
    const char* env = std::getenv("KEO_PLUGIN");
    if (env && *env)
        return env;
    std::string beside = executableFolder() + "/../lib/KEOImporter.so";
    char resolved[PATH_MAX];
    return realpath(beside.c_str(), resolved) ? std::string(resolved) : beside;
}

void startSession(PluginSession& s, const std::string& modulePath) {
    s.modulePath = modulePath;
    switch (keo::host::loadModule(&s.module, modulePath)) {
    case keo::host::kDriverOK:
        break;
    case keo::host::kDriverModuleMissing:
        fail(modulePath, "cannot find the plug-in module (" + s.module.error +
                             "); build it with `make` or give --plugin PATH");
    case keo::host::kDriverNoEntry:
        fail(modulePath, "the module exports no xImportEntry");
    default:
        fail(modulePath, "cannot load the plug-in module: " + s.module.error);
    }
    // Every frame keo is handed was written whole by the plug-in, and a frame
    // it refused never reaches an output, so new frames need no paint.
    keo::host::HostConfig config;
    config.paintNewFrames = false;
    s.host = keo::host::createHost(config);
    if (!s.host)
        fail("host", "cannot create the stand-in host");
    int32_t r = keo::host::startImporter(&s.importer, s.module.entry, s.host);
    if (r != malNoError)
        fail(modulePath, "imInit: " + resultWords(r));
    enumerateFormats(s);
}

void joinSession(PluginSession& s, const std::string& modulePath, ImportEntryFunc entry,
                 keo::host::StandInHost* host) {
    s.modulePath = modulePath;
    s.host = host;
    s.ownsHost = false;
    int32_t r = keo::host::startImporter(&s.importer, entry, host);
    if (r != malNoError)
        fail(modulePath, "imInit: " + resultWords(r));
    enumerateFormats(s);
}

void openMovie(PluginSession& s, const std::string& path) {
    s.moviePath = path;
    // The plug-in only says yes or no; what the system would say comes first.
    checkMovieReadable(path);
    if (keo::host::openFile(&s.importer, path) != malNoError)
        fail(path, refusalReason(path), kExitBadMovie);
    s.movieOpen = true;
    if (keo::host::describeFile(&s.importer) != malNoError)
        fail(path, refusalReason(path), kExitBadMovie);
    describe(s, s.importer.info);
    s.audioDelivered = 0;
}

int fetchFrame(PluginSession& s, int index, uint8_t* argb) {
    int r = keo::host::readFrame(&s.importer, keo::host::frameTime(s.importer.info, index), argb);
    // Each frame is fetched once, so this session's cached frames would only
    // pile up; sessions sharing the host (the Python module's) keep theirs.
    keo::host::forgetImporter(s.host, s.importer.importerID);
    checkFrameMemory(s, index, r);
    return r;
}

int fetchFrameRows(PluginSession& s, int index, const std::function<void(const FrameRows&)>& use) {
    keo::host::BorrowedFrame frame;
    const int32_t r =
        keo::host::borrowFrame(&s.importer, keo::host::frameTime(s.importer.info, index), &frame);
    try {
        if (r == malNoError)
            use(FrameRows{frame.top, frame.pitch});
    } catch (...) {
        keo::host::returnFrame(&s.importer, &frame);
        keo::host::forgetImporter(s.host, s.importer.importerID);
        throw;
    }
    keo::host::returnFrame(&s.importer, &frame);
    // Each frame is fetched once (see fetchFrame).
    keo::host::forgetImporter(s.host, s.importer.importerID);
    checkFrameMemory(s, index, r);
    return r;
}

void copyFrameRows(const FrameRows& rows, int width, int height, keo::PixelLayout to,
                   uint8_t* dest) {
    // Rows that run upwards in memory are read from the lowest, flipped.
    const bool upwards = rows.pitch < 0;
    const uint8_t* lowest =
        upwards ? rows.top + static_cast<ptrdiff_t>(height - 1) * rows.pitch : rows.top;
    keo::convertPixels(
        {keo::PixelLayout::ARGB, to, upwards ? keo::RowOrder::Flipped : keo::RowOrder::Same},
        lowest, static_cast<size_t>(upwards ? -rows.pitch : rows.pitch), dest,
        static_cast<size_t>(width) * keo::pixelBytes(to), width, height);
}

int fetchAudio(PluginSession& s, int64_t position, uint32_t count, float** planar,
               int64_t* delivered) {
    int32_t r = keo::host::readAudio(&s.importer, position, count, planar);
    // The importer fills what lies before the end of the track and leaves
    // the rest of the buffers alone; the host works out the same count.
    int64_t first = position >= 0 ? position : s.audioDelivered;
    int64_t n = s.info.audioFrames - first;
    if (n > count)
        n = count;
    if (n < 0)
        n = 0;
    s.audioDelivered = first + n;
    *delivered = n;
    if (r == imFrameOrAudioErr && audioFailedForMemory(s.moviePath, first, n))
        throw OutOfMemory("audio sample frames " + sampleSpan(first, n));
    return r;
}

std::string sampleSpan(int64_t first, int64_t count) {
    if (count <= 1)
        return std::to_string(first);
    return std::to_string(first) + " to " + std::to_string(first + count - 1);
}

void closeMovie(PluginSession& s) {
    if (!s.importer.entry || !s.host)
        return;
    if (s.movieOpen)
        keo::host::quietFile(&s.importer);
    s.movieOpen = false;
    keo::host::closeFile(&s.importer);
}

void endSession(PluginSession& s) {
    if (!s.host)
        return;
    closeMovie(s);
    if (!s.ownsHost)
        return;
    keo::host::clearFrameCache(s.host);
    std::string report = keo::host::leakReport(s.host);
    keo::host::destroyHost(s.host);
    s.host = nullptr;
    if (!report.empty()) {
        while (!report.empty() && report.back() == '\n')
            report.pop_back();
        for (char& c : report)
            if (c == '\n')
                c = ';';
        fail("plug-in", "did not give everything back: " + report);
    }
}

} // namespace keo::lib
