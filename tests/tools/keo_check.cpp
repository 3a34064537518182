// keo_check: the test side of the keo command-line tests.
//
// It makes the inputs the tests feed to keo (movies built byte by byte, WAV
// files of known samples) and checks keo's outputs against independent
// readers: the container and codec libraries for raw frames, stb_image for
// PNG files, libsndfile for WAV files. Each mode prints one line on failure
// and exits 1.
//
//   keo_check fixtures DIR
//   keo_check make-wav PATH CHANNELS RATE BITS FRAMES [float]
//   keo_check same-wav A.wav B.wav [FRAMES]
//   keo_check payload MOVIE RAW FIRST COUNT [argb|rgba]
//   keo_check png PNG RAW_RGBA
//   keo_check numbers RAW_RGBA WIDTH HEIGHT FIRST COUNT
//   keo_check make-still png8|png16|tiff8|tiff16|jpeg PATH WIDTH HEIGHT
//   keo_check make-socket PATH
#include "TestPattern.h"
#include "codec/FramePayload.h"
#include "container/MovFile.h"
#include "support/MovieBuilder.h"
#include "tools/StillWriters.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <png.h>
#include <sndfile.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb/stb_image.h>

namespace {

using Bytes = std::vector<uint8_t>;

int failed(const std::string& why) {
    std::fprintf(stderr, "keo_check: %s\n", why.c_str());
    return 1;
}

bool readFile(const std::string& path, Bytes* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// Sample i of channel c: a ramp through the whole range plus the extremes,
// so both ends of the integer range and every byte position get exercised.
int32_t sampleValue(int64_t i, int c, int bits) {
    const int64_t top = (int64_t{1} << (bits - 1)) - 1, bottom = -(int64_t{1} << (bits - 1));
    if (i % 97 == 0)
        return static_cast<int32_t>(c % 2 ? bottom : top);
    int64_t span = top - bottom + 1;
    int64_t v = bottom + ((i * 2654435761LL + c * 40503) % span + span) % span;
    return static_cast<int32_t>(v);
}

int makeWav(const std::string& path, int channels, int rate, int bits, int64_t frames,
            bool asFloat) {
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = rate;
    int sub = asFloat      ? SF_FORMAT_FLOAT
              : bits == 8  ? SF_FORMAT_PCM_U8
              : bits == 16 ? SF_FORMAT_PCM_16
              : bits == 24 ? SF_FORMAT_PCM_24
                           : SF_FORMAT_PCM_32;
    info.format = SF_FORMAT_WAV | sub;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f)
        return failed(path + ": " + sf_strerror(nullptr));
    const int width = asFloat ? 16 : bits;
    std::vector<int> buf(static_cast<size_t>(frames) * channels);
    std::vector<float> fbuf(buf.size());
    for (int64_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            int32_t v = sampleValue(i, c, width);
            size_t k = static_cast<size_t>(i) * channels + c;
            // Left-justified in 32 bits, as libsndfile's int calls take them;
            // a float file gets the same values scaled to [-1, 1).
            buf[k] = static_cast<int>(static_cast<uint32_t>(v) << (32 - width));
            fbuf[k] = static_cast<float>(v / 32768.0);
        }
    if (asFloat)
        sf_writef_float(f, fbuf.data(), frames);
    else
        sf_writef_int(f, buf.data(), frames);
    sf_close(f);
    return 0;
}

struct Wav {
    SF_INFO info{};
    std::vector<int64_t> samples;
};

bool loadWav(const std::string& path, Wav* w, std::string* why) {
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &w->info);
    if (!f) {
        *why = path + ": " + sf_strerror(nullptr);
        return false;
    }
    // Through doubles, which hold every 32-bit sample exactly, so integer
    // and float files compare on one scale.
    std::vector<double> d(static_cast<size_t>(w->info.frames) * w->info.channels);
    sf_readf_double(f, d.data(), w->info.frames);
    w->samples.resize(d.size());
    for (size_t k = 0; k < d.size(); ++k)
        w->samples[k] = static_cast<int64_t>(std::llround(d[k] * 2147483648.0));
    sf_close(f);
    return true;
}

// Samples are compared as libsndfile's left-justified 32-bit values, so a
// 16-bit source and its 24-bit export (--audio-bits 24) compare equal.
int sameWav(const std::string& a, const std::string& b, int64_t frames) {
    Wav x, y;
    std::string why;
    if (!loadWav(a, &x, &why) || !loadWav(b, &y, &why))
        return failed(why);
    if (x.info.channels != y.info.channels || x.info.samplerate != y.info.samplerate)
        return failed("channels or rate differ: " + std::to_string(x.info.channels) + "@" +
                      std::to_string(x.info.samplerate) + " vs " + std::to_string(y.info.channels) +
                      "@" + std::to_string(y.info.samplerate));
    int64_t n = frames >= 0 ? frames : x.info.frames;
    if (y.info.frames != n)
        return failed(b + " has " + std::to_string(y.info.frames) + " sample frames, expected " +
                      std::to_string(n));
    const int ch = x.info.channels;
    for (int64_t i = 0; i < n; ++i)
        for (int c = 0; c < ch; ++c) {
            size_t k = static_cast<size_t>(i) * ch + c;
            // Past the end of the source, the movie holds silence.
            int64_t expect = i < x.info.frames ? x.samples[k] : 0;
            if (y.samples[k] != expect)
                return failed("sample frame " + std::to_string(i) + " channel " +
                              std::to_string(c) + ": " + std::to_string(y.samples[k]) +
                              ", expected " + std::to_string(expect));
        }
    return 0;
}

