// MovFile: the movie object through which a KEO movie is read or written.
//
// Reading: openRead walks the file's top-level atoms, reads the movie tree and
// builds one map per video and per audio track. The video queries answer for
// the first video track; the audio queries take an index into the audio maps.
// The importer reads frame bytes itself through the returned handle: it seeks
// to frameOffset(n) and reads frameSize(n) bytes.
//
// Refusals. A video sample description that is not ZUVM clears `ok`. A file
// whose structure cannot be trusted (an atom shorter than the fields it must
// hold, a count whose entries do not fit in their atom, a child atom reaching
// past its parent, atoms nested too deep, movie atoms longer than
// kMaxMovieAtomBytes, a video track with more frames than its file could hold
// or whose samples are all too small to be frames) is refused as well:
// openRead returns null and `ok` stays true. Every atom is read through a
// bounded reader (container/AtomReader.h), and nothing is ever allocated from
// a count that the bytes of its atom cannot back.
//
// Frames. When a movie opens, the first video track's tables are turned into
// an index (container/FrameIndex.h), so frameOffset and frameSize(frame)
// take no walk of the tables. They return -1 and 0 for a frame that does not
// exist (negative, or not below nFrames()), has no chunk (empty or
// inconsistent sample-to-chunk and chunk offset tables), is smaller than the
// caller's least sample, or whose bytes do not lie inside the file; callers
// treat either answer as "no such frame". A movie open for writing locates no
// frame.
//
// Writing: openWrite creates the file and the movie's tracks; every frame and
// every audio block goes in as one chunk (prepareToWriteFrame, the bytes,
// endWriteFrame), and close writes the movie atom after the media data, its
// sizes patched in once known (MovFileWrite.cpp, container/atoms/*Write.cpp).
//
// One MovFile serves one file at a time, from one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/ByteBuffer.h"
#include "base/FrameRate.h"
#include "container/LargeFp.h"
#include "container/QuicktimeAtom.h"
#include "container/QuicktimeMatrix.h"

struct QuicktimeFile;
struct QuicktimeTrak;
struct QuicktimeSTSDTable;

// The most bytes that the movie atoms of one file may take together. The walk
// reads a movie atom whole into memory, so one that claims more is refused
// before a byte of it is read. The longest movie worth planning for, 10
// hours at 120 fps, has 4,320,000 frames. This writer gives every frame and
// every frame's worth of sound a chunk of its own: per frame a 4-byte sample
// size and an 8-byte chunk offset, per sound chunk an 8-byte offset and, where
// the sound's sample frames do not divide evenly into frames (44.1 kHz at 120
// fps: 367 or 368), a 12-byte sample-to-chunk entry: 32 bytes a frame, 138 MB.
// Other writers may add a sync-sample entry (4 bytes) and a dependency byte a
// frame, and a second sound track laid out like the first (20 bytes): 57
// bytes a frame, 246 MB. Everything else in a movie atom is a few KB a track.
constexpr int64_t kMaxMovieAtomBytes = int64_t{256} << 20;

// The least room a writer keeps for the movie atom at the start of a file,
// and the answer of MovFile::updateMovieAtom when the atom outgrew it.
constexpr int64_t kMinHeaderRoom = 4096;
constexpr int kHeaderRoomFull = 2;
static_assert(kMaxMovieAtomBytes >= int64_t{10} * 3600 * 120 * (4 + 8 + 8 + 12 + 4 + 1 + 8 + 12),
              "the tables of a 10-hour movie at 120 fps fit");

struct MovFile {
    QuicktimeAtom chunkAtom; // writer only: the chunk being written
    int64_t chunkStart;      // writer only: where that chunk began
    int64_t chunkEnd;        // writer only: where it ended
    bool ok;                 // false once a video description was not ZUVM
    bool refused;            // the file's structure could not be trusted
    // Refused for movie atoms over kMaxMovieAtomBytes, which a real movie may
    // still have: the caller says so rather than call the file damaged.
    bool movieAtomTooLarge = false;
    QuicktimeFile* file;    // the open file, else null
    char typeText[12];      // storage behind frameType()
    char audioTypeText[12]; // storage behind audioType()
    // Writer state (MovFileWrite.cpp): the kind of the chunk now open and of
    // the one begun last (0 none, 1 video, 2 audio), the end of the last
    // chunk the tables refer to, and whether a chunk operation failed.
    int openChunk = 0;
    int lastChunk = 0;
    int64_t mediaEnd = 0;
    bool writeFailed = false;
    // The system's error number of the first write that failed (ENOSPC,
    // EFBIG, ...), kept past close so a caller can name the reason; 0 when
    // none failed or the reason is not known. Cleared by openWrite.
    int writeErrno = 0;

