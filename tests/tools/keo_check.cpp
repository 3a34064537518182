// keo_check: the test side of the keo command-line tests.
//
// It makes the inputs the tests feed to keo (movies built byte by byte, WAV
// files of known samples) and checks keo's outputs against independent
// readers: the container and codec libraries for raw frames, stb_image for
// PNG and JPEG files, libpng for a stream of PNGs, libtiff's scanline
// reader for TIFF files, libsndfile for WAV files. Each mode prints one line
// on failure and exits 1.
//
//   keo_check fixtures DIR
//   keo_check make-wav PATH CHANNELS RATE BITS FRAMES [float]
//   keo_check same-wav A.wav B.wav [FRAMES]
//   keo_check payload MOVIE RAW FIRST COUNT [argb|rgba]
//   keo_check png PNG RAW_RGBA
//   keo_check stills png|tiff|jpeg FOLDER RAW_RGBA WIDTH HEIGHT COUNT
//   keo_check png-stream FILE RAW_RGBA WIDTH HEIGHT COUNT
//   keo_check same-picture A.png B.png
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
#include <csetjmp>
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
#include <tiffio.h>
#include <unistd.h>
#include <vector>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
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

// A TIFF's 8-bit RGBA rows as stored, through libtiff's scanline reader
// (its RGBA image reader would premultiply the alpha).
bool readTiffRows(const std::string& path, int* w, int* h, Bytes* rgba) {
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    if (!tiff)
        return false;
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, samples = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    bool ok = bits == 8 && samples == 4;
    rgba->assign(static_cast<size_t>(width) * height * 4, 0);
    for (uint32_t y = 0; ok && y < height; ++y)
        ok = TIFFReadScanline(tiff, rgba->data() + static_cast<size_t>(y) * width * 4, y) == 1;
    TIFFClose(tiff);
    *w = static_cast<int>(width);
    *h = static_cast<int>(height);
    return ok;
}

// Every frame_NNNNNN file of a folder of stills against the raw frames:
// exactly for PNG and TIFF, within 30 dB PSNR per colour channel for JPEG
// (which has no alpha, so that is not compared).
int stills(const std::string& kind, const std::string& folder, const std::string& rawPath, int w,
           int h, int count) {
    Bytes raw;
    if (!readFile(rawPath, &raw) || raw.size() != static_cast<size_t>(w) * h * 4 * count)
        return failed("cannot read " + std::to_string(count) + " frames from " + rawPath);
    const size_t frameBytes = static_cast<size_t>(w) * h * 4;
    for (int i = 0; i < count; ++i) {
        char name[40];
        std::snprintf(name, sizeof name, "/frame_%06d.%s", i, kind.c_str());
        const std::string path = folder + name;
        const uint8_t* want = raw.data() + frameBytes * i;
        int gw = 0, gh = 0, n = 0;
        Bytes got;
        if (kind == "tiff") {
            if (!readTiffRows(path, &gw, &gh, &got))
                return failed(path + ": not an 8-bit RGBA TIFF");
        } else {
            unsigned char* pixels = stbi_load(path.c_str(), &gw, &gh, &n, 4);
            if (!pixels)
                return failed(path + ": " + stbi_failure_reason());
            got.assign(pixels, pixels + static_cast<size_t>(gw) * gh * 4);
            stbi_image_free(pixels);
        }
        if (gw != w || gh != h)
            return failed(path + " is " + std::to_string(gw) + "x" + std::to_string(gh));
        if (kind != "jpeg") {
            if (std::memcmp(got.data(), want, frameBytes) != 0)
                return failed(path + " does not hold frame " + std::to_string(i) + "'s pixels");
            continue;
        }
        for (int c = 0; c < 3; ++c) {
            double squared = 1e-9;
            for (size_t p = 0; p < frameBytes; p += 4) {
                const double d = double(got[p + c]) - want[p + c];
                squared += d * d;
            }
            const double psnr = 10 * std::log10(255.0 * 255.0 * (frameBytes / 4) / squared);
            if (psnr < 30)
                return failed(path + ": channel " + std::to_string(c) + " only " +
                              std::to_string(psnr) + " dB from frame " + std::to_string(i));
        }
    }
    return 0;
}

extern "C" void pngCheckError(png_structp png, png_const_charp) {
    longjmp(png_jmpbuf(png), 1);
}

