// keodec alone, driven through GstHarness: output formats against the codec's
// own decode, the choice of a format with alpha, damaged payloads and
// max-errors, oversized caps, and reuse of the output buffers.
#include <gst/check/gstharness.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "GstTestSupport.h"
#include "codec/FramePayload.h"

namespace keogst {
namespace {

// A harness around a fresh keodec, fed "video/x-keo" frames of width x
// height at `rate` (none when empty), whose downstream takes `downstream`
// caps, decoding ahead when asked. Its messages go to a bus of its own, so
// that the tests can read the errors it posts.
struct Decoder {
    Decoder(int w, int h, const std::string& downstream, bool decodeAhead = false,
            const std::string& rate = "25/1")
        : width(w), height(h) {
        initGStreamer();
        harness = gst_harness_new("keodec");
        bus = gst_bus_new();
        gst_element_set_bus(harness->element, bus);
        // Read with the caps, which the harness sends at once.
        g_object_set(harness->element, "decode-ahead", decodeAhead, nullptr);
        gst_harness_set_src_caps_str(harness, ("video/x-keo, width=" + std::to_string(w) +
                                               ", height=" + std::to_string(h) +
                                               (rate.empty() ? "" : ", framerate=" + rate))
                                                  .c_str());
        gst_harness_set_sink_caps_str(harness, downstream.c_str());
    }
    ~Decoder() {
        for (GstMessage* m : pending)
            gst_message_unref(m);
        gst_harness_teardown(harness);
        gst_object_unref(bus);
    }

    GstFlowReturn push(const Bytes& payload) {
        return gst_harness_push(
            harness, payload.empty() ? gst_buffer_new()
                                     : gst_buffer_new_memdup(payload.data(), payload.size()));
    }

    // The next output frame as ARGB32, and its format.
    Bytes pull(GstVideoFormat* format = nullptr) {
        GstBuffer* buffer = gst_harness_try_pull(harness);
        if (buffer == nullptr)
            return {};
        GstCaps* caps = gst_pad_get_current_caps(harness->sinkpad);
        GstVideoInfo info;
        GstVideoFrame frame;
        Bytes argb;
        if (caps && gst_video_info_from_caps(&info, caps) &&
            gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
            argb = toARGB(static_cast<const unsigned char*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                          GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), width, height,
                          GST_VIDEO_INFO_FORMAT(&info));
            if (format)
                *format = GST_VIDEO_INFO_FORMAT(&info);
            gst_video_frame_unmap(&frame);
        }
        if (caps)
            gst_caps_unref(caps);
        gst_buffer_unref(buffer);
        return argb;
    }

    // Counts the messages of `type` posted so far and keeps the last text
    // and, for a warning, the frame its details name (-1 without one). The
    // messages of other types stay for a later call.
    int messages(GstMessageType type, std::string* text = nullptr, int64_t* frame = nullptr) {
        while (GstMessage* m = gst_bus_pop(bus))
            pending.push_back(m);
        int count = 0;
        for (auto it = pending.begin(); it != pending.end();) {
            GstMessage* m = *it;
            if (GST_MESSAGE_TYPE(m) != type) {
                ++it;
                continue;
            }
            GError* e = nullptr;
            const GstStructure* details = nullptr;
            if (type == GST_MESSAGE_ERROR)
                gst_message_parse_error(m, &e, nullptr);
            if (type == GST_MESSAGE_WARNING) {
                gst_message_parse_warning(m, &e, nullptr);
                gst_message_parse_warning_details(m, &details);
            }
            if (text && e)
                *text = e->message;
            guint n = 0;
            if (frame)
                *frame = details && gst_structure_get_uint(details, "frame", &n) ? n : -1;
            g_clear_error(&e);
            gst_message_unref(m);
            it = pending.erase(it);
            count++;
        }
        return count;
    }