int payload(const std::string& moviePath, const std::string& rawPath, int first, int count,
            bool rgba) {
    Bytes raw;
    if (!readFile(rawPath, &raw))
        return failed("cannot read " + rawPath);
    MovFile movie;
    if (!movie.openRead(moviePath.c_str()))
        return failed("MovFile cannot open " + moviePath);
    int w = 0, h = 0;
    movie.frameSize(w, h);
    const size_t frameBytes = static_cast<size_t>(w) * h * 4;
    int result = 0;
    if (raw.size() != frameBytes * count)
        result = failed(rawPath + " holds " + std::to_string(raw.size()) + " bytes, expected " +
                        std::to_string(frameBytes * count));
    for (int i = 0; i < count && result == 0; ++i) {
        Bytes sample(static_cast<size_t>(movie.frameSize(first + i)));
        if (sample.empty() ||
            movie.readFrame(first + i, sample.data()) != static_cast<int>(sample.size())) {
            result = failed("cannot read sample " + std::to_string(first + i));
            break;
        }
        unsigned char* picture = nullptr;
        if (DecodeFramePayload(sample.data(), static_cast<unsigned>(sample.size()), w, h,
                               &picture) != 0) {
            result = failed("DecodeFramePayload fails on sample " + std::to_string(first + i));
            break;
        }
        const uint8_t* got = raw.data() + frameBytes * i;
        for (size_t p = 0; p < frameBytes && result == 0; p += 4) {
            // rgba output is the same pixel with alpha moved to the end.
            uint8_t e[4] = {picture[p], picture[p + 1], picture[p + 2], picture[p + 3]};
            if (rgba) {
                uint8_t a = e[0];
                e[0] = e[1];
                e[1] = e[2];
                e[2] = e[3];
                e[3] = a;
            }
            if (std::memcmp(e, got + p, 4) != 0)
                result = failed("frame " + std::to_string(first + i) + " differs at pixel " +
                                std::to_string(p / 4));
        }
        std::free(picture);
    }
    movie.close();
    return result;
}

int png(const std::string& pngPath, const std::string& rawPath) {
    Bytes raw;
    if (!readFile(rawPath, &raw))
        return failed("cannot read " + rawPath);
    int w = 0, h = 0, n = 0;
    unsigned char* pixels = stbi_load(pngPath.c_str(), &w, &h, &n, 4);
    if (!pixels)
        return failed(pngPath + ": " + stbi_failure_reason());
    int result = 0;
    if (n != 4)
        result = failed(pngPath + " has " + std::to_string(n) + " channels, not RGBA");
    else if (static_cast<size_t>(w) * h * 4 != raw.size() ||
             std::memcmp(pixels, raw.data(), raw.size()) != 0)
        result = failed(pngPath + " (" + std::to_string(w) + "x" + std::to_string(h) +
                        ") does not hold the raw frame's pixels");
    stbi_image_free(pixels);
    return result;
}

int numbers(const std::string& rawPath, int w, int h, int first, int count) {
    Bytes raw;
    if (!readFile(rawPath, &raw))
        return failed("cannot read " + rawPath);
    const size_t frameBytes = static_cast<size_t>(w) * h * 4;
    if (raw.size() != frameBytes * count)
        return failed(rawPath + " holds " + std::to_string(raw.size()) + " bytes, expected " +
                      std::to_string(count) + " frames");
    for (int i = 0; i < count; ++i) {
        int64_t n = keo::tool::readPatternNumber(raw.data() + frameBytes * i, w, h);
        if (n != first + i)
            return failed("frame " + std::to_string(i) + " shows pattern frame " +
                          std::to_string(n));
    }
    return 0;
}

