// A stand-in host, a movie being written and the exporter's record wired
// together, plus the read-back helpers the export tests share.
//
// Every test gets a fresh host and its own movie file; TearDown checks that
// everything the exporter took from the host came back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "StandInHost.h"
#include "codec/FrameEncoder.h"
#include "codec/FramePayload.h"
#include "codec/encode_picture.h"
#include "container/LargeFp.h"
#include "container/MovFile.h"
#include "exporter/ExportRender.h"
#include "exporter/ExporterLocalRec.h"

namespace export_test {

// RGBA source pictures for the host's renderer: seeded by the frame time, so
// the test can rebuild the source of any frame it reads back.
struct FrameSourceState {
    bool varyAlpha = false;
    int64_t calls = 0;
};

inline uint32_t seedOfTime(PrTime time) {
    return static_cast<uint32_t>(time / 1000003) ^ 0x5EED;
}

// The source picture as ARGB32, the encoder's input order.
inline std::vector<unsigned char> sourceARGB(PrTime time, int width, int height, bool varyAlpha) {
    return encode_test::naturalPicture(width, height, seedOfTime(time), varyAlpha);
}

// The sample the export must have written for the frame at `time`: the
// encoder run directly on the source picture with the same settings. The
// path from the host's frame to the encoder is lossless, so the bytes match.
inline std::vector<unsigned char> expectedSample(PrTime time, int width, int height, bool varyAlpha,
                                                 int transparency, int optimizeFor) {
    const auto source = sourceARGB(time, width, height, varyAlpha);
    uint64_t capacity = 0;
    if (!KEOMaxFramePayloadSize(width, height, &capacity))
        return {};
    std::vector<unsigned char> sample(capacity);
    const int length = CompressDXTFrame(source.data(), sample.data(), width, height, width * 4,
                                        transparency, optimizeFor, 1);
    sample.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return sample;
}

inline int seededFrameSource(void* context, PrTime time, int32_t width, int32_t height,
                             uint8_t* rgba) {
    FrameSourceState* state = static_cast<FrameSourceState*>(context);
    state->calls++;
    const auto argb = sourceARGB(time, width, height, state->varyAlpha);
    for (size_t i = 0; i < argb.size(); i += 4) {
        rgba[i + 0] = argb[i + 1];
        rgba[i + 1] = argb[i + 2];
        rgba[i + 2] = argb[i + 3];
        rgba[i + 3] = argb[i + 0];
    }
    return 0;
}

// Sample frame i of channel c: a distinct value well inside full scale, so
// every channel and position can be told apart after the integer round trip.
inline float sourceSample(int64_t frame, uint32_t channel) {
    const int64_t k = (frame * 7919 + channel * 104729) % 2001;
    return static_cast<float>(k - 1000) / 1024.0f;
}

inline int seededAudioSource(void*, int64_t firstFrame, uint32_t frameCount, uint32_t channels,
                             float** planar) {
    for (uint32_t c = 0; c < channels; ++c)
        for (uint32_t i = 0; i < frameCount; ++i)
            planar[c][i] = sourceSample(firstFrame + i, c);
    return 0;
}

class ExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        host = keo::host::createHost(config);
        ASSERT_NE(host, nullptr);
        s = keo::host::hostSuites(host);
        keo::host::setFrameSource(host, &seededFrameSource, &frames);
        keo::host::setAudioSource(host, &seededAudioSource, nullptr);
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& ch : name)
            if (ch == '/')
                ch = '_';
        path =
            ::testing::TempDir() + "keo_export_" + name + "_" + std::to_string(getpid()) + ".mov";

        rec.movFile = &movie;
        rec.exportParamSuite = s.exportParam;
        rec.ppixSuite = s.ppix;
        rec.timeSuite = s.time;
        rec.memorySuite = s.memoryManager;
        rec.sequenceAudioSuite = s.sequenceAudio;
        rec.sequenceRenderSuite = s.sequenceRender;
        rec.audioSuite = s.audio;
        ASSERT_EQ(s.sequenceRender->MakeVideoRenderer(config.exporterPluginID, &rec.videoRenderID,
                                                      keo::host::kTicksPerSecond / 30),
                  0);
        exportRecord = keo::host::makeExportRec(host, &rec, 0, keo::host::kTicksPerSecond);
    }

    void TearDown() override {
        if (movieOpen)
            movie.close();
        s.sequenceRender->ReleaseVideoRenderer(config.exporterPluginID, rec.videoRenderID);
        EXPECT_EQ(keo::host::leakReport(host), "");
        keo::host::destroyHost(host);
        std::remove(path.c_str());
    }

    // The movie as the exporter entry would open it: KEO video of the
    // export's size and, optionally, PCM audio.
    void openMovie(int width, int height, bool withAudio = false, int sampleRate = 48000,
                   int channels = 2, int bits = 16) {
        keo::host::setParamInt(host, "ADBEVideoWidth", width);
        keo::host::setParamInt(host, "ADBEVideoHeight", height);
        char compressor[] = "ZUVM";
        movie.openWrite(path.c_str(), compressor, width, height, {30, 1}, 1, withAudio ? 1 : 0,
                        sampleRate, channels, bits);
        movieOpen = true;
    }

    void closeMovie() {
        movie.close();
        movieOpen = false;
    }

    int frameAt(int index) { return RenderAndWriteVideoFrame(timeOf(index), &exportRecord); }
    static PrTime timeOf(int index) { return index * (keo::host::kTicksPerSecond / 30); }

    keo::host::HostConfig config;
    keo::host::StandInHost* host = nullptr;
    keo::host::HostSuites s{};
    FrameSourceState frames;
    MovFile movie;
    bool movieOpen = false;
    ExporterLocalRec rec{};
    exDoExportRec exportRecord{};
    std::string path;
};

