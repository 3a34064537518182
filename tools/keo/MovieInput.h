// The frames and sound of any movie GStreamer can decode, for keo export.
//
// One pipeline: uridecodebin opens the file or URI; its first video stream
// goes through videoconvert, videoscale and videorate to RGBA frames at the
// stream's own size and rate (or --size and --fps), its first audio stream
// through audioconvert and audioresample to float samples. Every other
// stream is decoded into nothing. Only GStreamer's own plug-ins of the
// machine take part.
//
// Frames are pulled one at a time, so a long movie never sits in memory:
// GStreamer's own threads decode a few ahead, and each is lent to the export
// where GStreamer put it, never copied.
// The exporter asks for the sound only after the last frame, so the sound
// is kept meanwhile in a SoundSpool, each block at the place its timestamp
// says. Frame 0 is time 0 of the movie: sound that starts later is preceded
// by silence, sound that starts earlier loses its lead.
//
// Failures are Failure exceptions naming the input: GStreamer's own error
// (no such file, no decoder, a damaged stream), a decoder that had to drop
// frames, a stream with a variable rate and no --fps, a video that changes
// size without --size, and a file cut short: an Ogg file without its end
// (OggEnd.h), or one that ends more than two frames before the length its
// header declares (a shorter gap is a note, shortEnd).
#pragma once

#include "base/FrameRate.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace keo::tool {

struct MovieInputRequest {
    std::string input; // a path, or a URI such as file:///... or http://...
    int width = 0;     // 0: the stream's own size
    int height = 0;
    keo::FrameRate rate{0, 1}; // num 0: the stream's own rate
    bool wantSound = true;
};

struct MovieInputInfo {
    int width = 0;
    int height = 0;
    keo::FrameRate rate;
    int64_t expectedFrames = 0; // from the declared length; 0 when unknown
    bool hasSound = false;
    int channels = 0;   // as the samples arrive: 1, 2 or 6
    int sampleRate = 0; // Hz
    int sourceBits = 0; // the decoder's sample width, before conversion
    bool sourceFloat = false;
    std::string soundChange; // what was done to fit the sound, for a note
    // Once the frames are over: how far short of its declared length the
    // input ended, when by a frame or two (more fails), for a note.
    std::string shortEnd;
};

struct MovieInputState;

class MovieInput {
public:
    // Opens the input and waits until the first frame is decoded; throws
    // Failure.
    explicit MovieInput(const MovieInputRequest& request);
    ~MovieInput();
    MovieInput(const MovieInput&) = delete;
    MovieInput& operator=(const MovieInput&) = delete;

    const MovieInputInfo& info() const;
    // The next frame as RGBA, top row first, rows *pitch bytes apart, valid
    // until the next call; null after the last frame, once every stream has
    // ended well. Throws Failure.
    const uint8_t* lendFrame(size_t* pitch);
    // `count` sample frames from `first` into planar floats, silence past
    // the sound's ends; false when the kept sound cannot be read back.
    bool readSound(int64_t first, uint32_t count, uint32_t channels, float** planar);

private:
    std::unique_ptr<MovieInputState> state_;
};

// True when export's --input names a movie for GStreamer rather than stills
// or raw frames: a URI, or an existing file that is not a still picture.
bool isMovieInput(const std::string& input);
// The file a file:// URI names, else the input as given: what an output
// must not be.
std::string inputPathOf(const std::string& input);

} // namespace keo::tool
