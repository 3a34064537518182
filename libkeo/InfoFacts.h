// What `keo info` reports of a movie, worked out once for its text and its
// JSON; the JSON is shared with others that describe a movie the same way
// (the Python module's Movie.info).
#pragma once

#include "libkeo/MovieSurvey.h"
#include "libkeo/PluginSession.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace keo::lib {

// Everything info reports, worked out once for both forms.
struct InfoFacts {
    MovieInfo m;
    MovieSurvey survey;
    bool surveyed = false;
    int64_t rateNum = 0, rateDen = 1; // frames per second, in lowest terms
    double fps = 0;
    double seconds = 0;
    std::string timecode;
    int64_t dataRate = 0;      // bits per second of the whole file
    int64_t videoDataRate = 0; // bits per second of the video samples
    int bits = 0;
    double audioSeconds = 0;
};

InfoFacts gatherInfo(const std::string& path, const MovieInfo& info);

// The one-line JSON object of `keo info --json`, with its newline.
void printInfoJson(std::FILE* out, const std::string& path, const InfoFacts& facts);
// The same object as a string, for the movie at `path` described as `info`.
std::string infoJson(const std::string& path, const MovieInfo& info);

// Words and figures the text and the JSON share.
std::string rateText(double rate);
const char* channelLayout(int channels);
std::string byteOrderOf(const std::string& format);

} // namespace keo::lib
