// Loading the importer module and driving it as a host does.
#include "PluginSession.h"

#include "Failure.h"
#include "MovieSurvey.h"
#include "PluginResults.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

namespace keo::tool {
namespace {

constexpr uint32_t kZUVM = ('Z' << 24) | ('U' << 16) | ('V' << 8) | 'M';
constexpr int32_t kImporterID = 1;

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

// UTF-8 to UTF-16; a byte that does not start a valid sequence is taken as
// Latin-1 so that every path converts to something.
std::vector<prUTF16Char> toUtf16(const std::string& s) {
    std::vector<prUTF16Char> out;
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int extra = c >= 0xF0 && c < 0xF8   ? 3
                    : c >= 0xE0 && c < 0xF0 ? 2
                    : c >= 0xC0 && c < 0xE0 ? 1
                                            : 0;
        uint32_t cp = c;
        if (extra > 0 && i + extra < s.size()) {
            uint32_t v = c & (0x3F >> extra);
            bool ok = true;
            for (int k = 1; ok && k <= extra; ++k) {
                unsigned char d = static_cast<unsigned char>(s[i + k]);
                ok = (d & 0xC0) == 0x80;
                v = (v << 6) | (d & 0x3F);
            }
            if (ok && v <= 0x10FFFF) {
                cp = v;
                i += extra;
            }
        }
        ++i;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<prUTF16Char>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<prUTF16Char>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<prUTF16Char>(cp));
        }
    }
    out.push_back(0);
    return out;
}

int32_t call(PluginSession& s, int32_t selector, void* param1, void* param2) {
    return s.entry(selector, keo::host::importerStdParms(s.host), param1, param2);
}

void enumerateFormats(PluginSession& s) {
    bool keoFormat = false;
    for (int i = 0; i < 64; ++i) {
        imIndFormatRec rec;
        std::memset(&rec, 0, sizeof rec);
        int32_t r =
            call(s, imGetIndFormat, reinterpret_cast<void*>(static_cast<intptr_t>(i)), &rec);
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
        imIndPixelFormatRec rec{};
        int32_t r =
            call(s, imGetIndPixelFormat, reinterpret_cast<void*>(static_cast<intptr_t>(i)), &rec);
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
    m.ticksPerFrame = keo::host::kTicksPerSecond * m.sampleSize / m.scale;
    m.hasAudio = fi.hasAudio != 0;
    if (m.hasAudio) {
        m.channels = fi.audInfo.numChannels;
        m.sampleRate = fi.audInfo.sampleRate;
        m.sampleType = fi.audInfo.sampleType;
        m.audioFrames = fi.audDuration;
    }
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
    if (movieOpen || privateData)
        closeMovie(*this);
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
    struct stat st;
    if (stat(modulePath.c_str(), &st) != 0)
        fail(modulePath, std::string("cannot find the plug-in module (") + std::strerror(errno) +
                             "); build it with `make` or give --plugin PATH");
    // RTLD_LOCAL keeps the module's own symbols out of the tool's namespace,
    // as a host keeps each plug-in apart.
    void* module = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module)
        fail(modulePath, std::string("cannot load the plug-in module: ") + dlerror());
    s.entry = reinterpret_cast<ImportEntryFunc>(dlsym(module, "xImportEntry"));
    if (!s.entry)
        fail(modulePath, "the module exports no xImportEntry");
    s.host = keo::host::createHost();
    if (!s.host)
        fail("host", "cannot create the stand-in host");
    s.suites = keo::host::hostSuites(s.host);
    imImportInfoRec info;
    std::memset(&info, 0, sizeof info);
    int32_t r = call(s, imInit, &info, nullptr);
    if (r != imIsCacheable && r != malNoError)
        fail(modulePath, "imInit: " + resultWords(r));
    enumerateFormats(s);
}

