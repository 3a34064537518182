// Writes the seed corpus of the fuzz targets: keo_fuzz_corpus <folder>.
//
// <folder>/movie   movies for the reader and the importer: every frame
//                  layout, plain and LZF, odd sizes, with and without audio
//                  in both byte orders, moov before or after mdat, the
//                  hostile movies of tests/support/HostileCases.h up to
//                  64 KiB (named hostile-<case>), and a few cut prefixes
// <folder>/decode  two size bytes (width - 1, height - 1) and a sample: every
//                  layout and the hostile payloads of the decoder tests
// <folder>/settings  inputs of the write-then-read target: every layout,
//                  audio of every width, one and two channels
// <folder>/lzf     a mode byte, an output limit and a stream or data for the
//                  LZF decompressor target: compressed frames and textures,
//                  references at short and long distances, cut and damaged
//                  streams
//
// Everything is built here from code; nothing is copied from elsewhere.
#include <lzf.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "codec/BlockLayout.h"
#include "codec/FrameEncoder.h"
#include "codec/FramePayload.h"
#include "codec/lzf_streams.h"
#include "support/HostileCases.h"
#include "support/MovieBuilder.h"

using keotest::Bytes;

namespace {

int g_written = 0;

bool writeFile(const std::string& path, const Bytes& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    g_written += ok;
    return ok;
}

// A picture with edges and gradients so every block mode gets used.
std::vector<unsigned char> picture(int w, int h, int seed, bool alpha) {
    std::vector<unsigned char> p(static_cast<size_t>(w) * h * 4);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            unsigned char* px = &p[(static_cast<size_t>(y) * w + x) * 4];
            px[0] = alpha ? static_cast<unsigned char>((x * 37 + y * 11 + seed) & 0xFF) : 0xFF;
            px[1] = static_cast<unsigned char>(x * 255 / (w > 1 ? w - 1 : 1));
            px[2] = static_cast<unsigned char>(((x / 3 + y / 2 + seed) & 1) ? 230 : 20);
            px[3] = static_cast<unsigned char>((y * 29 + seed * 7) & 0xFF);
        }
    return p;
}

// One encoded frame of the layout chosen by the two exporter settings.
Bytes encodeFrame(int w, int h, int seed, int transparency, int optimizeFor) {
    uint64_t room = 0;
    if (!KEOMaxFramePayloadSize(w, h, &room))
        return {};
    Bytes out(static_cast<size_t>(room));
    auto pic = picture(w, h, seed, transparency != 0);
    int n = CompressDXTFrame(pic.data(), out.data(), w, h, w * 4, transparency, optimizeFor, 1);
    out.resize(static_cast<size_t>(n));
    return out;
}

// A movie of `frames` with optional 16-bit audio in two chunks, laid out as
// the importer tests' movies are: mdat first, frames and audio interleaved.
keotest::Movie movie(const std::vector<Bytes>& frames, int w, int h, bool audio,
                     const char* audioFormat, int channels) {
    keotest::Movie m;
    keotest::Atom mdat = keotest::atom("mdat");
    mdat.large = true;
    keotest::VideoTrack v;
    v.width = w;
    v.height = h;
    v.tables.stts = {{static_cast<uint32_t>(frames.size()), 24}};
    v.tables.stsc = {{1, 1, 1}};
    keotest::SoundTrack s;
    s.format = audioFormat;
    s.channels = static_cast<uint16_t>(channels);
    s.tables.stts = {{200, 1}};
    s.tables.stsc = {{1, 100, 1}};
    s.tables.sampleSize = 1;
    s.tables.sampleCount = 200;
    uint64_t at = 16;
    for (size_t i = 0; i < frames.size(); i++) {
        v.tables.offsets.push_back(at);
        v.tables.sizes.push_back(static_cast<uint32_t>(frames[i].size()));
        keotest::append(mdat.data, frames[i]);
        at += frames[i].size();
        if (audio && i < 2) {
            Bytes chunk;
            for (int k = 0; k < 100 * channels; k++)
                keotest::put16(chunk, static_cast<uint32_t>((k * 2654435761u + i) >> 16));
            s.tables.offsets.push_back(at);
            keotest::append(mdat.data, chunk);
            at += chunk.size();
        }
    }
    keotest::Atom moov = keotest::atom("moov");
    moov.add(keotest::atom("mvhd", keotest::mvhdBody()));
    moov.add(keotest::videoTrak(v, 1));
    if (audio)
        moov.add(keotest::soundTrak(s, 2));
    m.top.push_back(std::move(mdat));
    m.top.push_back(std::move(moov));
    return m;
}

Bytes decodeInput(int w, int h, const Bytes& sample) {
    Bytes b = {static_cast<uint8_t>(w - 1), static_cast<uint8_t>(h - 1)};
    keotest::append(b, sample);
    return b;
}

Bytes header(uint32_t payloadSize, bool lzf, bool dxt24 = false, bool alpha = false) {
    KEOFrameHeader h{};
    h.headerSize = kKEOFrameHeaderSize;
    h.formatVersion = 1;
    h.hasAlpha = alpha;
    h.isLZF = lzf;
    h.payloadSize = payloadSize;
    h.isOpaque = !alpha;
    h.isDXT24 = dxt24;
    Bytes b(kKEOFrameHeaderSize);
    h.write(b.data());
    return b;
}

