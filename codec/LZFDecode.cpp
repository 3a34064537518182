// LZF decompression with wide copies: a fast token loop far from the ends of
// the buffers, and a careful one near them that follows liblzf's checks in
// liblzf's order.
#include "codec/LZFDecode.h"

#include <cstring>

#if KEO_HAVE_LZF_SSE2_PATH
#include <emmintrin.h>
#endif

namespace {

// The fast loop runs while the input has this many bytes left (a control
// byte, two more of a reference, and a 32-byte wild literal copy) ...
constexpr size_t kInputMargin = 40;
// ... and the output this many: the longest reference (264 bytes) plus the
// widest step past its end.
constexpr size_t kOutputMargin = 300;

inline void copy8(unsigned char* to, const unsigned char* from) {
    uint64_t word;
    std::memcpy(&word, from, 8);
    std::memcpy(to, &word, 8);
}

// A reference closer than 8 bytes repeats its first `distance` bytes: an
// 8-byte word of that pattern is stored every `step` bytes, step being the
// largest multiple of the distance that fits into 8.
inline void copyNear(unsigned char* op, const unsigned char* ref, size_t length, size_t distance) {
    static const unsigned char kStep[8] = {0, 8, 8, 6, 8, 5, 6, 7};
    unsigned char pattern[8];
    for (size_t i = 0; i < distance; ++i)
        pattern[i] = ref[i];
    for (size_t i = distance; i < 8; ++i)
        pattern[i] = pattern[i - distance];
    for (size_t i = 0; i < length; i += kStep[distance])
        std::memcpy(op + i, pattern, 8);
}

// 8-byte words: a reference 8 or more bytes back never reads a byte of its
// own step before it is written. Most references are 3 to 8 bytes long and
// take one step, which reads no byte it does not need: a wider read of
// bytes that the last tokens have just stored waits for those stores.
struct PortableCopy {
    static void literal(unsigned char* op, const unsigned char* ip) {
        copy8(op, ip);
        copy8(op + 8, ip + 8);
        copy8(op + 16, ip + 16);
        copy8(op + 24, ip + 24);
    }
    static void reference(unsigned char* op, const unsigned char* ref, size_t length,
                          size_t distance) {
        if (distance < 8) {
            copyNear(op, ref, length, distance);
            return;
        }
        size_t i = 0;
        do {
            copy8(op + i, ref + i);
            i += 8;
        } while (i < length);
    }
};

#if KEO_HAVE_LZF_SSE2_PATH
inline void copy16(unsigned char* to, const unsigned char* from) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(from)));
}

// 16-byte steps where the reference is at least that far back and longer
// than one 8-byte step, 8-byte ones from 8 to 15, the pattern below.
struct SSE2Copy {
    static void literal(unsigned char* op, const unsigned char* ip) {
        copy16(op, ip);
        copy16(op + 16, ip + 16);
    }
    static void reference(unsigned char* op, const unsigned char* ref, size_t length,
                          size_t distance) {
        size_t i = 0;
        if (distance >= 8 && length <= 8) {
            copy8(op, ref);
            return;
        }
        if (distance >= 16) {
            do {
                copy16(op + i, ref + i);
                i += 16;
            } while (i < length);
        } else if (distance >= 8) {
            do {
                copy8(op + i, ref + i);
                i += 8;
            } while (i < length);
        } else {
            copyNear(op, ref, length, distance);
        }
    }
};
#endif

// Whole tokens while both margins hold and fewer than `stop` bytes are out.
// False on a reference before the start of the output, the only refusal
// possible this far from the ends.
template <typename Copy>
bool fastTokens(const unsigned char*& ipRef, unsigned char*& opRef, const unsigned char* ipLimit,
                const unsigned char* opStop, const unsigned char* out) {
    const unsigned char* ip = ipRef;
    unsigned char* op = opRef;
    bool accepted = true;
    while (ip < ipLimit && op < opStop) {
        const unsigned int control = ip[0];
        if (control < 32) {
            Copy::literal(op, ip + 1);
            op += control + 1;
            ip += control + 2;
            continue;
        }
        size_t length = control >> 5;
        ++ip;
        if (length == 7)
            length += *ip++;
        const size_t distance = ((control & 31u) << 8) + *ip++ + 1;
        if (distance > static_cast<size_t>(op - out)) {
            accepted = false;
            break;
        }
        length += 2;
        Copy::reference(op, op - distance, length, distance);
        op += length;
    }
    ipRef = ip;
    opRef = op;
    return accepted;
}

