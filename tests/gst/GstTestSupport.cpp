// Pipelines, payloads and movies for the keodec tests.
#include "GstTestSupport.h"

#include <gst/app/gstappsink.h>
#include <gtest/gtest.h>
#include <lzf.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "codec/FrameEncoder.h"
#include "codec/FramePayload.h"
#include "codec/encode_picture.h"
#include "container/MovFile.h"
#include "gst/KEODec.h"
#include "gst/KEOEnc.h"
#include "gst/KEOMux.h"

namespace keogst {

void initGStreamer() {
    static std::once_flag once;
    std::call_once(once, [] {
        // A registry of the build's own: the user's is neither read nor
        // written, whatever plug-ins it holds.
        setenv("GST_REGISTRY", KEO_GST_TEST_REGISTRY, 0);
        gst_init(nullptr, nullptr);
        GST_ELEMENT_REGISTER(keodec, nullptr);
        GST_ELEMENT_REGISTER(keoenc, nullptr);
        GST_ELEMENT_REGISTER(keomux, nullptr);
    });
}

Bytes toARGB(const unsigned char* pixels, int stride, int width, int height,
             GstVideoFormat format) {
    // Where A, R, G and B sit in a pixel of each format; -1: no alpha byte.
    int a = 0, r = 1, g = 2, b = 3;
    switch (format) {
    case GST_VIDEO_FORMAT_BGRA:
    case GST_VIDEO_FORMAT_BGRx:
        b = 0, g = 1, r = 2, a = format == GST_VIDEO_FORMAT_BGRA ? 3 : -1;
        break;
    case GST_VIDEO_FORMAT_RGBA:
    case GST_VIDEO_FORMAT_RGBx:
        r = 0, g = 1, b = 2, a = format == GST_VIDEO_FORMAT_RGBA ? 3 : -1;
        break;
    default:
        break;
    }
    Bytes argb(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const unsigned char* p = pixels + static_cast<size_t>(y) * stride + x * 4;
            unsigned char* q = argb.data() + (static_cast<size_t>(y) * width + x) * 4;
            q[0] = a < 0 ? 255 : p[a];
            q[1] = p[r], q[2] = p[g], q[3] = p[b];
        }
    return argb;
}

Bytes withoutAlphaIf(Bytes argb, GstVideoFormat format) {
    if (format == GST_VIDEO_FORMAT_BGRx || format == GST_VIDEO_FORMAT_RGBx)
        for (size_t i = 0; i < argb.size(); i += 4)
            argb[i] = 255;
    return argb;
}

namespace {

struct Collected {
    std::mutex lock;
    PipelineRun* run;
};

GstFlowReturn onSample(GstAppSink* sink, gpointer data) {
    Collected* collected = static_cast<Collected*>(data);
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (sample == nullptr)
        return GST_FLOW_ERROR;
    GstVideoInfo info;
    GstVideoFrame frame;
    if (gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
        gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ)) {
        std::lock_guard<std::mutex> hold(collected->lock);
        collected->run->format = GST_VIDEO_INFO_FORMAT(&info);
        collected->run->frames.push_back(
            toARGB(static_cast<const unsigned char*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                   GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), GST_VIDEO_INFO_WIDTH(&info),
                   GST_VIDEO_INFO_HEIGHT(&info), GST_VIDEO_INFO_FORMAT(&info)));
        gst_video_frame_unmap(&frame);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

} // namespace

PipelineRun runPipeline(const std::string& description, int timeoutSeconds) {
    initGStreamer();
    PipelineRun run;
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (pipeline == nullptr || error != nullptr) {
        run.error = error ? error->message : "no pipeline";
        g_clear_error(&error);
        if (pipeline)
            gst_object_unref(pipeline);
        return run;
    }
    Collected collected;
    collected.run = &run;
    if (GstElement* out = gst_bin_get_by_name(GST_BIN(pipeline), "out")) {
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = onSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(out), &callbacks, &collected, nullptr);
        gst_object_unref(out);
    }
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    const GstClockTime deadline =
        gst_util_get_timestamp() + static_cast<GstClockTime>(timeoutSeconds) * GST_SECOND;
    while (!run.ended) {
        const GstClockTime now = gst_util_get_timestamp();
        if (now >= deadline)
            break;
        GstMessage* message = gst_bus_timed_pop_filtered(
            bus, deadline - now,
            static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR | GST_MESSAGE_QOS));
        if (message == nullptr)
            break;
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_QOS) {
            guint64 processed = 0, dropped = 0;
            gst_message_parse_qos_stats(message, nullptr, &processed, &dropped);
            run.dropped = static_cast<int>(dropped);
        } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
            GError* e = nullptr;
            gst_message_parse_error(message, &e, nullptr);
            run.error = e ? e->message : "error";
            g_clear_error(&e);
            run.ended = true;
        } else {
            run.eos = run.ended = true;
        }
        gst_message_unref(message);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(bus);
    gst_object_unref(pipeline);
    return run;
}