void movieSeeds(const std::string& dir) {
    int n = 0;
    auto put = [&](const Bytes& b) { writeFile(dir + "/seed-" + std::to_string(n++), b); };
    // (transparency, optimizeFor): DXT24+LZF, DXT1+LZF, DXT24 plain, DXT5+LZF.
    const int settings[][2] = {{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 2}};
    const int sizes[][2] = {{8, 8}, {13, 7}, {32, 36}};
    for (const auto& st : settings)
        for (const auto& sz : sizes) {
            std::vector<Bytes> frames;
            for (int f = 0; f < 3; f++)
                frames.push_back(encodeFrame(sz[0], sz[1], f, st[0], st[1]));
            put(movie(frames, sz[0], sz[1], false, "twos", 2).bytes());
            keotest::Movie withAudio = movie(frames, sz[0], sz[1], true, "sowt", 2);
            put(withAudio.bytes());
            withAudio.moveMoovFirst();
            put(withAudio.bytes());
        }
    put(movie({encodeFrame(16, 16, 3, 0, 0)}, 16, 16, true, "twos", 1).bytes());
    put(keotest::baselineMovie(false).bytes());
    Bytes withAudio = keotest::baselineMovie(true).bytes();
    put(withAudio);
    for (size_t cut = 0; cut < withAudio.size(); cut += 97)
        put(Bytes(withAudio.begin(), withAudio.begin() + static_cast<long>(cut)));
    // The floods and track piles (up to 1 MiB) stay with the fault tests: a
    // few big seeds would cut the fuzzers' pace by a factor of ten.
    for (const auto& c : keofaults::hostileCases())
        if (c.bytes.size() <= 65536)
            writeFile(dir + "/hostile-" + c.id, c.bytes);
}

void decodeSeeds(const std::string& dir) {
    int n = 0;
    auto put = [&](const Bytes& b) { writeFile(dir + "/seed-" + std::to_string(n++), b); };
    const int settings[][2] = {{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 2}};
    for (const auto& st : settings)
        for (int w : {1, 4, 13, 64})
            put(decodeInput(w, w == 64 ? 40 : w,
                            encodeFrame(w, w == 64 ? 40 : w, w, st[0], st[1])));

    // Header values a file can set wrongly, on an 8x8 DXT1 frame: cut at and
    // one past the header, versions 2 and 0, header sizes 29, 0 and 20, and
    // the flags isLZF, isDXT24 and hasAlpha at 2.
    const Bytes frame = keotest::dxt1Frame(5);
    put(decodeInput(8, 8, Bytes(frame.begin(), frame.begin() + 28)));
    put(decodeInput(8, 8, Bytes(frame.begin(), frame.begin() + 29)));
    for (auto [offset, value] :
         {std::pair{4, 2}, {4, 0}, {0, 29}, {0, 0}, {0, 20}, {6, 2}, {26, 2}, {5, 2}}) {
        Bytes b = frame;
        b[offset] = static_cast<uint8_t>(value);
        put(decodeInput(8, 8, b));
    }
    // Plain payload sizes that disagree with the sample: far past it, and
    // shorter than the block data.
    for (uint32_t size : {0xFFFFFFFFu, 10u}) {
        Bytes b = header(size, false);
        b.insert(b.end(), frame.begin() + 28, frame.end());
        put(decodeInput(8, 8, b));
    }
    // An LZF stream of 33 bytes of which the sample holds only 20.
    {
        Bytes b = header(33, true);
        b.push_back(31);
        for (int i = 0; i < 19; i++)
            b.push_back(static_cast<uint8_t>(i));
        put(decodeInput(8, 8, b));
    }
    // LZF streams that write past their output, reference bytes before
    // their start, or end inside a literal run or a reference.
    std::vector<Bytes> streams;
    Bytes overrun = {0x1F};
    overrun.insert(overrun.end(), 32, 0x42);
    overrun.insert(overrun.end(), {0xE0, 0x00, 0x00});
    streams.push_back(overrun);
    streams.push_back({0x20, 0x00, 0x00, 0x00});
    streams.push_back({0x00, 'A', 0x3F, 0xFF, 0x00});
    streams.push_back({0x1F, 1, 2, 3});
    Bytes cut = {0x1F};
    cut.insert(cut.end(), 32, 0x42);
    cut.push_back(0xE0);
    streams.push_back(cut);
    for (const Bytes& s : streams) {
        Bytes b = header(static_cast<uint32_t>(s.size()), true);
        keotest::append(b, s);
        put(decodeInput(8, 8, b));
    }
}