// Tokens one by one with every check of lzf_decompress, until `stop` bytes
// are out or the input ends. Nothing is written past the token's end.
bool carefulTokens(const unsigned char*& ipRef, unsigned char*& opRef, const unsigned char* inStop,
                   const unsigned char* inEnd, unsigned char* outEnd, size_t stop,
                   const unsigned char* out) {
    const unsigned char* ip = ipRef;
    unsigned char* op = opRef;
    bool accepted = true;
    while (ip < inStop && static_cast<size_t>(op - out) < stop) {
        const unsigned int control = *ip++;
        if (control < 32) {
            const size_t length = control + 1;
            if (length > static_cast<size_t>(outEnd - op) ||
                length > static_cast<size_t>(inEnd - ip)) {
                accepted = false;
                break;
            }
            std::memcpy(op, ip, length);
            op += length;
            ip += length;
            continue;
        }
        size_t length = control >> 5;
        if (ip >= inEnd) {
            accepted = false;
            break;
        }
        if (length == 7) {
            length += *ip++;
            if (ip >= inEnd) {
                accepted = false;
                break;
            }
        }
        const size_t distance = ((control & 31u) << 8) + *ip++ + 1;
        length += 2;
        if (length > static_cast<size_t>(outEnd - op) || distance > static_cast<size_t>(op - out)) {
            accepted = false;
            break;
        }
        const unsigned char* ref = op - distance;
        for (size_t i = 0; i < length; ++i)
            op[i] = ref[i];
        op += length;
    }
    ipRef = ip;
    opRef = op;
    return accepted;
}

#if KEO_HAVE_LZF_SELECT_PATH
// Hides a value's origin from the optimiser, which would otherwise see that
// a mask comes from a comparison and branch on the comparison instead.
template <typename T> inline T opaque(T value) {
    asm("" : "+r"(value));
    return value;
}

// All ones for a bit of 1, all zeros for 0, without an unsigned wrap.
inline size_t maskOf(size_t bit) {
    return opaque(static_cast<size_t>(-static_cast<intptr_t>(bit)));
}

// Whole tokens while both margins hold and fewer than `stop` bytes are out,
// as fastTokens, with the literal-or-reference choice made by conditional
// moves. The bytes of both kinds are taken by one 16-byte copy from the
// chosen source and one of the 16 input bytes after it: a literal of up to
// 32 bytes lies in those, a reference of up to 16 in the first (when it is
// at least its own length back), and what the second copy writes past a
// reference is overwritten by the tokens after it, as every wild copy is.
bool selectTokens(const unsigned char*& ipRef, unsigned char*& opRef, const unsigned char* ipLimit,
                  const unsigned char* opStop, const unsigned char* out) {
    const unsigned char* ip = ipRef;
    unsigned char* op = opRef;
    bool accepted = true;
    while (ip < ipLimit && op < opStop) {
        const size_t control = ip[0];
        const size_t b1 = ip[1];
        const size_t b2 = ip[2];
        // All ones for a reference, and for one whose length takes a byte
        // of its own (control 224 and up; a literal's control is below 32).
        const size_t referenceMask = maskOf(control >= 32);
        const size_t isLong = (control + 32) >> 8;
        const size_t longMask = maskOf(isLong);
        const size_t referenceLength = (control >> 5) + 2 + (b1 & longMask);
        const size_t distance = ((control & 31u) << 8) + (b1 ^ ((b1 ^ b2) & longMask)) + 1;
        const size_t written = static_cast<size_t>(op - out);
        const size_t awkward = size_t(distance > written) | size_t(referenceLength > 16) |
                               (size_t(distance < 16) & size_t(referenceLength > distance));
        if (__builtin_expect((referenceMask & awkward) != 0, 0)) {
            if (distance > written) {
                accepted = false;
                break;
            }
            SSE2Copy::reference(op, op - distance, referenceLength, distance);
            op += referenceLength;
            ip += 2 + isLong;
            continue;
        }
        uintptr_t from = reinterpret_cast<uintptr_t>(op) - distance;
        size_t length = referenceLength;
        size_t skip = isLong; // input bytes after the control byte's next one
        asm("cmpq $32, %[control]\n\t"
            "cmovb %[literalFrom], %[from]\n\t"
            "cmovb %[literalLength], %[length]\n\t"
            "cmovb %[control], %[skip]"
            : [from] "+&r"(from), [length] "+&r"(length), [skip] "+&r"(skip)
            : [control] "r"(control), [literalFrom] "r"(reinterpret_cast<uintptr_t>(ip + 1)),
              [literalLength] "r"(control + 1)
            : "cc");
        copy16(op, reinterpret_cast<const unsigned char*>(from));
        copy16(op + 16, ip + 17);
        op += length;
        ip += skip + 2;
    }
    ipRef = ip;
    opRef = op;
    return accepted;
}
#endif

typedef bool (*FastLoop)(const unsigned char*& ip, unsigned char*& op, const unsigned char* ipLimit,
                         const unsigned char* opStop, const unsigned char* out);

FastLoop fastLoopOf(KEOLZFPath path) {
#if KEO_HAVE_LZF_SELECT_PATH
    if (path == kKEOLZFSelect)
        return selectTokens;
#endif
#if KEO_HAVE_LZF_SSE2_PATH
    if (path != kKEOLZFPortable)
        return fastTokens<SSE2Copy>;
#endif
    (void)path;
    return fastTokens<PortableCopy>;
}

