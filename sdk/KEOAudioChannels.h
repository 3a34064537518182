// How many channels each audio channel type carries. The host's renderer and
// the exporter that asks it for audio must agree on this count, or the
// exporter would read planes the host never filled; both take it from here.
// It is ours, not the vendor's, so it stays on the path beside KEOHostAPI.h.
#pragma once

#include <cstdint>

#include "KEOHostAPI.h"

// 1, 2 or 6; -1 for a type this code does not handle.
inline int32_t KEOChannelsOfType(PrAudioChannelType type) {
    switch (type) {
    case kPrAudioChannelType_Mono:
        return 1;
    case kPrAudioChannelType_Stereo:
        return 2;
    case kPrAudioChannelType_51:
        return 6;
    default:
        return -1;
    }
}