    int width, height;
    GstHarness* harness;
    GstBus* bus;
    std::vector<GstMessage*> pending; // popped, not yet asked for
};

// What the codec itself decodes the payload to.
Bytes codecPicture(const Bytes& payload, int width, int height) {
    Bytes argb(static_cast<size_t>(width) * height * 4);
    if (DecodeFramePayloadInto(payload.data(), static_cast<unsigned>(payload.size()), width, height,
                               argb.data(), width * 4, false) != kKEODecodeOK)
        return {};
    return argb;
}

// Widths of 4n pixels and with a tail, so that the wide and the per-pixel
// reordering both run; every layout.
TEST(KeoDecElementTest, EachOutputFormatHoldsTheCodecsPixelsInItsOrder) {
    const Layout layouts[] = {Layout::DXT1, Layout::DXT5LZF, Layout::DXT24, Layout::DXT24LZF,
                              Layout::DXT24Alpha};
    for (const char* name : {"ARGB", "BGRA", "RGBA", "BGRx", "RGBx"})
        for (Layout layout : layouts)
            for (int width : {40, 37}) {
                SCOPED_TRACE(std::string(name) + " " + layoutName(layout) + " " +
                             std::to_string(width));
                Decoder d(width, 9, std::string("video/x-raw, format=") + name);
                const Bytes payload = encodeFrame(layout, width, 9, 31);
                ASSERT_EQ(d.push(payload), GST_FLOW_OK);
                GstVideoFormat format;
                const Bytes out = d.pull(&format);
                EXPECT_EQ(format, gst_video_format_from_string(name));
                EXPECT_TRUE(out == withoutAlphaIf(codecPicture(payload, width, 9), format));
            }
}

// Downstream takes BGRx before BGRA: opaque frames get its first choice, and
// the first frame with alpha switches the stream to the format with alpha.
TEST(KeoDecElementTest, AFrameWithAlphaMovesTheOutputToAFormatWithAlpha) {
    Decoder d(16, 16, "video/x-raw, format={BGRx, BGRA}");
    GstVideoFormat format;
    ASSERT_EQ(d.push(encodeFrame(Layout::DXT24LZF, 16, 16, 1)), GST_FLOW_OK);
    EXPECT_FALSE(d.pull(&format).empty());
    EXPECT_EQ(format, GST_VIDEO_FORMAT_BGRx);

    const Bytes translucent = encodeFrame(Layout::DXT5LZF, 16, 16, 2);
    ASSERT_EQ(d.push(translucent), GST_FLOW_OK);
    EXPECT_EQ(d.pull(&format), codecPicture(translucent, 16, 16));
    EXPECT_EQ(format, GST_VIDEO_FORMAT_BGRA);
}

// A downstream without any format with alpha still gets the frames.
TEST(KeoDecElementTest, AlphaFramesStillPlayWhereDownstreamHasNoAlphaFormat) {
    Decoder d(8, 8, "video/x-raw, format=RGBx");
    for (uint32_t seed = 1; seed <= 2; ++seed) {
        const Bytes payload = encodeFrame(Layout::DXT5, 8, 8, seed);
        ASSERT_EQ(d.push(payload), GST_FLOW_OK);
        EXPECT_EQ(d.pull(), withoutAlphaIf(codecPicture(payload, 8, 8), GST_VIDEO_FORMAT_RGBx));
    }
}

// Payloads the codec refuses, each between two good frames: with the default
// max-errors each is dropped (a QoS message counts it), a warning on the bus
// names it and says why, so an application learns of the frame it will never
// show, and the good frames still come out; with max-errors 0 the first one
// is an error of the stream, and no warning comes before it.
TEST(KeoDecElementTest, DamagedPayloadsAreDroppedAndMaxErrorsStopsTheStream) {
    const int w = 64, h = 32;
    const Bytes good = encodeFrame(Layout::DXT24LZF, w, h, 3);
    ASSERT_EQ(good[6], 1) << "the good frame should be an LZF stream";
    auto damaged = [&](size_t at, unsigned char value) {
        Bytes b = good;
        b[at] = value;
        return b;
    };
    // A well-formed LZF stream (32 literals, then a 9-byte back-reference)
    // that yields 41 bytes where the frame's blocks take 1280.
    Bytes overrun = good;
    overrun.resize(kKEOFrameHeaderSize);
    overrun.push_back(0x1F);
    overrun.insert(overrun.end(), 32, 0x55);
    overrun.insert(overrun.end(), {0xE0, 0x00, 0x00});
    overrun[16] = static_cast<unsigned char>(overrun.size() - kKEOFrameHeaderSize);
    overrun[17] = overrun[18] = overrun[19] = 0;
    Bytes backBeforeStart = overrun;
    backBeforeStart[kKEOFrameHeaderSize] = 0x20; // a back-reference first of all
    const std::vector<std::pair<const char*, Bytes>> cases = {
        {"no bytes at all", {}},
        {"a header and nothing after it", Bytes(good.begin(), good.begin() + 28)},
        {"format version 2", damaged(4, 2)},
        {"header size 29", damaged(0, 29)},
        {"LZF flag 2", damaged(6, 2)},
        {"DXT24 flag 2", damaged(26, 2)},
        {"LZF stream cut by the end of the buffer", Bytes(good.begin(), good.end() - 8)},
        {"LZF stream of the wrong length", overrun},
        {"LZF back-reference before the start", backBeforeStart},
    };
    for (const auto& [what, payload] : cases) {
        SCOPED_TRACE(what);
        Decoder tolerant(w, h, "video/x-raw, format=BGRA");
        EXPECT_EQ(tolerant.push(good), GST_FLOW_OK);
        EXPECT_EQ(tolerant.push(payload), GST_FLOW_OK);
        EXPECT_EQ(tolerant.push(good), GST_FLOW_OK);
        EXPECT_EQ(gst_harness_buffers_received(tolerant.harness), 2u);
        std::string warning;
        int64_t named = -1;
        EXPECT_EQ(tolerant.messages(GST_MESSAGE_WARNING, &warning, &named), 1);
        EXPECT_EQ(named, 1);
        EXPECT_EQ(warning.rfind("KEO frame 1 was dropped: ", 0), 0u) << warning;
        EXPECT_EQ(tolerant.messages(GST_MESSAGE_QOS), 1);
        EXPECT_EQ(tolerant.messages(GST_MESSAGE_ERROR), 0);

        Decoder strict(w, h, "video/x-raw, format=BGRA");
        g_object_set(strict.harness->element, "max-errors", 0, nullptr);
        EXPECT_EQ(strict.push(good), GST_FLOW_OK);
        EXPECT_EQ(strict.push(payload), GST_FLOW_ERROR);
        std::string text;
        EXPECT_EQ(strict.messages(GST_MESSAGE_WARNING), 0);
        EXPECT_EQ(strict.messages(GST_MESSAGE_ERROR, &text), 1);
        EXPECT_EQ(text, "Could not decode a KEO frame.");
    }
}

// 65536 x 32768 pixels would take 2^33 bytes a picture: refused with a
// message when the caps arrive, before any buffer is allocated.
TEST(KeoDecElementTest, CapsOfAFrameTooLargeAreRefusedWithAMessage) {
    initGStreamer();
    GstHarness* h = gst_harness_new("keodec");
    GstBus* bus = gst_bus_new();
    gst_element_set_bus(h->element, bus);
    gst_harness_set_src_caps_str(h, "video/x-keo, width=65536, height=32768, framerate=25/1");
    EXPECT_EQ(gst_harness_push(h, gst_buffer_new_allocate(nullptr, 64, nullptr)),
              GST_FLOW_NOT_NEGOTIATED);
    GstMessage* m = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
    ASSERT_NE(m, nullptr);
    GError* e = nullptr;
    gst_message_parse_error(m, &e, nullptr);
    EXPECT_NE(std::string(e->message).find("65536x32768"), std::string::npos) << e->message;
    g_clear_error(&e);
    gst_message_unref(m);
    gst_harness_teardown(h);
    gst_object_unref(bus);
}

// Frames handed back downstream return to the decoder's pool: a long stream
// runs on a handful of buffers, not one allocation per frame.
TEST(KeoDecElementTest, OutputBuffersComeFromAPoolAndAreReused) {
    Decoder d(64, 32, "video/x-raw, format=BGRA");
    const Bytes payload = encodeFrame(Layout::DXT1LZF, 64, 32, 4);
    std::set<const void*> memories;
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ(d.push(payload), GST_FLOW_OK);
        GstBuffer* out = gst_harness_pull(d.harness);
        GstMapInfo map;
        ASSERT_TRUE(gst_buffer_map(out, &map, GST_MAP_READ));
        memories.insert(map.data);
        gst_buffer_unmap(out, &map);
        gst_buffer_unref(out);
    }
    EXPECT_LE(memories.size(), 4u);
}