void openMovie(PluginSession& s, const std::string& path) {
    s.moviePath = path;
    // The plug-in only says yes or no; what the system would say comes first.
    checkMovieReadable(path);
    // The whole path goes to the plug-in, however long: it opens what the
    // host names, and keeps a cut copy only as the record's name.
    s.path16 = toUtf16(path);

    imFileOpenRec8 open;
    std::memset(&open, 0, sizeof open);
    open.fileinfo.importerID = kImporterID;
    open.fileinfo.filetype = kZUVM;
    open.fileinfo.filepath = s.path16.data();
    open.fileinfo.fileref = imInvalidFileRef;
    open.inReadWrite = 0;
    s.fileRef = imInvalidFileRef;
    int32_t r = call(s, imOpenFile8, &s.fileRef, &open);
    s.privateData = open.privatedata;
    if (r != malNoError)
        fail(path, refusalReason(path), kExitBadMovie);
    s.movieOpen = true;

    imFileAccessRec8 access;
    std::memset(&access, 0, sizeof access);
    access.importerID = kImporterID;
    access.filetype = kZUVM;
    access.filepath = s.path16.data();
    access.fileref = s.fileRef;
    imFileInfoRec8 fi;
    std::memset(&fi, 0, sizeof fi);
    fi.vidInfo.importerID = kImporterID;
    fi.privatedata = s.privateData;
    r = call(s, imGetInfo8, &access, &fi);
    if (fi.privatedata)
        s.privateData = fi.privatedata;
    if (r != malNoError)
        fail(path, refusalReason(path), kExitBadMovie);
    describe(s, fi);
    s.audioDelivered = 0;
}

int fetchFrame(PluginSession& s, int index, uint8_t* argb) {
    const MovieInfo& m = s.info;
    imFrameFormat format{m.width, m.height, PrPixelFormat_ARGB_4444_8u};
    PPixHand frame = nullptr;
    imSourceVideoRec rec;
    std::memset(&rec, 0, sizeof rec);
    rec.inPrivateData = s.privateData;
    rec.inFrameTime = static_cast<PrTime>(index) * m.ticksPerFrame;
    rec.inFrameFormat = &format;
    rec.outFrame = &frame;
    int32_t r = call(s, imGetSourceVideo, nullptr, &rec);
    if (!frame)
        return r != malNoError ? r : -1;
    // Host frames are bottom row first with padded rows; the picture the
    // decoder made is top row first and packed, so undo both.
    prRect bounds{};
    int32_t rowBytes = 0;
    char* pixels = nullptr;
    s.suites.ppix->GetBounds(frame, &bounds);
    s.suites.ppix->GetRowBytes(frame, &rowBytes);
    s.suites.ppix->GetPixels(frame, PrPPixBufferAccess_ReadOnly, &pixels);
    const size_t packed = static_cast<size_t>(m.width) * 4;
    bool fits = bounds.right - bounds.left == m.width && bounds.bottom - bounds.top == m.height &&
                pixels && rowBytes >= 0 && static_cast<size_t>(rowBytes) >= packed;
    if (fits) {
        for (int row = 0; row < m.height; ++row)
            std::memcpy(argb + static_cast<size_t>(row) * packed,
                        pixels + static_cast<size_t>(m.height - 1 - row) * rowBytes, packed);
    }
    s.suites.ppix->Dispose(frame);
    // Each frame is fetched once, so the host's cache would only grow.
    keo::host::clearFrameCache(s.host);
    if (!fits && r == malNoError)
        return -1;
    return r;
}

int fetchAudio(PluginSession& s, int64_t position, uint32_t count, float** planar,
               int64_t* delivered) {
    imImportAudioRec7 rec;
    std::memset(&rec, 0, sizeof rec);
    rec.privateData = s.privateData;
    rec.position = position;
    rec.size = count;
    rec.buffer = planar;
    int32_t r = call(s, imImportAudio7, nullptr, &rec);
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
    return r;
}

std::string sampleSpan(int64_t first, int64_t count) {
    if (count <= 1)
        return std::to_string(first);
    return std::to_string(first) + " to " + std::to_string(first + count - 1);
}

void closeMovie(PluginSession& s) {
    if (!s.entry || !s.host)
        return;
    if (s.movieOpen)
        call(s, imQuietFile, &s.fileRef, s.privateData);
    s.movieOpen = false;
    if (s.privateData)
        call(s, imCloseFile, &s.fileRef, s.privateData);
    s.privateData = nullptr;
    s.fileRef = imInvalidFileRef;
}

void endSession(PluginSession& s) {
    if (!s.host)
        return;
    closeMovie(s);
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

} // namespace keo::tool
