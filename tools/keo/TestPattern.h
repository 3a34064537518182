// The built-in moving test picture and tone, used by `keo export --pattern`
// and `keo demo`, so the tool needs no input to show what it does.
//
// The picture has smooth ramps (to show block artefacts), a moving white box
// (to show motion), a strip of straight alpha along the bottom (to show the
// alpha layout) and the frame number as 16 black/white squares of 8x8 pixels
// at the top left, on the 4x4 block grid so that every layout keeps them
// exact and the frame order can be read back from any decoded picture.
#pragma once

#include <cstdint>

namespace keo::tool {

// Fills width x height RGBA pixels (top row first, rows packed) with frame
// `frame` of the pattern.
void renderPattern(int64_t frame, int width, int height, uint8_t* rgba);
// Reads the frame number back from a decoded RGBA picture; -1 when the
// squares are not there (pictures narrower than 136 or lower than 16 pixels).
int64_t readPatternNumber(const uint8_t* rgba, int width, int height);

// `count` sample frames of the tone from sample frame `first`, one sine per
// channel (440 Hz and up), at a quarter of full scale.
void renderTone(int64_t first, uint32_t count, uint32_t channels, int rate, float** planar);

} // namespace keo::tool