// Reads one 8-bit RGBA PNG from where the stream stands; libpng reads its
// chunks exactly, so the next PNG starts where this one ends.
bool readNextPng(std::FILE* file, int w, int h, Bytes* rgba) {
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngCheckError, nullptr);
    png_infop info = png_create_info_struct(png);
    rgba->assign(static_cast<size_t>(w) * h * 4, 0);
    std::vector<png_bytep> rows(h);
    for (int y = 0; y < h; ++y)
        rows[y] = rgba->data() + static_cast<size_t>(y) * w * 4;
    volatile bool ok = false;
    if (!setjmp(png_jmpbuf(png))) {
        png_init_io(png, file);
        png_read_info(png, info);
        if (png_get_image_width(png, info) == static_cast<png_uint_32>(w) &&
            png_get_image_height(png, info) == static_cast<png_uint_32>(h) &&
            png_get_color_type(png, info) == PNG_COLOR_TYPE_RGB_ALPHA &&
            png_get_bit_depth(png, info) == 8) {
            png_read_image(png, rows.data());
            png_read_end(png, nullptr);
            ok = true;
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return ok;
}

// COUNT PNGs one after another in one file, in the order of the raw frames.
int pngStream(const std::string& path, const std::string& rawPath, int w, int h, int count) {
    Bytes raw;
    if (!readFile(rawPath, &raw) || raw.size() != static_cast<size_t>(w) * h * 4 * count)
        return failed("cannot read " + std::to_string(count) + " frames from " + rawPath);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return failed("cannot read " + path);
    const size_t frameBytes = static_cast<size_t>(w) * h * 4;
    int result = 0;
    Bytes got;
    for (int i = 0; i < count && result == 0; ++i)
        if (!readNextPng(file, w, h, &got))
            result = failed(path + ": PNG " + std::to_string(i) + " cannot be read");
        else if (std::memcmp(got.data(), raw.data() + frameBytes * i, frameBytes) != 0)
            result =
                failed(path + ": PNG " + std::to_string(i) + " is not frame " + std::to_string(i));
    if (result == 0 && std::fgetc(file) != EOF)
        result = failed(path + " goes on after " + std::to_string(count) + " PNGs");
    std::fclose(file);
    return result;
}

int samePicture(const std::string& a, const std::string& b) {
    int wa = 0, ha = 0, wb = 0, hb = 0, n = 0;
    unsigned char* pa = stbi_load(a.c_str(), &wa, &ha, &n, 4);
    unsigned char* pb = stbi_load(b.c_str(), &wb, &hb, &n, 4);
    const bool same = pa && pb && wa == wb && ha == hb &&
                      std::memcmp(pa, pb, static_cast<size_t>(wa) * ha * 4) == 0;
    stbi_image_free(pa);
    stbi_image_free(pb);
    return same ? 0 : failed(a + " and " + b + " do not hold the same pixels");
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
    // The video's edit list has a player wait a second (600 units of the
    // movie's 600 a second: an empty edit) before its two frames.
    keotest::Movie lateStart = keotest::baselineMovie(true);
    keotest::Atom* videoEdits = lateStart.find("trak/edts/elst");
    if (!videoEdits)
        return failed("the baseline movie has no edit list");
    videoEdits->data = keotest::elstBody({{600, 0xFFFFFFFFu, 0x10000}, {48, 0, 0x10000}});
    if (!writeFile(dir + "/lost-audio.mov", lostAudio.bytes()) ||
        !writeFile(dir + "/baseline.mov", good.bytes()) ||
        !writeFile(dir + "/late-start.mov", lateStart.bytes()) ||
        !writeFile(dir + "/other-codec.mov", other.bytes()) ||
        !writeFile(dir + "/silent.mov", keotest::baselineMovie(false).bytes()) ||
        !writeFile(dir + "/bad-frame.mov", badFrame) ||
        !writeFile(dir + "/ff-header.mov", ffHeader) ||
        !writeFile(dir + "/not-a-movie.mov", Bytes(text.begin(), text.end())))
        return failed("cannot write into " + dir);
    // Rates of other writers' tables, and one that is not whole: 100 frames
    // of 30 fps timed in milliseconds (33, 34, 33, ...), 30 frames of 29.97
    // whose first frame lasts three, and 25 frames of 12.5 fps.
    if (!writeFile(
            dir + "/ms30.mov",
            keotest::timedMovie(1000, keotest::roundedDurations(30, 1, 1000, 100)).bytes()) ||
        !writeFile(dir + "/long-first.mov",
                   keotest::timedMovie(30000, {{1, 3003}, {29, 1001}}).bytes()) ||
        !writeFile(dir + "/fps12.5.mov", keotest::timedMovie(25, {{25, 2}}).bytes()))
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
    if (a.size() == 7 && a[0] == "stills")
        return stills(a[1], a[2], a[3], std::atoi(a[4].c_str()), std::atoi(a[5].c_str()),
                      std::atoi(a[6].c_str()));
    if (a.size() == 6 && a[0] == "png-stream")
        return pngStream(a[1], a[2], std::atoi(a[3].c_str()), std::atoi(a[4].c_str()),
                         std::atoi(a[5].c_str()));
    if (a.size() == 3 && a[0] == "same-picture")
        return samePicture(a[1], a[2]);
    if (a.size() == 6 && a[0] == "numbers")
        return numbers(a[1], std::atoi(a[2].c_str()), std::atoi(a[3].c_str()),
                       std::atoi(a[4].c_str()), std::atoi(a[5].c_str()));
    if (a.size() == 5 && a[0] == "make-still")
        return makeStill(a[1], a[2], std::atoi(a[3].c_str()), std::atoi(a[4].c_str()));
    if (a.size() == 2 && a[0] == "make-socket")
        return makeSocket(a[1]);
    return failed("unknown mode; see the head of keo_check.cpp");
}
