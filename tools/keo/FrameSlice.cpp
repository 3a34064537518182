// Resolving --frames A:B against a movie's length.
#include "FrameSlice.h"

#include <cerrno>
#include <cstdlib>

namespace keo::tool {
namespace {

// One bound: empty for the default, else a whole number that a negative
// sign counts from the end; then clamped to 0..frames.
bool resolveBound(const std::string& text, int frames, int fallback, int* out) {
    if (text.empty()) {
        *out = fallback;
        return true;
    }
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    // strtoll skips leading blanks and takes a '+': a bound is only digits.
    if (*end != '\0' || errno != 0 || !(text[0] == '-' || (text[0] >= '0' && text[0] <= '9')))
        return false;
    long long at = v < 0 ? v + frames : v;
    if (at < 0)
        at = 0;
    if (at > frames)
        at = frames;
    *out = static_cast<int>(at);
    return true;
}

} // namespace

bool parseFrameSlice(const std::string& text, int frames, FrameSlice* slice, std::string* why) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos) {
        *why = "expected A:B (frames A to B-1; -N counts from the end), got '" + text + "'";
        return false;
    }
    const std::string a = text.substr(0, colon), b = text.substr(colon + 1);
    if (!resolveBound(a, frames, 0, &slice->first)) {
        *why = "'" + a + "' in '" + text + "' is not a frame number";
        return false;
    }
    if (!resolveBound(b, frames, frames, &slice->end)) {
        *why = "'" + b + "' in '" + text + "' is not a frame number";
        return false;
    }
    return true;
}

std::string emptySliceReason(const std::string& text, int frames, const FrameSlice& slice) {
    const std::string movie = frames == 1 ? "the movie has 1 frame (0)"
                                          : "the movie has " + std::to_string(frames) +
                                                " frames (0 to " + std::to_string(frames - 1) + ")";
    if (frames <= 0)
        return "'" + text + "' selects no frames: the movie has none";
    if (slice.first >= frames)
        return "'" + text + "' starts past the last frame; " + movie;
    return "'" + text + "' selects no frames: its end, frame " + std::to_string(slice.end) +
           ", is not after its start, frame " + std::to_string(slice.first) + "; " + movie;
}

} // namespace keo::tool
