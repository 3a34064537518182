// WAV reading and writing over libsndfile.
#include "Wav.h"

#include "libkeo/Failure.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sndfile.h>

namespace keo::tool {
using namespace keo::lib;
namespace {

// Sample width of a libsndfile subtype, 0 for one the export cannot take.
int bitsOfSubtype(int subtype, bool* isFloat) {
    *isFloat = false;
    switch (subtype) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return 8;
    case SF_FORMAT_PCM_16:
        return 16;
    case SF_FORMAT_PCM_24:
        return 24;
    case SF_FORMAT_PCM_32:
        return 32;
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
        *isFloat = true;
        return 32;
    default:
        return 0;
    }
}

} // namespace

WavReader::~WavReader() {
    closeWav(*this);
}

void openWav(WavReader& wav, const std::string& path) {
    closeWav(wav);
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        fail(path, std::string("cannot read the sound file (") + sf_strerror(nullptr) + ")");
    bool isFloat = false;
    int bits = bitsOfSubtype(info.format & SF_FORMAT_SUBMASK, &isFloat);
    if (bits == 0) {
        sf_close(file);
        fail(path, "sample format not supported (use 8, 16, 24 or 32-bit integers or floats)");
    }
    // Integers come out as floats scaled by 1 / 2^(bits-1), which the host's
    // conversion back to the same width undoes exactly.
    sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);
    wav.path = path;
    wav.file = file;
    wav.channels = info.channels;
    wav.rate = info.samplerate;
    wav.bits = bits;
    wav.isFloat = isFloat;
    wav.fileBits = (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_DOUBLE ? 64 : bits;
    wav.frames = info.frames;
    wav.position = 0;
}

bool readWavPlanar(WavReader& wav, int64_t first, uint32_t count, uint32_t channels,
                   float** planar) {
    for (uint32_t c = 0; c < channels; ++c)
        std::fill(planar[c], planar[c] + count, 0.0f);
    if (!wav.file || count == 0 || first >= wav.frames || first < 0)
        return wav.file != nullptr;
    if (first != wav.position) {
        if (sf_seek(wav.file, first, SEEK_SET) < 0)
            return false;
        wav.position = first;
    }
    int64_t want = std::min<int64_t>(count, wav.frames - first);
    wav.scratch.resize(static_cast<size_t>(want) * wav.channels);
    sf_count_t got = sf_readf_float(wav.file, wav.scratch.data(), want);
    if (got < 0)
        return false;
    wav.position += got;
    uint32_t used = std::min<uint32_t>(channels, static_cast<uint32_t>(wav.channels));
    for (sf_count_t i = 0; i < got; ++i)
        for (uint32_t c = 0; c < used; ++c)
            planar[c][i] = wav.scratch[static_cast<size_t>(i) * wav.channels + c];
    return got == want;
}

void closeWav(WavReader& wav) {
    if (wav.file)
        sf_close(wav.file);
    wav.file = nullptr;
}

WavWriter::~WavWriter() {
    if (file)
        sf_close(file);
}

void createWav(WavWriter& wav, const std::string& path, int channels, int rate, int bits,
               const std::vector<std::string>& inputs) {
    int subtype;
    switch (bits) {
    case 0:
        subtype = SF_FORMAT_FLOAT;
        break;
    case 8:
        subtype = SF_FORMAT_PCM_U8;
        break;
    case 16:
        subtype = SF_FORMAT_PCM_16;
        break;
    case 24:
        subtype = SF_FORMAT_PCM_24;
        break;
    case 32:
        subtype = SF_FORMAT_PCM_32;
        break;
    default:
        fail(path, "cannot write " + std::to_string(bits) + "-bit samples to a WAV file");
    }
    beginOutput(wav.out, path, OutputUse::Seek, inputs);
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    info.channels = channels;
    info.samplerate = rate;
    info.format = SF_FORMAT_WAV | subtype;
    if (!sf_format_check(&info))
        fail(path, "libsndfile cannot write a WAV of " + std::to_string(channels) +
                       " channels at " + std::to_string(rate) + " Hz");
    errno = 0;
    wav.file = sf_open(wav.out.writePath.c_str(), SFM_WRITE, &info);
    if (!wav.file) {
        if (errno != 0)
            failWithErrno(path, errno);
        fail(path, std::string("cannot write the sound file (") + sf_strerror(nullptr) + ")");
    }
    wav.channels = channels;
    wav.bits = bits;
}

namespace {

// libsndfile keeps only its own words for a failed write; the system's
// reason is still in errno right after the call.
[[noreturn]] void failWrite(WavWriter& wav, int err) {
    if (err != 0)
        failWithErrno(wav.out.target, err);
    fail(wav.out.target, std::string("write failed (") + sf_strerror(wav.file) + ")");
}

} // namespace

void writeWavFloat(WavWriter& wav, const float* interleaved, int64_t frames) {
    errno = 0;
    if (sf_writef_float(wav.file, interleaved, frames) != frames)
        failWrite(wav, errno);
}

void writeWavPcm(WavWriter& wav, const int32_t* interleaved, int64_t frames) {
    size_t n = static_cast<size_t>(frames) * wav.channels;
    sf_count_t written;
    errno = 0;
    // libsndfile's short and int calls take full-scale 16 and 32-bit values;
    // narrower samples sit in the top bits, which it maps exactly.
    if (wav.bits <= 16) {
        std::vector<short> s(n);
        int shift = 16 - wav.bits;
        for (size_t i = 0; i < n; ++i)
            s[i] = static_cast<short>(static_cast<uint32_t>(interleaved[i]) << shift);
        written = sf_writef_short(wav.file, s.data(), frames);
    } else {
        wav.scratch.resize(n);
        int shift = 32 - wav.bits;
        for (size_t i = 0; i < n; ++i)
            wav.scratch[i] = static_cast<int32_t>(static_cast<uint32_t>(interleaved[i]) << shift);
        written = sf_writef_int(wav.file, wav.scratch.data(), frames);
    }
    if (written != frames)
        failWrite(wav, errno);
}

void finishWav(WavWriter& wav) {
    errno = 0;
    int err = sf_close(wav.file);
    int sys = errno;
    wav.file = nullptr;
    if (err != 0) {
        if (sys != 0)
            failWithErrno(wav.out.target, sys);
        fail(wav.out.target, std::string("write failed (") + sf_error_number(err) + ")");
    }
    commitOutput(wav.out);
}

} // namespace keo::tool
