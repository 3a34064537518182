// Float pixel conversions of the export code: 8-bit to float, BGRA to VUYA,
// and VUYA floats to and from 10-bit v410 words.
//
// Pictures are rows of width pixels with no padding; a float pixel is four
// 32-bit floats (16 bytes), a v410 pixel one little-endian 32-bit word:
//
//   bits 0..1  unused (0)     bits 12..21  Y (64..940)
//   bits 2..11 V (64..960)    bits 22..31  U (64..960)
//
// Each conversion does nothing when height is below 1. Buffers need no
// particular alignment.
#pragma once

namespace keo::exporter {

// The larger and the smaller of two floats. When a is NaN the answer is b,
// which is what makes a clamp written as min(max(x, lo), hi) land on lo.
inline float max(float a, float b) {
    return a > b ? a : b;
}
inline float min(float a, float b) {
    return a < b ? a : b;
}

} // namespace keo::exporter

// Each byte of 4-byte pixels becomes byte / 255 in 16-byte float pixels.
void ConvertFrom8uTo32f(char* source, char* destination, int width, int height);
// Float B, G, R, A pixels become V, U, Y, A in place (BT.601 weights).
void ConvertFromBGRA32fToVUYA32f(char* picture, int width, int height);
// Float V, U, Y, A pixels to v410 words, clamped to the video range.
void ConvertFrom32fToV410(char* source, char* destination, int width, int height);
// v410 words to float V, U, Y pixels with alpha 1.
void ConvertFromV410To32f(char* source, char* destination, int width, int height);