const char* layoutName(Layout layout) {
    switch (layout) {
    case Layout::DXT1:
        return "DXT1";
    case Layout::DXT1LZF:
        return "DXT1_LZF";
    case Layout::DXT5:
        return "DXT5";
    case Layout::DXT5LZF:
        return "DXT5_LZF";
    case Layout::DXT24:
        return "DXT24";
    case Layout::DXT24LZF:
        return "DXT24_LZF";
    case Layout::DXT24Alpha:
        return "DXT24_alpha";
    }
    return "?";
}

bool layoutHasAlpha(Layout layout) {
    return layout == Layout::DXT5 || layout == Layout::DXT5LZF || layout == Layout::DXT24Alpha;
}

namespace {

Bytes encoderPayload(const Bytes& picture, int width, int height, int transparency,
                     int optimizeFor) {
    uint64_t capacity = 0;
    if (!KEOMaxFramePayloadSize(width, height, &capacity))
        return {};
    Bytes sample(capacity);
    const int length = CompressDXTFrame(picture.data(), sample.data(), width, height, width * 4,
                                        transparency, optimizeFor, 1);
    sample.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return sample;
}

// The block data of a payload, its LZF stream undone.
Bytes blockData(const Bytes& sample, int width, int height) {
    KEOFrameHeader header;
    header.read(sample.data());
    uint64_t size = 0;
    KEOBlockDataSize(width, height, header.isDXT24 != 0, header.hasAlpha != 0, &size);
    Bytes blocks(size);
    if (!header.isLZF)
        std::memcpy(blocks.data(), sample.data() + kKEOFrameHeaderSize, size);
    else if (lzf_decompress(sample.data() + kKEOFrameHeaderSize, header.payloadSize, blocks.data(),
                            static_cast<unsigned>(size)) != size)
        return {};
    return blocks;
}

Bytes plainPayload(const Bytes& blocks, bool isDXT24, bool hasAlpha) {
    KEOFrameHeader header{};
    header.headerSize = kKEOFrameHeaderSize;
    header.formatVersion = 1;
    header.hasAlpha = hasAlpha;
    header.isOpaque = !hasAlpha;
    header.isDXT24 = isDXT24;
    header.payloadSize = static_cast<uint32_t>(blocks.size());
    Bytes sample(kKEOFrameHeaderSize);
    header.write(sample.data());
    sample.insert(sample.end(), blocks.begin(), blocks.end());
    return sample;
}

} // namespace

Bytes encodeFrame(Layout layout, int width, int height, uint32_t seed) {
    const Bytes picture = encode_test::naturalPicture(width, height, seed, layoutHasAlpha(layout));
    switch (layout) {
    case Layout::DXT1LZF:
        return encoderPayload(picture, width, height, 0, 1);
    case Layout::DXT5LZF:
        return encoderPayload(picture, width, height, 1, 1);
    case Layout::DXT24LZF:
        return encoderPayload(picture, width, height, 0, 0);
    case Layout::DXT24:
        return encoderPayload(picture, width, height, 0, 2);
    case Layout::DXT1:
        return plainPayload(blockData(encoderPayload(picture, width, height, 0, 1), width, height),
                            false, false);
    case Layout::DXT5:
        return plainPayload(blockData(encoderPayload(picture, width, height, 1, 1), width, height),
                            false, true);
    case Layout::DXT24Alpha: {
        const Bytes dxt5 = blockData(encoderPayload(picture, width, height, 1, 1), width, height);
        const Bytes dxt24 = blockData(encoderPayload(picture, width, height, 0, 2), width, height);
        Bytes blocks;
        for (size_t i = 0; i * 16 < dxt5.size() && i * 10 < dxt24.size(); ++i) {
            blocks.insert(blocks.end(), dxt5.begin() + i * 16, dxt5.begin() + i * 16 + 8);
            blocks.insert(blocks.end(), dxt24.begin() + i * 10, dxt24.begin() + i * 10 + 10);
        }
        return plainPayload(blocks, true, true);
    }
    }
    return {};
}

bool writeMovie(const std::string& path, int width, int height, const std::vector<Bytes>& samples,
                keo::FrameRate rate) {
    MovFile writer;
    char compressor[] = "ZUVM";
    if (!writer.openWrite(path.c_str(), compressor, width, height, rate, 1, 0, 48000, 2, 16))
        return false;
    bool written = true;
    for (const Bytes& sample : samples) {
        Bytes copy = sample;
        written = written && writer.writeFrame(0, static_cast<int>(copy.size()), copy.data()) == 0;
    }
    return writer.close() == 0 && written;
}

TempPath::TempPath(const std::string& name)
    : path(::testing::TempDir() + "keogst_" + std::to_string(getpid()) + "_" + name) {}

TempPath::~TempPath() {
    std::remove(path.c_str());
}

} // namespace keogst
