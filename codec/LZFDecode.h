// LZF decompression for the frame decoder: the same streams, bytes and
// answers as liblzf's lzf_decompress, several times faster.
//
// An LZF stream is a sequence of tokens, each opened by a control byte c:
//
//   c < 32       literal run: the next c + 1 input bytes are copied out
//   c >= 32      back-reference: length L = c >> 5, and when L is 7 one more
//                byte is added to it; then a byte d; the L + 2 bytes that
//                start ((c & 31) << 8) + d + 1 bytes back in the output are
//                copied out, one after the other, so a reference that
//                overlaps its own output repeats a pattern
//
// so a token yields 1 to 32 literal bytes or 3 to 264 copied ones from at
// most 8192 bytes back. A stream is refused (result 0) exactly where
// lzf_decompress refuses it: a token cut by the end of the input, a
// reference before the start of the output, or output past the limit. A
// stream that ends early is not refused; the result is then the shorter
// length, which the frame decoder checks.
//
// liblzf moves most bytes one at a time. This decoder copies 8 or 16 bytes
// per step into an output that has room after them ("wild" copies that are
// overwritten by the next token), takes references by their distance (16 or
// more: plain wide copies; 8 to 15: 8-byte steps; below 8: a pattern of the
// first bytes), and checks the bounds once per token. Within 300 bytes of
// the output's end or 40 of the input's end it finishes with a careful loop
// that writes no byte past the token it decodes. liblzf stays the compressor
// and the reference in tests.
//
// The select path decodes a token without asking whether it is a literal or
// a reference: it works out both (where the bytes come from, how many, how
// far the input moves) and picks with conditional moves, then makes the same
// two 16-byte copies either way. Only the rare reference that two copies
// cannot carry (longer than 16 bytes, or closer than its own length) takes a
// branch. Where the kinds of token follow each other in a way the processor
// cannot predict, as in the blocks of frames with alpha, each wrong guess
// costs more than the select does: on photographs with an alpha gradient
// this path unpacks DXT5 blocks about 15 % faster, while the blocks of
// opaque frames, whose token kinds are guessed well, unpack faster with the
// branching loop.
#pragma once

#include <cstddef>
#include <cstdint>

// The 16-byte path needs only SSE2, which every x86-64 processor has.
#if defined(__SSE2__) && (defined(__x86_64__) || defined(__i386__))
#define KEO_HAVE_LZF_SSE2_PATH 1
#else
#define KEO_HAVE_LZF_SSE2_PATH 0
#endif
// The select path's conditional moves are written for x86-64 compilers that
// take GNU inline assembly: left to themselves, compilers turn the select
// back into the branch it is there to avoid.
#if KEO_HAVE_LZF_SSE2_PATH && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KEO_HAVE_LZF_SELECT_PATH 1
#else
#define KEO_HAVE_LZF_SELECT_PATH 0
#endif

enum KEOLZFPath {
    kKEOLZFBest,     // the fastest path this build has for most streams (SSE2)
    kKEOLZFPortable, // 8-byte steps in plain C++, any machine
    kKEOLZFSSE2,     // 16-byte steps, x86 builds only
    kKEOLZFSelect,   // 16-byte steps, token kinds picked without a branch; x86-64
};

bool KEOLZFPathAvailable(KEOLZFPath path);

// lzf_decompress's contract: decodes in[0, inLength) into out[0, outLength)
// and returns the bytes produced, or 0 for a refused stream (or an empty
// input, or an unavailable path). On refusal out may hold anything within
// its outLength bytes; nothing outside them is ever written or read.
unsigned int KEOLZFDecompress(const unsigned char* in, unsigned int inLength, unsigned char* out,
                              unsigned int outLength, KEOLZFPath path = kKEOLZFBest);

// A decode that stops and resumes between tokens, so that the caller can use
// each stretch of output while it is still in cache. Start with
// KEOLZFBegin, call KEOLZFDecodeUntil with rising targets; the bytes before
// `produced` are final. The stream was accepted whole when KEOLZFFinished
// says so, and its bytes and answer are those of KEOLZFDecompress.
struct KEOLZFStream {
    const unsigned char* in;
    const unsigned char* inEnd;
    unsigned char* out;
    unsigned char* outEnd;
    size_t consumed; // input bytes taken by whole tokens
    size_t produced; // output bytes written by whole tokens
    bool refused;
    KEOLZFPath path;
};

void KEOLZFBegin(KEOLZFStream* stream, const unsigned char* in, unsigned int inLength,
                 unsigned char* out, unsigned int outLength, KEOLZFPath path = kKEOLZFBest);

// Decodes tokens until at least `target` bytes are produced (a token may
// carry it up to 263 bytes further), the input is used up, or the stream is
// refused. Returns false once the stream is refused.
bool KEOLZFDecodeUntil(KEOLZFStream* stream, size_t target);

// KEOLZFDecodeUntil that also stops before a token that starts at or past
// `inputStop` bytes of input: `consumed` then equals inputStop exactly when a
// token starts there, and is past it when inputStop falls inside a token.
bool KEOLZFDecodeUntilInput(KEOLZFStream* stream, size_t target, size_t inputStop);

// The first token's start at or after `from` (as a parse from 4 KiB before
// finds the tokens) from which `tokens` tokens parse as the start of a stream
// of their own: a literal run first, and no reference reaching before it. An encoder that
// compresses a frame in bands (BandedEncode.h) writes one such stream after another, so a frame's
// stream can be unpacked from the middle as well as from its start; a guess that turns out wrong is
// found out by the decode itself (a reference before its start is refused) or by the decode from
// the start not meeting the offset at a token's start. `length` when there is none.
size_t KEOLZFFindStart(const unsigned char* in, size_t length, size_t from, int tokens);

// True when the whole input was decoded without refusal into exactly the
// output's length.
bool KEOLZFFinished(const KEOLZFStream* stream);