// Tokens until `target` bytes are out or a token starts at or past
// `inputStop` bytes of input (a token that starts before it is decoded
// whole).
bool decodeUntil(KEOLZFStream* s, size_t target, size_t inputStop) {
    const unsigned char* ip = s->in + s->consumed;
    unsigned char* op = s->out + s->produced;
    const size_t inLength = static_cast<size_t>(s->inEnd - s->in);
    const size_t outLength = static_cast<size_t>(s->outEnd - s->out);
    const size_t stop = target < outLength ? target : outLength;
    const unsigned char* inStop = s->in + (inputStop < inLength ? inputStop : inLength);
    bool accepted = true;
    if (inLength > kInputMargin && outLength > kOutputMargin) {
        const size_t fastStop = stop < outLength - kOutputMargin ? stop : outLength - kOutputMargin;
        const unsigned char* fastLimit =
            s->inEnd - kInputMargin < inStop ? s->inEnd - kInputMargin : inStop;
        accepted = fastLoopOf(s->path)(ip, op, fastLimit, s->out + fastStop, s->out);
    }
    // The careful loop finishes the stretch, and past the output's end it
    // meets any token left over, which liblzf refuses.
    if (accepted)
        accepted = carefulTokens(ip, op, inStop, s->inEnd, s->outEnd, target, s->out);
    s->consumed = static_cast<size_t>(ip - s->in);
    s->produced = static_cast<size_t>(op - s->out);
    s->refused = !accepted;
    return accepted;
}

} // namespace

bool KEOLZFPathAvailable(KEOLZFPath path) {
    switch (path) {
    case kKEOLZFSSE2:
        return KEO_HAVE_LZF_SSE2_PATH;
    case kKEOLZFSelect:
        return KEO_HAVE_LZF_SELECT_PATH;
    default:
        return true;
    }
}

void KEOLZFBegin(KEOLZFStream* stream, const unsigned char* in, unsigned int inLength,
                 unsigned char* out, unsigned int outLength, KEOLZFPath path) {
    stream->in = in;
    stream->inEnd = in + inLength;
    stream->out = out;
    stream->outEnd = out + outLength;
    stream->consumed = 0;
    stream->produced = 0;
    stream->path = path;
    // liblzf reads a control byte even from an empty input, and refuses it.
    stream->refused = inLength == 0 || !KEOLZFPathAvailable(path);
}

bool KEOLZFDecodeUntil(KEOLZFStream* stream, size_t target) {
    if (stream->refused)
        return false;
    return decodeUntil(stream, target, SIZE_MAX);
}

bool KEOLZFDecodeUntilInput(KEOLZFStream* stream, size_t target, size_t inputStop) {
    if (stream->refused)
        return false;
    return decodeUntil(stream, target, inputStop);
}

namespace {

// Bytes of the token whose control byte is `control`.
size_t tokenSize(size_t control) {
    return control < 32 ? control + 2 : (control >> 5 == 7 ? 3 : 2);
}

// The input offset after the token at `at`, or the length when the token is
// cut short.
size_t nextToken(const unsigned char* in, size_t length, size_t at) {
    const size_t size = tokenSize(in[at]);
    return size <= length - at ? at + size : length;
}

// Whether `tokens` tokens from `at` parse as the start of a stream of their
// own: a literal run first, and no reference reaching before `at`.
bool startsAStream(const unsigned char* in, size_t length, size_t at, int tokens) {
    if (in[at] >= 32)
        return false;
    size_t i = at, made = 0;
    for (int t = 0; t < tokens; ++t) {
        if (i >= length || tokenSize(in[i]) > length - i)
            return false;
        const size_t control = in[i];
        const size_t next = i + tokenSize(control);
        if (control < 32) {
            made += control + 1;
        } else {
            const size_t distance = ((control & 31u) << 8) + in[next - 1] + 1;
            if (distance > made)
                return false;
            made += (control >> 5) + 2 + (control >> 5 == 7 ? in[i + 1] : 0);
        }
        i = next;
    }
    return true;
}

// Tokens parsed before the offset where a start is looked for: a parse that
// begins at an arbitrary byte falls in step with the stream's own tokens
// within a few tokens, so the offsets it visits past this are tokens' starts.
constexpr size_t kLeadIn = 4096;

} // namespace

size_t KEOLZFFindStart(const unsigned char* in, size_t length, size_t from, int tokens) {
    size_t at = from > kLeadIn ? from - kLeadIn : 0;
    for (; at < length; at = nextToken(in, length, at))
        if (at >= from && startsAStream(in, length, at, tokens))
            return at;
    return length;
}

bool KEOLZFFinished(const KEOLZFStream* stream) {
    return !stream->refused && stream->in + stream->consumed == stream->inEnd &&
           stream->out + stream->produced == stream->outEnd;
}

unsigned int KEOLZFDecompress(const unsigned char* in, unsigned int inLength, unsigned char* out,
                              unsigned int outLength, KEOLZFPath path) {
    KEOLZFStream stream;
    KEOLZFBegin(&stream, in, inLength, out, outLength, path);
    // Past the output's end, so that tokens left over after a full output
    // are met and refused as liblzf refuses them.
    if (!KEOLZFDecodeUntil(&stream, static_cast<size_t>(outLength) + 1))
        return 0;
    return static_cast<unsigned int>(stream.produced);
}
