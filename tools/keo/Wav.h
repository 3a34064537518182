// WAV files through libsndfile: reading the sound an export is fed from, and
// writing what the plug-in delivers.
//
// A reader streams: the export asks for consecutive blocks, so only one block
// is ever in memory. A writer goes through a temporary file (AtomicOutput).
#pragma once

#include "libkeo/AtomicOutput.h"

#include <cstdint>
#include <string>
#include <vector>

typedef struct sf_private_tag SNDFILE;

namespace keo::tool {

struct WavReader {
    std::string path;
    SNDFILE* file = nullptr;
    int channels = 0;
    int rate = 0;
    int bits = 0;         // 8, 16, 24 or 32 (float files report 32)
    bool isFloat = false; // the samples are stored as floats
    int fileBits = 0;     // width in the file: 32 or 64 for floats, else as bits
    int64_t frames = 0;
    int64_t position = 0; // next sample frame the stream will give
    std::vector<float> scratch;

    WavReader() = default;
    WavReader(const WavReader&) = delete;
    WavReader& operator=(const WavReader&) = delete;
    ~WavReader();
};

// Throws Failure when the file cannot be read or holds a sample format other
// than 8/16/24/32-bit integers or floats.
void openWav(WavReader& wav, const std::string& path);
// `count` sample frames from `first` into `channels` planar arrays, as floats
// in [-1, 1); channels beyond the file's and frames beyond its end are silent.
// Returns false (after filling silence) when the file cannot be read.
bool readWavPlanar(WavReader& wav, int64_t first, uint32_t count, uint32_t channels,
                   float** planar);
void closeWav(WavReader& wav);

struct WavWriter {
    keo::lib::AtomicOutput out;
    SNDFILE* file = nullptr;
    int channels = 0;
    int bits = 0; // 0: 32-bit float samples
    std::vector<int32_t> scratch;

    WavWriter() = default;
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;
    ~WavWriter();
};

// bits 0 makes a 32-bit float WAV; 8, 16, 24 or 32 make integer PCM (8-bit
// WAV samples are unsigned on disk; libsndfile maps them).
// `inputs` are files the output must not be; "-" is standard output when it
// is a file or a device.
void createWav(WavWriter& wav, const std::string& path, int channels, int rate, int bits,
               const std::vector<std::string>& inputs = {});
// Interleaved float samples (float WAV).
void writeWavFloat(WavWriter& wav, const float* interleaved, int64_t frames);
// Interleaved signed samples in the stored width's range (integer WAV).
void writeWavPcm(WavWriter& wav, const int32_t* interleaved, int64_t frames);
// Closes the file and moves it into place.
void finishWav(WavWriter& wav);

} // namespace keo::tool