    MovFile();
    ~MovFile() {}

    // The least bytes a video sample may have to be located, given by the
    // caller of openRead (the container knows no codec); 0 takes any size.
    int64_t minSampleBytes = 0;

    // --- Opening and closing (MovFileRead.cpp) ---
    // The handle of the opened file, or null when it cannot be opened or is
    // refused (then `ok` tells a non-ZUVM video track from a broken file).
    // `minSampleBytes` is the least a sample of the caller's codec can take
    // (the importer gives a KEO frame's header size): a smaller sample is not
    // located, and a video track whose samples all share a smaller size is
    // refused.
    LargeFp* openRead(char const* path, int64_t minSampleBytes = 0);
    // Same over `size` bytes in memory, which must outlive the movie.
    LargeFp* openReadMemory(const void* data, size_t size, int64_t minSampleBytes = 0);
    QuicktimeFile* open(const char* path, int rd, int wr, const char* text);
    // open's writing side over a stream the caller made, which it takes over.
    QuicktimeFile* openOver(LargeFp* fp);
    int fileOpen(QuicktimeFile* file, const char* path, int rd, int wr);
    int readInfo(QuicktimeFile* file);
    int initMaps(QuicktimeFile* file);
    int close();
    void fileClose();
    void deleteAll();
    void init();

    // --- Video queries (MovFileRead.cpp) ---
    // Frames of the first video track (its sample size count, at most
    // INT_MAX); 0 with no file or no video track.
    int nFrames() const;
    // Bytes of `frame`; 0 for a frame that cannot be located (see above).
    int frameSize(int frame) const;
    // Track header width and height truncated; 0, 0 without a video track.
    void frameSize(int& width, int& height) const;
    int frameBitDepth() const;
    // The first video description's format as a terminated string ("" when
    // there is none); valid until the next call.
    const char* frameType();
    // Media time scale and first time-to-sample duration; a value that does
    // not fit an int, or a missing track, reports 0.
    void frameRate(int& numerator, int& denominator) const;
    // numerator / denominator, 0 when either is 0.
    float frameRate() const;
    // The rate the whole time-to-sample table plays at (TableRate.cpp says
    // which entries it leaves out). Where every frame it counts lasts as
    // long, *even is true and the rate is the media time scale over that
    // duration, as frameRate(n, d) gives them for a table of one entry;
    // otherwise the frames over the time they take, in lowest terms. Terms
    // of 0 where frameRate(n, d) gives them.
    keo::FrameRate tableFrameRate(bool* even) const;
    // File offset of `frame`'s first byte, -1 when it cannot be located.
    long long frameOffset(long long frame);
    int setVideoPosition(QuicktimeFile* file, long long frame, int track);
    // Reads the frame's frameSize(frame) bytes; returns that count (0 when
    // the frame cannot be located, then nothing is written).
    int readFrame(long long frame, unsigned char* buffer);
    int videoTracks(QuicktimeFile* file) const;
    // Memory kept from one frame request to the next while the movie is
    // open: `sample` for a frame's bytes, `scratch` for its decoder. Both
    // grow only when a larger frame needs it and are released by close.
    // False without an open file.
    bool frameBuffers(keo::ByteBuffer** sample, keo::ByteBuffer** scratch);
    // The file's length in bytes, measured once when it was opened for
    // reading; 0 without one.
    int64_t fileLength() const;

