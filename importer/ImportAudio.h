// Delivering the movie's audio to the host.
#pragma once

#include "KEOHostAPI.h"

// Works out which sample frames a request gets from a track of `length`
// frames: *first is the request's position, or *audioPosition for a negative
// one; *count is the request's size, cut at the end of the track (negative
// when *first lies beyond it). *audioPosition moves to the end of what is
// delivered, or to the track's length.
void calculateAudioRequest(imImportAudioRec7* request, long long length, long long* audioPosition,
                           long long* first, long long* count);