// A sample decoded to packed ARGB32; empty when it does not decode.
inline std::vector<unsigned char> decode(const std::vector<unsigned char>& sample, int width,
                                         int height) {
    unsigned char* picture = nullptr;
    if (sample.empty() ||
        DecodeFramePayload(sample.data(), static_cast<unsigned int>(sample.size()), width, height,
                           &picture) != 0)
        return {};
    std::vector<unsigned char> out(picture, picture + static_cast<size_t>(width) * height * 4);
    std::free(picture);
    return out;
}

// The closed movie opened for reading.
struct ReadBack {
    explicit ReadBack(const std::string& path) { fp = movie.openRead(path.c_str()); }
    ~ReadBack() { movie.close(); }

    int frames() { return fp ? movie.nFrames() : -1; }

    // The stored bytes of frame `n`; empty when it cannot be located.
    std::vector<unsigned char> sample(int n) {
        const long long offset = fp ? movie.frameOffset(n) : -1;
        const int size = fp ? movie.frameSize(n) : 0;
        if (offset < 0 || size <= 0)
            return {};
        std::vector<unsigned char> bytes(static_cast<size_t>(size));
        if (fseek_L(fp, offset, SEEK_SET) != 0 ||
            fread_L(bytes.data(), 1, bytes.size(), fp) != bytes.size())
            return {};
        return bytes;
    }

    // Frame `n` decoded to ARGB32; empty when it cannot be read or decoded.
    std::vector<unsigned char> decodeFrame(int n, int width, int height) {
        return decode(sample(n), width, height);
    }

    KEOFrameHeader header(int n) {
        KEOFrameHeader h{};
        unsigned char bytes[kKEOFrameHeaderSize] = {};
        const long long offset = movie.frameOffset(n);
        if (offset >= 0 && fseek_L(fp, offset, SEEK_SET) == 0 &&
            fread_L(bytes, 1, sizeof bytes, fp) == sizeof bytes)
            h.read(bytes);
        return h;
    }

    // The stored bytes of `count` sample frames from `first`.
    std::vector<unsigned char> audioBytes(long first, long count) {
        const int bytesPerFrame =
            movie.audioTrackNumberOfChannels(0) * movie.audioTrackAudioBits(0) / 8;
        std::vector<unsigned char> out(static_cast<size_t>(count) * bytesPerFrame);
        const long long got = movie.readAudio(reinterpret_cast<char*>(out.data()), first, count, 0);
        out.resize(got > 0 ? static_cast<size_t>(got) : 0);
        return out;
    }

    MovFile movie;
    LargeFp* fp = nullptr;
};

} // namespace export_test
