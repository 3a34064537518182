// The facts of `keo info` and their JSON form. The JSON keeps the fields of
// earlier versions with their meanings (width ... ticksPerFrame, audio with
// channels, rate, sampleType and frames) and adds the rest beside them.
#include "libkeo/InfoFacts.h"

#include "base/Timecode.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace keo::lib {
namespace {

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// "edits":[...], one object per edit of the video track, then the sound's.
void printEditsJson(std::FILE* out, const std::vector<MovieEdit>& edits) {
    std::fprintf(out, "\"edits\":[");
    for (size_t i = 0; i < edits.size(); ++i) {
        const MovieEdit& e = edits[i];
        std::fprintf(out,
                     "%s{\"track\":\"%s\",\"start\":%.6f,\"seconds\":%.6f,\"duration\":%lld,"
                     "\"mediaTime\":%lld,",
                     i ? "," : "", e.track, e.start, e.seconds, static_cast<long long>(e.duration),
                     static_cast<long long>(e.mediaTime));
        if (e.empty())
            std::fprintf(out, "\"mediaSeconds\":null,");
        else
            std::fprintf(out, "\"mediaSeconds\":%.6f,", e.mediaSeconds);
        std::fprintf(out, "\"rate\":%.6g}", e.rate);
    }
    std::fprintf(out, "]");
}

} // namespace

// Sample rates are floats in the host's record; whole rates print as integers.
std::string rateText(double rate) {
    char buf[32];
    if (std::floor(rate) == rate && std::fabs(rate) < 1e15)
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(rate));
    else
        std::snprintf(buf, sizeof buf, "%.9g", rate);
    return buf;
}

const char* channelLayout(int channels) {
    switch (channels) {
    case 1:
        return "mono";
    case 2:
        return "stereo";
    case 6:
        return "5.1";
    default:
        return "discrete";
    }
}

InfoFacts gatherInfo(const std::string& path, const MovieInfo& m) {
    InfoFacts f;
    f.m = m;
    const FrameRate rate = reduced({m.scale, m.sampleSize});
    f.rateNum = rate.num;
    f.rateDen = rate.den;
    f.fps = static_cast<double>(m.scale) / m.sampleSize;
    f.seconds = static_cast<double>(m.frames) * m.sampleSize / m.scale;
    f.timecode = timecodeOf(m.frames, rate);
    f.surveyed = surveyMovie(path, &f.survey);
    if (f.seconds > 0) {
        f.dataRate = std::llround(f.survey.fileBytes * 8.0 / f.seconds);
        f.videoDataRate = std::llround(f.survey.videoBytes * 8.0 / f.seconds);
    }
    f.bits = bitsOfSampleType(m.sampleType);
    if (m.hasAudio && m.sampleRate > 0)
        f.audioSeconds = static_cast<double>(m.audioFrames) / m.sampleRate;
    return f;
}

std::string byteOrderOf(const std::string& format) {
    if (format == "sowt")
        return "little-endian";
    if (format == "twos")
        return "big-endian";
    return "";
}

void printInfoJson(std::FILE* out, const std::string& path, const InfoFacts& f) {
    const MovieInfo& m = f.m;
    std::fprintf(out,
                 "{\"width\":%d,\"height\":%d,\"depth\":%d,\"alpha\":%d,\"frames\":%d,\"scale\":%d,"
                 "\"sampleSize\":%d,\"duration\":%d,\"ticksPerFrame\":%lld,",
                 m.width, m.height, m.depth, m.alpha ? 1 : 0, m.frames, m.scale, m.sampleSize,
                 m.duration, static_cast<long long>(m.ticksPerFrame));
    std::fprintf(out,
                 "\"file\":%s,\"frameRate\":\"%lld/%lld\",\"fps\":%.6g,\"seconds\":%.6f,"
                 "\"timecode\":%s,\"fileBytes\":%lld,\"dataRate\":%lld,\"videoDataRate\":%lld,"
                 "\"layouts\":[",
                 jsonString(path).c_str(), static_cast<long long>(f.rateNum),
                 static_cast<long long>(f.rateDen), f.fps, f.seconds,
                 jsonString(f.timecode).c_str(), static_cast<long long>(f.survey.fileBytes),
                 static_cast<long long>(f.dataRate), static_cast<long long>(f.videoDataRate));
    bool first = true;
    for (int layout = 0; layout < kKEOLayoutCount; ++layout)
        for (int lzf = 0; lzf < 2; ++lzf)
            if (f.survey.frames[layout][lzf] > 0) {
                std::fprintf(out, "%s{\"layout\":\"%s\",\"lzf\":%s,\"frames\":%lld}",
                             first ? "" : ",", KEOLayoutName(static_cast<KEOBlockLayout>(layout)),
                             lzf ? "true" : "false",
                             static_cast<long long>(f.survey.frames[layout][lzf]));
                first = false;
            }
    std::fprintf(out, "],\"unreadableHeaders\":%lld,", static_cast<long long>(f.survey.unreadable));
    printEditsJson(out, f.survey.edits.edits);
    std::fprintf(out, ",\"audio\":");
    if (!m.hasAudio) {
        std::fprintf(out, "null}\n");
        return;
    }
    std::fprintf(out,
                 "{\"channels\":%d,\"rate\":%s,\"sampleType\":%d,\"frames\":%lld,\"bits\":%d,"
                 "\"layout\":\"%s\",\"format\":%s,\"byteOrder\":%s,\"seconds\":%.6f}}\n",
                 m.channels, rateText(m.sampleRate).c_str(), m.sampleType,
                 static_cast<long long>(m.audioFrames), f.bits, channelLayout(m.channels),
                 jsonString(f.survey.audioFormat).c_str(),
                 jsonString(byteOrderOf(f.survey.audioFormat)).c_str(), f.audioSeconds);
}

std::string infoJson(const std::string& path, const MovieInfo& info) {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    if (!out)
        throw std::bad_alloc();
    printInfoJson(out, path, gatherInfo(path, info));
    std::fclose(out);
    std::string json(text, size);
    std::free(text);
    return json;
}

} // namespace keo::lib
