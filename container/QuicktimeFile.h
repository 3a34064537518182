// QuicktimeFile: everything the container keeps about one open movie file.
//
// It owns the stream, the movie tree, the track maps and the frame index. It
// is created zero-filled by MovFile::open and released by MovFile::close.
#pragma once

#include <cstdint>

#include "base/ByteBuffer.h"
#include "container/FrameIndex.h"
#include "container/LargeFp.h"
#include "container/QuicktimeAtom.h"
#include "container/TrackMaps.h"
#include "container/atoms/MovieHeader.h"
#include "container/atoms/Track.h"

// The media data atom: while reading, start and size of the last top-level
// mdat; while writing, the open mdat with its 64-bit header.
struct QuicktimeMDat : QuicktimeAtom {};

struct QuicktimeFile {
    LargeFp* fp;
    int64_t fileSize; // when reading: no walk and no read goes past it
    // When reading: a top-level movie atom was found. A writer puts it last,
    // so a file without one most often stopped being written or was cut short.
    bool hasMovieAtom;
    QuicktimeMDat mdat;
    QuicktimeMOOV moov;
    int32_t rd;
    int32_t wr;
    int64_t lastPosition; // position last asked for or reported
    int64_t filePosition; // position after the last read, write or seek
    int32_t totalAudioTracks;
    QuicktimeAudioMap* audioMaps;
    int32_t totalVideoTracks;
    QuicktimeVideoMap* videoMaps;
    // Kept for whoever reads this movie's frames (MovFile::frameBuffers):
    // the sample's bytes and its decoder's working memory.
    keo::ByteBuffer sampleBytes;
    keo::ByteBuffer decodeScratch;
    QuicktimeFrameIndex frameIndex; // the first video track's frames, when reading
};