    // --- Audio (MovFileAudio.cpp) ---
    bool hasAudio();
    bool containsAudio();
    int audioTracks(QuicktimeFile* file);
    int audioTracks();
    int audioTrackNumberOfChannels(int trackIndex);
    int audioTrackNumberOfChannels(QuicktimeFile* file, int trackIndex);
    long long audioTrackSampleRate(int trackIndex);
    int audioTrackAudioBits(int trackIndex);
    int audioTrackBytesPerSample(int trackIndex);
    long long audioTrackNumberOfSamples(int trackIndex);
    int audioTrackBytesPerPacket(int trackIndex);
    // Format of the first audio description ("sowt", "twos", ...), "" when
    // there is none; valid until the next call.
    const char* audioType();
    // True for "sowt" in any letter case: the samples are little-endian.
    bool audioBigEndian() const;
    int audioChannelLocation(QuicktimeFile* file, int* trackIndex, int* channelInTrack,
                             int channel);
    int setAudioPosition(QuicktimeFile* file, long long sample, int trackIndex);
    // Reads numSamples sample frames from the track's current position into
    // `out` (room for numSamples x channels x bits / 8 bytes). Stops early at
    // a sample without a chunk, a chunk of 0 samples, a track whose sample
    // width is not 8, 16, 24 or 32 bits or has no channels, and at the end
    // of the file. Returns the bytes that came from the file: fewer than
    // asked for means the rest of `out` holds no samples.
    long long readAudio(QuicktimeFile* file, char* out, long numSamples, int trackIndex);
    // setAudioPosition(firstSample) then the read above; returns its bytes.
    long long readAudio(char* out, long firstSample, long numSamples, int trackIndex);
    // One channel of big-endian samples as 16-bit values (the top 16 bits of
    // wider samples); 0 when bytes were read, 1 otherwise.
    int audioTwosDecode(QuicktimeFile* file, uint16_t* out, long numSamples, int trackIndex,
                        int channelInTrack);
    int audioDecode(QuicktimeFile* file, uint16_t* out, long numSamples, int channel);
    // The stereo audio of video frame `frame`, 2 x count values (release
    // with delete[]); count 0 and an empty array without audio or video.
    uint16_t* getAudioData(int frame, int& count);

    // --- Writing (MovFileWrite.cpp) ---
    // Creates the file and a movie with one video track (hasVideo) and one
    // "sowt" audio track (hasAudio); null when the file cannot be created or
    // an argument cannot be written (then nothing is left open). The frame
    // rate is stored exactly (QuicktimeMVHD::getTimeBase); one that does not
    // fit keo::rateFitsMovie is such an argument.
    QuicktimeFile* openWrite(char const* path, char* compressor, int width, int height,
                             keo::FrameRate rate, int hasVideo, int hasAudio, int sampleRate,
                             int channels, int bits);
    // The same into `stream`, whose position 0 becomes the movie's first
    // byte; the movie takes the stream over whether or not the open
    // succeeds. The writer seeks in it, back to bytes it has written, only
    // at close; a stream without a file descriptor is never cut short.
    QuicktimeFile* openWrite(LargeFp* stream, char* compressor, int width, int height,
                             keo::FrameRate rate, int hasVideo, int hasAudio, int sampleRate,
                             int channels, int bits);
    // Gives up the movie being written: the stream is closed without a movie
    // atom, the media data's size field still 0, as a writer stopped before
    // close leaves it. Nothing reads such a file as a movie.
    void abandonWrite();
    QuicktimeFile* startMovie(QuicktimeFile* f, char* compressor, int width, int height,
                              keo::FrameRate rate, int hasVideo, int hasAudio, int sampleRate,
                              int channels, int bits);
    // Add tracks; 0 on success.
    int setVideo(int tracks, int width, int height, keo::FrameRate rate, char* compressor);
    int setAudio(int tracks, int channels, int sampleRate, int bits, char* compressor);
    // One chunk each. prepare* return the handle to write the chunk into,
    // null while a chunk is open or once the movie has failed; the end calls
    // and writeFrame return 0, or non-zero for a chunk that did not reach
    // the file whole or could not be entered (the movie has then failed).
    LargeFp* prepareToWriteFrame(int track);
    int endWriteFrame();
    int writeFrame(int track, int length, unsigned char* data);
    // Takes back the frame written last; non-zero (and nothing changed) when
    // there is none or an audio block was begun after it.
    int undoWriteFrame();
    LargeFp* prepareToWriteAudioSample();
    int endWriteAudioSample(int numSamples);
    // Ends the sound track after its first `samples` sample frames: the
    // chunk that holds the last of them counts only those, and later
    // chunks leave the tables (their bytes stay, and nothing reads them).
    // 0, or non-zero with nothing changed while a chunk is open or without
    // a sound track. A track already that short is left as it is.
    int cutAudio(int64_t samples);
    // Sets the video track's rate after the fact, as openWrite would have
    // set it (a rate learned from the frames themselves). 0, or non-zero
    // with nothing changed for a rate no movie holds.
    int setFrameRate(keo::FrameRate rate);
    // close's writing side: the movie atom after the media data, or in the
    // room kept for it. Non-zero when the movie is not complete in the file.
    int closeWrite();

