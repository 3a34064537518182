// Fuzz target: a movie written with the writer and the frame encoder, read
// back with the reader and compared.
//
// Input layout:
//   0  flags: bit 0 transparency, bits 1-2 "KEOOptimizeFor" (0..3), bit 3
//      audio, bit 4 two channels, bits 5-6 sample width (8, 16, 24, 32)
//   1  width - 1 (1..24)      2  height - 1 (1..24)
//   3  frame rate, an index into kRates      4  frames - 1 (1..4)
//   5  audio sample frames per video frame - 1 (1..256)
//   6- picture and audio bytes, used round-robin
// Every frame must come back with the bytes written and decode; the audio must
// come back byte for byte.
//
// Pictures stay small: 24 pixels reach every edge case of the block grid
// (sides that are not a multiple of 4, several block rows and columns), and
// what a run costs beyond that is encoder time that fuzz_decode_payload and
// the encoder tests spend better. Small pictures keep the target at hundreds
// of runs a second.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "codec/FrameEncoder.h"
#include "codec/FramePayload.h"
#include "container/MovFile.h"
#include "fuzz/FuzzSupport.h"

namespace {

const int kMaxSide = 24;
const int kMaxFrames = 4;

// In the order the committed inputs index them.
const keo::FrameRate kRates[] = {
    {24000, 1001}, {24, 1}, {25, 1}, {30000, 1001}, {30, 1}, {50, 1},
    {60000, 1001}, {60, 1}, {25, 2}, {1, 1},        {15, 1}, {120, 1},
};

struct Source {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    // Input bytes in turn, from the start again at the end (zeros when none).
    void fill(unsigned char* out, size_t n) {
        for (size_t i = 0; i < n; i++) {
            out[i] = size ? data[at] : 0;
            at = size ? (at + 1) % size : 0;
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6)
        return 0;
    const int transparency = data[0] & 1;
    const int optimizeFor = (data[0] >> 1) & 3;
    const bool audio = (data[0] >> 3) & 1;
    const int channels = (data[0] >> 4) & 1 ? 2 : 1;
    const int bits = 8 * (1 + ((data[0] >> 5) & 3));
    const int width = data[1] % kMaxSide + 1;
    const int height = data[2] % kMaxSide + 1;
    const keo::FrameRate rate = kRates[data[3] % (sizeof kRates / sizeof kRates[0])];
    const int frames = data[4] % kMaxFrames + 1;
    const int samplesPerFrame = data[5] + 1;
    Source source{data + 6, size - 6};

    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/keo_fuzz_w_XXXXXX";
    int fd = mkstemp(path.data());
    if (fd < 0)
        return 0;
    close(fd);

    std::vector<std::vector<unsigned char>> written;
    std::vector<unsigned char> audioWritten;
    {
        MovFile movie;
        char compressor[] = "ZUVM";
        KEO_FUZZ_CHECK(movie.openWrite(path.c_str(), compressor, width, height, rate, 1, audio,
                                       48000, channels, bits) != nullptr);
        uint64_t room = 0;
        KEO_FUZZ_CHECK(KEOMaxFramePayloadSize(width, height, &room));
        std::vector<unsigned char> picture(static_cast<size_t>(width) * height * 4);
        const size_t blockBytes = static_cast<size_t>(samplesPerFrame) * channels * (bits / 8);
        for (int f = 0; f < frames; f++) {
            source.fill(picture.data(), picture.size());
            std::vector<unsigned char> sample(static_cast<size_t>(room));
            int n = CompressDXTFrame(picture.data(), sample.data(), width, height, width * 4,
                                     transparency, optimizeFor, 1);
            KEO_FUZZ_CHECK(n > kKEOFrameHeaderSize);
            sample.resize(static_cast<size_t>(n));
            KEO_FUZZ_CHECK(movie.writeFrame(0, n, sample.data()) == 0);
            written.push_back(std::move(sample));
            if (audio) {
                size_t at = audioWritten.size();
                audioWritten.resize(at + blockBytes);
                source.fill(audioWritten.data() + at, blockBytes);
                LargeFp* fp = movie.prepareToWriteAudioSample();
                KEO_FUZZ_CHECK(fp != nullptr);
                // (buffer, bytes, 1): the result is the byte count.
                KEO_FUZZ_CHECK(fwrite_L(audioWritten.data() + at, blockBytes, 1, fp) == blockBytes);
                KEO_FUZZ_CHECK(movie.endWriteAudioSample(samplesPerFrame) == 0);
            }
        }
        KEO_FUZZ_CHECK(movie.close() == 0);
    }

    MovFile reader;
    LargeFp* fp = reader.openRead(path.c_str());
    KEO_FUZZ_CHECK(fp != nullptr);
    KEO_FUZZ_CHECK(reader.nFrames() == frames);
    int w = 0, h = 0;
    reader.frameSize(w, h);
    KEO_FUZZ_CHECK(w == width && h == height);
    for (int f = 0; f < frames; f++) {
        const std::vector<unsigned char>& expected = written[static_cast<size_t>(f)];
        KEO_FUZZ_CHECK(reader.frameSize(f) == static_cast<int>(expected.size()));
        std::vector<unsigned char> got(expected.size());
        KEO_FUZZ_CHECK(fseek_L(fp, reader.frameOffset(f), SEEK_SET) == 0);
        KEO_FUZZ_CHECK(fread_L(got.data(), 1, got.size(), fp) == got.size());
        KEO_FUZZ_CHECK(got == expected);
        unsigned char* decoded = nullptr;
        KEO_FUZZ_CHECK(DecodeFramePayload(got.data(), static_cast<unsigned int>(got.size()), width,
                                          height, &decoded) == kKEODecodeOK);
        std::free(decoded);
    }
    KEO_FUZZ_CHECK(reader.audioTracks() == (audio ? 1 : 0));
    if (audio) {
        const long total = static_cast<long>(frames) * samplesPerFrame;
        KEO_FUZZ_CHECK(reader.audioTrackNumberOfSamples(0) == total);
        KEO_FUZZ_CHECK(reader.audioTrackNumberOfChannels(0) == channels);
        KEO_FUZZ_CHECK(reader.audioTrackAudioBits(0) == bits);
        std::vector<char> got(audioWritten.size() + 16, 0);
        KEO_FUZZ_CHECK(reader.readAudio(got.data(), 0, total, 0) ==
                       static_cast<long long>(audioWritten.size()));
        KEO_FUZZ_CHECK(std::equal(audioWritten.begin(), audioWritten.end(),
                                  reinterpret_cast<unsigned char*>(got.data())));
    }
    reader.close();
    unlink(path.c_str());
    return 0;
}
