// --frames A:B, a slice of a movie's frames as in most languages: frames A
// to B - 1, counted from 0; a bound left out is the start or the end; a
// negative bound counts from the end (-2: is the last two frames); a bound
// past either end stops there. What it selects may still be nothing
// (5:3, or 7: of a movie of 5 frames), which the caller refuses, saying why.
#pragma once

#include <string>

namespace keo::tool {

struct FrameSlice {
    int first = 0;
    int end = 0; // one past the last; first >= end when nothing is selected
};

// The frames of `text` in a movie of `frames` frames. False, with *why
// saying what is wrong, when the text is not A:B with whole numbers.
bool parseFrameSlice(const std::string& text, int frames, FrameSlice* slice, std::string* why);

// Why a slice selects nothing: "'7:' starts past the last frame; the movie
// has 5 frames (0 to 4)" and the like.
std::string emptySliceReason(const std::string& text, int frames, const FrameSlice& slice);

} // namespace keo::tool
