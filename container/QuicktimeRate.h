// A video frame rate as the writer takes it: num / den frames per second,
// exactly, so a rate such as 25/2 or 30000/1001 is never rounded on its way
// into a movie.
//
// A movie states its rate as a time scale (units per second, in the movie
// and the media headers) and a sample duration (units per frame, in the
// time-to-sample table), each a 32-bit field. QuicktimeMVHD::getTimeBase
// picks the pair for a rate.
#pragma once

#include <cstdint>

struct QuicktimeRate {
    int32_t num; // frames per second = num / den, in any terms
    int32_t den;
};

// The fastest rate a movie is written at, as it always was: far beyond any
// camera's, and a frame of it still lasts a quarter of a million ticks of a
// host's clock, so hosts find every frame.
constexpr int32_t kQuicktimeMaxFramesPerSecond = 1000000;

// True for a rate above 0 frames per second and at most the fastest.
inline bool QuicktimeRateFits(QuicktimeRate rate) {
    return rate.num > 0 && rate.den > 0 &&
           static_cast<int64_t>(rate.num) <=
               static_cast<int64_t>(kQuicktimeMaxFramesPerSecond) * rate.den;
}

// The pair a rate is stored as; both 0 for a rate that does not fit.
struct QuicktimeTimeBase {
    int64_t timeScale;      // units per second
    int64_t sampleDuration; // units per frame
};