    // --- The movie atom at the start (MovFileHeaderRoom.cpp) ---
    // Writer option, set before openWrite: bytes kept at the start of the
    // file for the movie atom, an even number from kMinHeaderRoom to
    // 0xFFFFFFFE; 0 (the default) writes it after the media data at close.
    // With room, updateMovieAtom writes the movie atom of what has been
    // written so far there, and close writes it there too when it fits (or
    // after the media data, the room then left as free space).
    int64_t headerRoom = 0;
    // Which half of the room holds the movie atom a reader sees: 0 none yet.
    int headerHalf = 0;
    // Writes the room (all free space) and the media data's header at the
    // current position; 0, or 1 when a write failed.
    int startMediaData();
    // 0 when the movie atom of every chunk entered so far is in the room
    // and the media data's size covers them; kHeaderRoomFull, with nothing
    // written, when it no longer fits half the room; 1 when writing failed
    // (the movie has then failed). A reader that opens the file at any
    // moment, even one cut off in the middle of this call, sees the movie
    // atom of the last call that returned 0, whole, or none before it.
    int updateMovieAtom();
    int placeMovieAtomInRoom();
    void hideHeaderRoom();
    // Pushes what stdio still holds to the file. False when the stream has
    // failed at any point since its error flag was last cleared, so a chunk
    // that did not reach the file whole is never taken for a written one.
    bool flushWrites();
    void resetWriteState();
    // Keeps errno as writeErrno unless a reason is kept already; a caller
    // whose own write into a prepared chunk failed calls it too.
    void noteWriteError();
    bool canBeginChunk() const;
    int finishChunk(QuicktimeTrak* track, int64_t chunk, QuicktimeAtom& atom, int samples,
                    int64_t expectedBytes);

    // --- Field primitives (MovFilePrimitives.cpp) ---
    // The one read path: n bytes at the current position. Returns how many
    // came from the file; whatever lies past its end reads as zero, and
    // the counters advance by n all the same.
    int64_t readInto(int64_t n, void* buf);
    int readChar();
    int readInt16();
    int64_t readInt24();
    int64_t readInt32();
    int64_t readUInt32();
    int64_t readSizeOfAtom();
    uint64_t readInt64();
    void readChar32(char* buf);
    float readFixed32();
    float readFixed16();
    // Length byte, then that many bytes into `buf` (256 bytes), terminated.
    void readPascal(char* buf);
    void readMatrix(QuicktimeMatrix& m);

    int writeInto(int64_t n, const void* buf);
    int writeChar(int c);
    int writeInt16(int64_t v);
    int writeInt24(int64_t v);
    int writeInt32(int64_t v);
    int writeInt64(int64_t v);
    int writeChar32(const char* s);
    int writeFixed16(float f);
    int writeFixed32(float f);
    int writeMatrix(const QuicktimeMatrix& m);
    int writePascal(const char* s);

    int64_t position(QuicktimeFile* file);
    int setPosition(QuicktimeFile* file, int64_t pos);
    static int match32(const char* a, const char* b);
    int atomSkip(QuicktimeFile* file, QuicktimeAtom& atom);

    // --- Refusal, used by the atom readers ---
    void refuse() { refused = true; }
    bool stopped() const { return !ok || refused; }

    // First description of video map 0 / audio map 0, or null.
    QuicktimeTrak* firstVideoTrack() const;
    const QuicktimeSTSDTable* firstVideoDescription() const;
    const QuicktimeSTSDTable* audioDescription(int trackIndex) const;
    // Offset, size and chunk of a frame of the first video track; false
    // when it cannot be located (see above).
    bool locateFrame(int64_t frame, int64_t* offset, int64_t* size, int64_t* chunk) const;
};