// Decoding ahead, frames leave in pairs, each pair once its second frame has
// decoded, and the last one alone at the end of the stream; the frames (a
// damaged one dropped with its warning, whether first or second of a pair)
// are those of one frame at a time, and the element says it holds one frame
// back. Without a frame rate it cannot say so, and frames leave one by one.
TEST(KeoDecElementTest, DecodeAheadSendsFramesInPairsAndTheLastAtTheEnd) {
    const int w = 320, h = 180;
    const Bytes damaged(40, 0x07);
    const Layout layouts[] = {Layout::DXT1LZF,  Layout::DXT5LZF, Layout::DXT5LZF, Layout::DXT24,
                              Layout::DXT24LZF, Layout::DXT1,    Layout::DXT5LZF};
    std::vector<Bytes> frames;
    for (Layout layout : layouts)
        frames.push_back(encodeFrame(layout, w, h, static_cast<uint32_t>(frames.size())));
    frames[2] = damaged; // the first of a pair
    frames[5] = damaged; // the second of one
    // Buffers out after each push, and after the end of the stream.
    const guint pairedCounts[] = {0, 2, 2, 3, 3, 4, 4, 5};
    const guint oneByOneCounts[] = {1, 2, 2, 3, 4, 4, 5, 5};
    for (bool rate : {true, false}) {
        SCOPED_TRACE(rate ? "with a frame rate" : "without a frame rate");
        Decoder d(w, h, "video/x-raw, format=BGRA", true, rate ? "25/1" : "");
        const guint* counts = rate ? pairedCounts : oneByOneCounts;
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(d.push(frames[i]), GST_FLOW_OK);
            EXPECT_EQ(gst_harness_buffers_received(d.harness), counts[i]) << "after frame " << i;
        }
        EXPECT_TRUE(gst_harness_push_event(d.harness, gst_event_new_eos()));
        EXPECT_EQ(gst_harness_buffers_received(d.harness), counts[frames.size()]);
        for (size_t i = 0; i < frames.size(); ++i)
            if (i != 2 && i != 5) {
                EXPECT_TRUE(d.pull() ==
                            withoutAlphaIf(codecPicture(frames[i], w, h), GST_VIDEO_FORMAT_BGRA))
                    << "frame " << i;
            }
        EXPECT_EQ(d.messages(GST_MESSAGE_WARNING), 2);
        GstClockTime least = 0, most = 0;
        gst_video_decoder_get_latency(GST_VIDEO_DECODER(d.harness->element), &least, &most);
        EXPECT_EQ(least, rate ? GST_SECOND / 25 : 0);
    }
}

} // namespace
} // namespace keogst