// Settings byte, sizes, rate, frames, audio per frame, then picture bytes
// (see fuzz_write_read.cpp).
void settingsSeeds(const std::string& dir) {
    int n = 0;
    for (int flags = 0; flags < 128; flags += 3) {
        Bytes b = {static_cast<uint8_t>(flags),          static_cast<uint8_t>(7 + flags % 40),
                   static_cast<uint8_t>(3 + flags % 29), static_cast<uint8_t>(flags),
                   static_cast<uint8_t>(flags % 4),      static_cast<uint8_t>(flags * 5)};
        auto pic = picture(8, 8, flags, flags & 1);
        b.insert(b.end(), pic.begin(), pic.end());
        writeFile(dir + "/seed-" + std::to_string(n++), b);
    }
}

// Mode byte, output limit (16-bit little-endian), then the stream (even
// modes and the frame modes) or data to compress; see fuzz_lzf_decode.cpp.
void lzfSeeds(const std::string& dir) {
    int n = 0;
    auto put = [&](unsigned mode, size_t limit, const Bytes& body) {
        Bytes b = {static_cast<uint8_t>(mode), static_cast<uint8_t>(limit & 0xFF),
                   static_cast<uint8_t>((limit >> 8) & 0xFF)};
        keotest::append(b, body);
        writeFile(dir + "/seed-" + std::to_string(n++), b);
    };
    auto compress = [](const Bytes& data) {
        Bytes stream(data.size() + data.size() / 16 + 64);
        stream.resize(lzf_compress(data.data(), static_cast<unsigned>(data.size()), stream.data(),
                                   static_cast<unsigned>(stream.size())));
        return stream;
    };
    // Block data of frames of every layout, and textures.
    const int settings[][2] = {{0, 0}, {0, 1}, {1, 1}};
    for (const auto& st : settings) {
        const Bytes frame = encodeFrame(64, 48, 2, st[0], st[1]);
        KEOFrameHeader h;
        h.read(frame.data());
        if (h.isLZF)
            put(12, 64 * 48 * 4, Bytes(frame.begin() + kKEOFrameHeaderSize, frame.end()));
    }
    for (size_t size : {40, 400, 4000, 20000}) {
        const Bytes texture = lzf_test::textureBytes(size, static_cast<uint32_t>(size));
        const Bytes stream = compress(texture);
        put(0, size, stream);
        put(6, size - 1, stream);
        put(1, 0, texture);
        // Cut in the middle and near the end.
        put(2, size, Bytes(stream.begin(), stream.begin() + static_cast<long>(stream.size() / 2)));
        put(4, size, Bytes(stream.begin(), stream.end() - 1));
    }
    // References at short and long distances after a history, also before
    // the start.
    const Bytes history = lzf_test::textureBytes(8192, 5);
    for (size_t distance : {1, 3, 8, 15, 16, 17, 300, 8192}) {
        for (size_t length : {3, 9, 264}) {
            Bytes stream;
            lzf_test::literals(stream, history);
            lzf_test::reference(stream, distance, length);
            lzf_test::literals(stream, Bytes(history.begin(), history.begin() + 320));
            put(8, 8192 + length + 320, stream);
        }
        Bytes early;
        lzf_test::literals(
            early, Bytes(history.begin(), history.begin() + static_cast<long>(distance - 1)));
        lzf_test::reference(early, distance, 5);
        put(10, distance + 4, early);
    }
    // Whole 1920x1080 frames for the pipeline (modes 3 modulo 4, the layout
    // in the bits above): 4 KiB of texture repeated with a byte changed now
    // and then, which LZF packs into long references.
    for (unsigned layout = 0; layout < kKEOLayoutCount; ++layout) {
        Bytes blocks(static_cast<size_t>(480) * 270 *
                     KEOLayoutBlockSize(static_cast<KEOBlockLayout>(layout)));
        for (size_t i = 0; i < blocks.size(); ++i)
            blocks[i] = i % 997 == 0 ? static_cast<uint8_t>(i >> 10) : history[i % 4096];
        const Bytes stream = compress(blocks);
        put(3 | layout << 2, 0, stream);
        put(3 | layout << 2, 0, Bytes(stream.begin(), stream.end() - 1));
    }
    // Frames of the frame encoder, whose streams are one per band, so that
    // the pipeline unpacks them from both ends: DXT1, DXT5, DXT24.
    const int encoderSettings[][3] = {
        {kKEOLayoutDXT1, 0, 1}, {kKEOLayoutDXT5, 1, 1}, {kKEOLayoutDXT24, 0, 0}};
    for (const auto& e : encoderSettings) {
        const Bytes frame = encodeFrame(1920, 1080, 9, e[1], e[2]);
        if (frame.size() > kKEOFrameHeaderSize && frame[6] == 1)
            put(3 | e[0] << 2, 0, Bytes(frame.begin() + kKEOFrameHeaderSize, frame.end()));
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: keo_fuzz_corpus <folder>\n");
        return 2;
    }
    const std::string root = argv[1];
    for (const char* sub : {"", "/movie", "/decode", "/settings", "/lzf"})
        mkdir((root + sub).c_str(), 0755);
    movieSeeds(root + "/movie");
    decodeSeeds(root + "/decode");
    settingsSeeds(root + "/settings");
    lzfSeeds(root + "/lzf");
    std::printf("keo_fuzz_corpus: %d seeds in %s\n", g_written, root.c_str());
    return g_written > 0 ? 0 : 1;
}