int fixtures(const std::string& dir) {
    keotest::Movie good = keotest::baselineMovie(true);
    keotest::Movie other = keotest::baselineMovie(false);
    keotest::Atom* stsd = other.find("trak/mdia/minf/stbl/stsd");
    if (!stsd)
        return failed("the baseline movie has no stsd");
    *stsd = keotest::stsdAtom({keotest::videoEntry("avc1")});
    const std::string text = "this is not a movie\n";
    // Frame 1 of the baseline movie starts at byte 476; a format version of
    // 2 (byte 4 of its header) makes the decoder refuse that frame only.
    keotest::Bytes badFrame = good.bytes();
    if (badFrame.size() < 481 || badFrame[476] != 28)
        return failed("the baseline movie's layout has changed; update the bad-frame fixture");
    badFrame[476 + 4] = 2;
    // Frame 1's header as 28 bytes of 0xFF, which read as flags would look
    // like DXT24 with alpha and LZF.
    keotest::Bytes ffHeader = good.bytes();
    std::fill(ffHeader.begin() + 476, ffHeader.begin() + 476 + 28, 0xFF);
    // The second audio chunk (sample frames 100 to 199) placed past the end
    // of the file: audio the file does not hold.
    keotest::Movie lostAudio = keotest::baselineMovie(true);
    keotest::Atom* audioOffsets = lostAudio.find("trak#1/mdia/minf/stbl/co64");
    if (!audioOffsets)
        return failed("the baseline movie has no audio chunk offsets");
    audioOffsets->data = keotest::co64Body({76, 0xC0000000u});
    if (!writeFile(dir + "/lost-audio.mov", lostAudio.bytes()) ||
        !writeFile(dir + "/baseline.mov", good.bytes()) ||
        !writeFile(dir + "/other-codec.mov", other.bytes()) ||
        !writeFile(dir + "/silent.mov", keotest::baselineMovie(false).bytes()) ||
        !writeFile(dir + "/bad-frame.mov", badFrame) ||
        !writeFile(dir + "/ff-header.mov", ffHeader) ||
        !writeFile(dir + "/not-a-movie.mov", Bytes(text.begin(), text.end())))
        return failed("cannot write into " + dir);
    // The baseline movie's big-endian samples, as keo audio --pcm should give them.
    SF_INFO info{};
    info.channels = 2;
    info.samplerate = 44100;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open((dir + "/baseline-expected.wav").c_str(), SFM_WRITE, &info);
    if (!f)
        return failed(sf_strerror(nullptr));
    std::vector<short> s;
    for (int i = 0; i < 200; ++i)
        for (int c = 0; c < 2; ++c)
            s.push_back(keotest::audioValue(i, c));
    sf_writef_short(f, s.data(), 200);
    sf_close(f);
    return 0;
}

int makeStill(const std::string& kind, const std::string& path, int w, int h) {
    std::vector<uint8_t> made;
    if (kind == "png8")
        made = keotest::writePng(path, w, h, PNG_COLOR_TYPE_RGB_ALPHA, 8);
    else if (kind == "png16")
        made = keotest::writePng(path, w, h, PNG_COLOR_TYPE_RGB_ALPHA, 16);
    else if (kind == "tiff8")
        made = keotest::writeTiff(path, w, h, 4, 8, false);
    else if (kind == "tiff16")
        made = keotest::writeTiff(path, w, h, 4, 16, false);
    else if (kind == "jpeg")
        made = keotest::writeJpeg(path, w, h, false);
    else
        return failed("unknown kind of still " + kind);
    return made.empty() ? failed("cannot write " + path) : 0;
}

// A socket left in the file system, as a server that has exited leaves it.
int makeSocket(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return failed(path + ": name too long for a socket");
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return failed(path + ": cannot make a socket");
    close(fd);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> a(argv + 1, argv + argc);
    if (a.size() == 2 && a[0] == "fixtures")
        return fixtures(a[1]);
    if ((a.size() == 6 || a.size() == 7) && a[0] == "make-wav")
        return makeWav(a[1], std::atoi(a[2].c_str()), std::atoi(a[3].c_str()),
                       std::atoi(a[4].c_str()), std::atoll(a[5].c_str()),
                       a.size() == 7 && a[6] == "float");
    if ((a.size() == 3 || a.size() == 4) && a[0] == "same-wav")
        return sameWav(a[1], a[2], a.size() == 4 ? std::atoll(a[3].c_str()) : -1);
    if ((a.size() == 5 || a.size() == 6) && a[0] == "payload")
        return payload(a[1], a[2], std::atoi(a[3].c_str()), std::atoi(a[4].c_str()),
                       a.size() == 6 && a[5] == "rgba");
    if (a.size() == 3 && a[0] == "png")
        return png(a[1], a[2]);
    if (a.size() == 6 && a[0] == "numbers")
        return numbers(a[1], std::atoi(a[2].c_str()), std::atoi(a[3].c_str()),
                       std::atoi(a[4].c_str()), std::atoi(a[5].c_str()));
    if (a.size() == 5 && a[0] == "make-still")
        return makeStill(a[1], a[2], std::atoi(a[3].c_str()), std::atoi(a[4].c_str()));
    if (a.size() == 2 && a[0] == "make-socket")
        return makeSocket(a[1]);
    return failed("unknown mode; see the head of keo_check.cpp");
}
