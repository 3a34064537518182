// The module driver and the movie helpers of the importer tests.
#include "ImporterDriver.h"

#include <cstring>

#include "codec/FramePayload.h"

namespace keoimp {

Bytes KeoFrame(int width, int height, bool alpha, bool dxt24, uint32_t seed) {
    uint64_t blockBytes = 0;
    KEOBlockDataSize(width, height, dxt24, alpha, &blockBytes);
    KEOFrameHeader h{};
    h.headerSize = kKEOFrameHeaderSize;
    h.formatVersion = 1;
    h.hasAlpha = alpha ? 1 : 0;
    h.isLZF = 0;
    h.payloadSize = static_cast<uint32_t>(blockBytes);
    h.isOpaque = alpha ? 0 : 1;
    h.isDXT24 = dxt24 ? 1 : 0;
    Bytes b(kKEOFrameHeaderSize);
    h.write(b.data());
    uint32_t x = seed * 2654435761u + 12345u;
    for (uint64_t i = 0; i < blockBytes; i++) {
        x = x * 1664525u + 1013904223u;
        b.push_back(static_cast<uint8_t>(x >> 24));
    }
    return b;
}

namespace {

int64_t AudioValue(int frame, int channel, int bits) {
    // Distinct per frame and channel, and reaching into the top byte so a
    // wrong byte order shows.
    int64_t range = int64_t{1} << (bits - 1);
    int64_t v = (static_cast<int64_t>(frame) * 7919 + channel * 104729) * (range / 251 + 1);
    return v % range - (channel % 2 ? range / 2 : 0);
}

} // namespace

Bytes AudioBytes(int firstFrame, int frames, int channels, int bits, bool littleEndian) {
    Bytes b;
    int width = bits / 8;
    for (int i = 0; i < frames; i++) {
        for (int c = 0; c < channels; c++) {
            uint64_t v = static_cast<uint64_t>(AudioValue(firstFrame + i, c, bits));
            for (int k = 0; k < width; k++) {
                int shift = littleEndian ? 8 * k : 8 * (width - 1 - k);
                b.push_back(static_cast<uint8_t>(v >> shift));
            }
        }
    }
    return b;
}

keotest::Movie BuildMovie(const MovieRecipe& recipe) {
    keotest::Movie m;
    keotest::Atom mdat = keotest::atom("mdat");
    mdat.large = true;
    keotest::VideoTrack v;
    v.width = recipe.width;
    v.height = recipe.height;
    v.timeScale = recipe.timeScale;
    v.tables.stts = {{static_cast<uint32_t>(recipe.frames.size()), recipe.duration}};
    v.tables.stsc = {{1, 1, 1}};
    keotest::SoundTrack s;
    s.format = recipe.audioFormat;
    s.channels = static_cast<uint16_t>(recipe.channels);
    s.bits = static_cast<uint16_t>(recipe.bits);
    int half = recipe.audioFrames / 2;
    s.tables.stts = {{static_cast<uint32_t>(recipe.audioFrames), 1}};
    s.tables.stsc = {{1, static_cast<uint32_t>(half), 1},
                     {2, static_cast<uint32_t>(recipe.audioFrames - half), 1}};
    s.tables.sampleSize = 1;
    s.tables.sampleCount = static_cast<uint32_t>(recipe.audioFrames);
    bool little = recipe.audioFormat == "sowt";

    uint64_t at = 16;
    for (size_t i = 0; i < recipe.frames.size(); i++) {
        v.tables.offsets.push_back(at);
        v.tables.sizes.push_back(static_cast<uint32_t>(recipe.frames[i].size()));
        at += recipe.frames[i].size();
        keotest::append(mdat.data, recipe.frames[i]);
        if (recipe.audio && i < 2) {
            int first = i == 0 ? 0 : half;
            int count = i == 0 ? half : recipe.audioFrames - half;
            Bytes chunk = AudioBytes(first, count, recipe.channels, recipe.bits, little);
            s.tables.offsets.push_back(at);
            at += chunk.size();
            keotest::append(mdat.data, chunk);
        }
    }
    keotest::Atom moov = keotest::atom("moov");
    moov.add(keotest::atom("mvhd", keotest::mvhdBody()));
    moov.add(keotest::videoTrak(v, 1));
    if (recipe.audio)
        moov.add(keotest::soundTrak(s, 2));
    m.top.push_back(std::move(mdat));
    m.top.push_back(std::move(moov));
    return m;
}

int32_t FrameAt(keo::host::ImporterSession* s, PrTime time, Bytes* argb) {
    argb->assign(static_cast<size_t>(s->info.vidInfo.imageWidth) * s->info.vidInfo.imageHeight * 4,
                 0);
    return keo::host::readFrame(s, time, argb->data());
}

int32_t AudioAt(keo::host::ImporterSession* s, int64_t position, uint32_t size,
                std::vector<std::vector<float>>* planar) {
    planar->assign(s->info.audInfo.numChannels, std::vector<float>(size, -7.0f));
    std::vector<float*> buffers;
    for (auto& c : *planar)
        buffers.push_back(c.data());
    return keo::host::readAudio(s, position, size, buffers.data());
}

void ImporterTest::SetUp() {
    std::string why;
    ImportEntryFunc loaded = keo::host::keptEntry(KEO_PLUGIN_PATH, &why);
    ASSERT_NE(loaded, nullptr) << "cannot load " << KEO_PLUGIN_PATH << ": " << why;
    host = keo::host::createHost();
    ASSERT_NE(host, nullptr);
    suites = keo::host::hostSuites(host);
    // imInit is left to the tests: some check what comes before it.
    keo::host::bindImporter(&session, loaded, host);
}

void ImporterTest::TearDown() {
    if (!host)
        return;
    closeFile();
    for (PPixHand f : framesOut)
        suites.ppix->Dispose(f);
    framesOut.clear();
    EXPECT_EQ(keo::host::leakReport(host), "");
    keo::host::destroyHost(host);
    host = nullptr;
}

int32_t ImporterTest::call(int32_t selector, void* param1, void* param2) {
    return keo::host::callImporter(&session, selector, param1, param2);
}

int32_t ImporterTest::open(const std::string& path) {
    int32_t result = keo::host::openFile(&session, path);
    closed = privateData == nullptr;
    return result;
}

int32_t ImporterTest::open(const Bytes& movie) {
    files.push_back(std::make_unique<keotest::TempFile>(movie));
    return open(files.back()->path);
}

int32_t ImporterTest::info() {
    int32_t result = keo::host::describeFile(&session);
    closed = privateData == nullptr;
    return result;
}

int32_t ImporterTest::sourceVideo(PrTime time, imFrameFormat* format, PPixHand* frame) {
    PPixHand out = nullptr;
    int32_t result = keo::host::requestFrame(&session, time, format, &out);
    if (out)
        framesOut.push_back(out);
    if (frame)
        *frame = out;
    return result;
}

int32_t ImporterTest::sourceVideo(PrTime time, PPixHand* frame) {
    imFrameFormat format{0, 0, PrPixelFormat_ARGB_4444_8u};
    return sourceVideo(time, &format, frame);
}

int32_t ImporterTest::audio(int64_t position, uint32_t size,
                            std::vector<std::vector<float>>* channels, int channelCount) {
    channels->assign(channelCount, std::vector<float>(size, -7.0f));
    std::vector<float*> buffers;
    for (auto& c : *channels)
        buffers.push_back(c.data());
    return keo::host::readAudio(&session, position, size, buffers.data());
}

void ImporterTest::quiet() {
    EXPECT_EQ(keo::host::quietFile(&session), 0);
    EXPECT_EQ(fileRef, imInvalidFileRef);
}

void ImporterTest::closeFile() {
    if (closed || !privateData)
        return;
    EXPECT_EQ(keo::host::closeFile(&session), 0);
    closed = true;
}

PrTime ImporterTest::ticksOf(PrVideoFrameRate code) {
    PrTime t = 0;
    suites.time->GetTicksPerVideoFrame(code, &t);
    return t;
}

} // namespace keoimp
