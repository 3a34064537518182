// Fuzz target: the movie reader over an input held in memory.
//
// Opens the bytes with MovFile::openReadMemory and asks everything a reader
// of the movie would: every query, every frame's offset, size and bytes (read
// through the movie's own handle, as the importer does), the audio of every
// track in chunks, one channel decoded, and the audio of a few video frames.
// Work per input is capped so that one run stays well under a millisecond on
// ordinary inputs; the caps only bound loops, they never skip a kind of query.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "container/MovFile.h"
#include "container/QuicktimeFile.h"
#include "fuzz/FuzzSupport.h"

namespace {

constexpr int kMaxFrames = 4096;
constexpr int64_t kMaxAudioSamples = 1 << 16;
constexpr int64_t kAudioBufferBytes = 1 << 20;

void readFrames(MovFile& movie, LargeFp* fp, int64_t fileBytes) {
    int n = movie.nFrames();
    int width = 0, height = 0;
    movie.frameSize(width, height);
    (void)movie.frameBitDepth();
    (void)movie.frameType();
    int num = 0, den = 0;
    movie.frameRate(num, den);
    (void)movie.frameRate();
    (void)movie.videoTracks(movie.file);

    std::vector<unsigned char> bytes;
    // Both ends and one past each, so the lookups' edges are always asked.
    for (long long f : {-1LL, static_cast<long long>(n), static_cast<long long>(n) + 1})
        KEO_FUZZ_CHECK(movie.frameOffset(f) == -1 && movie.frameSize(static_cast<int>(f)) == 0);
    for (int f = 0; f < n && f < kMaxFrames; f++) {
        long long offset = movie.frameOffset(f);
        int size = movie.frameSize(f);
        if (offset < 0 || size <= 0)
            continue;
        // A frame the reader hands out lies inside the file.
        KEO_FUZZ_CHECK(offset + size <= fileBytes);
        bytes.resize(static_cast<size_t>(size));
        fseek_L(fp, offset, SEEK_SET);
        KEO_FUZZ_CHECK(fread_L(bytes.data(), 1, bytes.size(), fp) == bytes.size());
        KEO_FUZZ_CHECK(movie.readFrame(f, bytes.data()) == size);
    }
}

void readAudio(MovFile& movie) {
    (void)movie.hasAudio();
    (void)movie.containsAudio();
    (void)movie.audioType();
    (void)movie.audioBigEndian();
    int tracks = movie.audioTracks();
    std::vector<char> buffer;
    std::vector<uint16_t> values;
    for (int t = 0; t < tracks && t < 4; t++) {
        int channels = movie.audioTrackNumberOfChannels(t);
        (void)movie.audioTrackSampleRate(t);
        (void)movie.audioTrackAudioBits(t);
        (void)movie.audioTrackBytesPerSample(t);
        (void)movie.audioTrackBytesPerPacket(t);
        long long samples = movie.audioTrackNumberOfSamples(t);
        if (channels <= 0)
            continue;
        // Room for the widest sample the reader accepts (32 bits).
        int64_t frameBytes = int64_t{channels} * 4;
        int64_t chunk = kAudioBufferBytes / frameBytes;
        if (chunk > 4096)
            chunk = 4096;
        if (chunk < 1)
            continue;
        buffer.assign(static_cast<size_t>(chunk * frameBytes), 0);
        int64_t wanted = samples < kMaxAudioSamples ? samples : kMaxAudioSamples;
        for (int64_t at = 0; at < wanted; at += chunk) {
            long long got =
                movie.readAudio(buffer.data(), static_cast<long>(at), static_cast<long>(chunk), t);
            KEO_FUZZ_CHECK(got >= 0 && got <= chunk * frameBytes);
        }
        // The last sample and the first one past the end, whatever the count says.
        movie.readAudio(buffer.data(), static_cast<long>(samples > 0 ? samples - 1 : 0), 1, t);
        movie.readAudio(buffer.data(), -1, 1, t);

        values.assign(static_cast<size_t>(chunk), 0);
        movie.setAudioPosition(movie.file, 0, t);
        movie.audioTwosDecode(movie.file, values.data(), static_cast<long>(chunk), t, 0);
        movie.audioTwosDecode(movie.file, values.data(), static_cast<long>(chunk), t, channels - 1);
    }
    for (int channel = 0; channel < 3; channel++) {
        int track = -1, inTrack = -1;
        movie.audioChannelLocation(movie.file, &track, &inTrack, channel);
    }
    int n = movie.nFrames();
    for (int f : {0, 1, n - 1, n}) {
        int count = -1;
        uint16_t* audio = movie.getAudioData(f, count);
        KEO_FUZZ_CHECK(audio != nullptr && count >= 0);
        delete[] audio;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MovFile movie;
    LargeFp* fp = movie.openReadMemory(data, size);
    if (fp) {
        readFrames(movie, fp, static_cast<int64_t>(size));
        readAudio(movie);
    }
    movie.close();
    return 0;
}
