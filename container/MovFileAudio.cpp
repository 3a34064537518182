// The audio side of MovFile: audio track queries, positioning, reading raw
// interleaved samples across chunks, and decoding big-endian channels.
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/Bounds.h"
#include "container/MovFile.h"
#include "container/QuicktimeFile.h"

using keo::checkedMul;

namespace {

bool isSupportedWidth(int bits) {
    return bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

int countAudioTracks(const QuicktimeFile* f) {
    if (!f)
        return 0;
    int n = 0;
    for (int64_t i = 0; i < f->moov.totalTracks; i++)
        n += f->moov.trak[i]->mdia.minf.isAudio ? 1 : 0;
    return n;
}

// Bytes of one sample frame of a track, 0 when the track cannot be read:
// an unsupported sample width or no channels.
int64_t frameBytes(const QuicktimeSTSDTable* desc, int channels) {
    if (!desc || channels <= 0 || !isSupportedWidth(desc->sampleSize))
        return 0;
    return static_cast<int64_t>(desc->sampleSize) * channels / 8;
}

} // namespace

const QuicktimeSTSDTable* MovFile::audioDescription(int trackIndex) const {
    if (!file || trackIndex < 0 || trackIndex >= file->totalAudioTracks)
        return nullptr;
    return file->audioMaps[trackIndex].track->firstDescription();
}

bool MovFile::hasAudio() {
    return countAudioTracks(file) > 0;
}
bool MovFile::containsAudio() {
    return hasAudio();
}
int MovFile::audioTracks(QuicktimeFile* f) {
    return countAudioTracks(f);
}
int MovFile::audioTracks() {
    return countAudioTracks(file);
}

int MovFile::audioTrackNumberOfChannels(int trackIndex) {
    return audioTrackNumberOfChannels(file, trackIndex);
}

int MovFile::audioTrackNumberOfChannels(QuicktimeFile* f, int trackIndex) {
    if (!f || trackIndex < 0 || trackIndex >= f->totalAudioTracks)
        return 0;
    return f->audioMaps[trackIndex].channels;
}

long long MovFile::audioTrackSampleRate(int trackIndex) {
    const QuicktimeSTSDTable* desc = audioDescription(trackIndex);
    return desc ? static_cast<long long>(desc->sampleRate) : 0;
}

int MovFile::audioTrackAudioBits(int trackIndex) {
    const QuicktimeSTSDTable* desc = audioDescription(trackIndex);
    return desc ? desc->sampleSize : 0;
}

int MovFile::audioTrackBytesPerSample(int trackIndex) {
    const QuicktimeSTSDTable* desc = audioDescription(trackIndex);
    return desc ? desc->bytesPerSample : 0;
}

long long MovFile::audioTrackNumberOfSamples(int trackIndex) {
    if (!file || trackIndex < 0 || trackIndex >= file->totalAudioTracks)
        return 0;
    return file->audioMaps[trackIndex].track->samples(file, *this);
}

int MovFile::audioTrackBytesPerPacket(int trackIndex) {
    const QuicktimeSTSDTable* desc = audioDescription(trackIndex);
    if (!desc)
        return 0;
    return desc->version == 1 ? desc->bytesPerPacket : desc->sampleSize / 8;
}

const char* MovFile::audioType() {
    const QuicktimeSTSDTable* desc = audioDescription(0);
    audioTypeText[0] = 0;
    if (desc)
        desc->formatText(audioTypeText);
    return audioTypeText;
}

bool MovFile::audioBigEndian() const {
    const QuicktimeSTSDTable* desc = audioDescription(0);
    if (!desc || desc->reserved[0] != 0)
        return false;
    static const char kSowt[] = "sowt";
    for (int i = 0; i < 4; i++) {
        if (std::tolower(static_cast<unsigned char>(desc->format[i])) != kSowt[i])
            return false;
    }
    return true;
}

int MovFile::audioChannelLocation(QuicktimeFile* f, int* trackIndex, int* channelInTrack,
                                  int channel) {
    *trackIndex = 0;
    *channelInTrack = 0;
    int64_t firstChannel = 0;
    for (int i = 0; f && i < f->totalAudioTracks; i++) {
        if (firstChannel <= channel) {
            *trackIndex = i;
            *channelInTrack = static_cast<int>(channel - firstChannel);
        }
        firstChannel += f->audioMaps[i].channels;
    }
    return 0;
}

int MovFile::setAudioPosition(QuicktimeFile* f, long long sample, int trackIndex) {
    if (!f || trackIndex < 0 || trackIndex >= f->totalAudioTracks)
        return 0;
    QuicktimeAudioMap& map = f->audioMaps[trackIndex];
    map.currentPosition = sample;
    int64_t first, chunk;
    map.track->chunkOfSample(f, &first, &chunk, sample);
    map.currentChunk = chunk;
    int64_t offset = map.track->sampleToOffset(f, sample);
    if (offset >= 0)
        setPosition(f, offset);
    return 0;
}

long long MovFile::readAudio(QuicktimeFile* f, char* out, long numSamples, int trackIndex) {
    if (!f || !out || trackIndex < 0 || trackIndex >= f->totalAudioTracks)
        return 0;
    QuicktimeAudioMap& map = f->audioMaps[trackIndex];
    QuicktimeTrak* track = map.track;
    int64_t bytesPerFrame = frameBytes(track->firstDescription(), map.channels);
    int64_t pos = map.currentPosition;
    int64_t end;
    if (bytesPerFrame == 0 || numSamples <= 0 || !keo::checkedAdd(pos, int64_t{numSamples}, &end))
        return 0;
    long long total = 0;
    while (pos < end) {
        int64_t first, chunk;
        track->chunkOfSample(f, &first, &chunk, pos);
        int64_t perChunk = track->chunkSamples(chunk);
        int64_t offset = track->sampleToOffset(f, pos);
        // No chunk, an empty chunk or no place in the file: nothing more to read.
        if (chunk < 1 || perChunk <= 0 || offset < 0)
            break;
        map.currentChunk = chunk;
        setPosition(f, offset);
        int64_t chunkEnd = first + perChunk; // first <= pos < chunkEnd
        int64_t count = (chunkEnd > end ? end : chunkEnd) - pos;
        int64_t bytes;
        if (count <= 0 || !checkedMul(count, bytesPerFrame, &bytes))
            break;
        const int64_t got = readInto(bytes, out + total);
        total += got;
        // The file ends inside the chunk: what follows is not there either.
        if (got != bytes)
            break;
        pos += count;
    }
    map.currentPosition = end;
    return total;
}

long long MovFile::readAudio(char* out, long firstSample, long numSamples, int trackIndex) {
    setAudioPosition(file, firstSample, trackIndex);
    return readAudio(file, out, numSamples, trackIndex);
}

int MovFile::audioTwosDecode(QuicktimeFile* f, uint16_t* out, long numSamples, int trackIndex,
                             int channelInTrack) {
    if (!f || !out || trackIndex < 0 || trackIndex >= f->totalAudioTracks || numSamples <= 0)
        return 1;
    QuicktimeAudioMap& map = f->audioMaps[trackIndex];
    const QuicktimeSTSDTable* desc = map.track->firstDescription();
    int64_t stride = frameBytes(desc, map.channels);
    // A channel the track does not have would be picked from the next frame.
    if (stride == 0 || channelInTrack < 0 || channelInTrack >= map.channels)
        return 1;
    int64_t scratchBytes;
    if (!checkedMul(int64_t{numSamples}, stride, &scratchBytes) ||
        static_cast<uint64_t>(scratchBytes) > static_cast<uint64_t>(f->fileSize) + stride)
        return 1; // more than the file could back
    unsigned char* scratch = static_cast<unsigned char*>(std::malloc(scratchBytes));
    if (!scratch)
        return 1;
    long long got = readAudio(f, reinterpret_cast<char*>(scratch), numSamples, trackIndex);
    map.currentPosition -= numSamples;
    int bytesPerValue = desc->sampleSize / 8;
    // Bytes the read did not reach (the track ended) decode as silence.
    if (got < scratchBytes)
        std::memset(scratch + got, 0, static_cast<size_t>(scratchBytes - got));
    if (got != 0) {
        for (long i = 0; i < numSamples; i++) {
            const unsigned char* p = scratch + i * stride + channelInTrack * bytesPerValue;
            // Big-endian two's complement: the top 16 bits pass on unchanged.
            out[i] = bytesPerValue == 1 ? static_cast<uint16_t>(p[0] << 8)
                                        : static_cast<uint16_t>((p[0] << 8) | p[1]);
        }
    }
    std::free(scratch);
    return got != 0 ? 0 : 1;
}

int MovFile::audioDecode(QuicktimeFile* f, uint16_t* out, long numSamples, int channel) {
    if (!f || f->totalAudioTracks <= 0)
        return 1;
    int trackIndex, channelInTrack;
    audioChannelLocation(f, &trackIndex, &channelInTrack, channel);
    int result = audioTwosDecode(f, out, numSamples, trackIndex, channelInTrack);
    f->audioMaps[trackIndex].currentPosition += numSamples;
    return result;
}

uint16_t* MovFile::getAudioData(int frame, int& count) {
    count = 0;
    QuicktimeTrak* video = firstVideoTrack();
    const QuicktimeSTSDTable* desc = audioDescription(0);
    const QuicktimeSTTS* stts = video ? &video->mdia.minf.stbl.stts : nullptr;
    if (!video || !desc || frame < 0 || !stts->table || stts->totalEntries <= 0 ||
        stts->table[0].sampleDuration == 0 || video->mdia.mdhd.timeScale == 0)
        return new uint16_t[0];
    float fps = static_cast<float>(video->mdia.mdhd.timeScale) /
                static_cast<float>(stts->table[0].sampleDuration);
    float rate = static_cast<float>(static_cast<long long>(desc->sampleRate));
    double spf = static_cast<double>(rate / fps);
    double from = std::trunc(frame * spf);
    double to = std::trunc((frame + 1.0) * spf);
    // The bounds become sample numbers only when a sample number can hold them.
    if (!(from >= 0.0 && to >= from && to < 9.0e18))
        return new uint16_t[0];
    uint64_t firstSample = static_cast<uint64_t>(from);
    uint64_t span = static_cast<uint64_t>(to) - firstSample;
    // No frame's audio is larger than the file that holds it.
    if (span > static_cast<uint64_t>(file->fileSize) || span > INT_MAX / 2)
        return new uint16_t[0];
    int n = static_cast<int>(span);
    uint16_t* left = new (std::nothrow) uint16_t[n]();
    uint16_t* right = new (std::nothrow) uint16_t[n]();
    uint16_t* result = new (std::nothrow) uint16_t[2 * static_cast<size_t>(n)]();
    if (!left || !right || !result) {
        delete[] left;
        delete[] right;
        delete[] result;
        return new uint16_t[0];
    }
    file->audioMaps[0].currentPosition = static_cast<int64_t>(firstSample);
    audioDecode(file, left, n, 0);
    file->audioMaps[0].currentPosition = static_cast<int64_t>(firstSample);
    audioDecode(file, right, n, 1);
    for (int i = 0; i < n; i++) {
        result[2 * i] = left[i];
        result[2 * i + 1] = right[i];
    }
    delete[] left;
    delete[] right;
    count = n;
    return result;
}
