// keoenc: its payloads are the frame encoder's own bytes for each layout and
// LZF choice, and keodec turns them back into the codec's pictures.
#include <gst/check/gstharness.h>
#include <gtest/gtest.h>
#include <lzf.h>

#include <string>

#include "GstTestSupport.h"
#include "base/PixelOrder.h"
#include "codec/FrameEncoder.h"
#include "codec/FramePayload.h"
#include "codec/encode_picture.h"

namespace keogst {
namespace {

struct Setting {
    const char* layout;
    bool lzf;
    int transparency, optimizeFor; // the frame encoder's settings for the same
    bool isDXT24, hasAlpha;
};

// What keo export writes for the picture: its host lays a picture with
// alpha over black before an opaque layout's encoder sees it, so keoenc must
// too, or frames with transparency would make other bytes.
Bytes encoderBytes(const Bytes& argb, int w, int h, const Setting& s) {
    uint64_t capacity = 0;
    KEOMaxFramePayloadSize(w, h, &capacity);
    Bytes out(capacity), picture(argb);
    if (s.transparency == 0)
        keo::convertPixels({keo::PixelLayout::ARGB, keo::PixelLayout::ARGB, keo::RowOrder::Same,
                            keo::PixelAlpha::OntoBlack},
                           argb.data(), w * 4, picture.data(), w * 4, w, h);
    const int n =
        CompressDXTFrame(picture.data(), out.data(), w, h, w * 4, s.transparency, s.optimizeFor, 1);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

TEST(KeoEncTest, PayloadsAreTheFrameEncodersForEveryLayoutAndLZFChoice) {
    initGStreamer();
    const int w = 64, h = 48;
    const Bytes argb = encode_test::naturalPicture(w, h, 77, true);
    const Setting settings[] = {
        {"dxt24", true, 0, 0, true, false}, {"dxt24", false, 0, 2, true, false},
        {"dxt1", true, 0, 1, false, false}, {"dxt1", false, 0, 1, false, false},
        {"dxt5", true, 1, 0, false, true},  {"dxt5", false, 1, 2, false, true},
    };
    for (const Setting& s : settings) {
        SCOPED_TRACE(std::string(s.layout) + (s.lzf ? " lzf" : " plain"));
        GstHarness* enc = gst_harness_new("keoenc");
        gst_util_set_object_arg(G_OBJECT(enc->element), "layout", s.layout);
        g_object_set(enc->element, "lzf", s.lzf, nullptr);
        gst_harness_set_src_caps_str(enc, ("video/x-raw, format=ARGB, width=" + std::to_string(w) +
                                           ", height=" + std::to_string(h) + ", framerate=25/1")
                                              .c_str());
        ASSERT_EQ(gst_harness_push(enc, gst_buffer_new_memdup(argb.data(), argb.size())),
                  GST_FLOW_OK);
        GstBuffer* out = gst_harness_pull(enc);
        ASSERT_NE(out, nullptr);
        GstMapInfo map;
        ASSERT_TRUE(gst_buffer_map(out, &map, GST_MAP_READ));
        const Bytes payload(map.data, map.data + map.size);
        gst_buffer_unmap(out, &map);
        gst_buffer_unref(out);
        gst_harness_teardown(enc);

        KEOFrameHeader header;
        ASSERT_GE(payload.size(), size_t(kKEOFrameHeaderSize));
        header.read(payload.data());
        EXPECT_EQ(header.isDXT24 != 0, s.isDXT24);
        EXPECT_EQ(header.hasAlpha != 0, s.hasAlpha);
        if (!s.lzf) {
            EXPECT_EQ(header.isLZF, 0);
        }
        const Bytes direct = encoderBytes(argb, w, h, s);
        if (s.lzf || s.optimizeFor == 2 || direct[6] == 0) {
            EXPECT_TRUE(payload == direct);
        } else {
            // The export settings have no plain DXT1: the same blocks as
            // their LZF stream holds.
            Bytes blocks(payload.size() - kKEOFrameHeaderSize);
            ASSERT_EQ(lzf_decompress(direct.data() + kKEOFrameHeaderSize,
                                     static_cast<unsigned>(direct.size() - kKEOFrameHeaderSize),
                                     blocks.data(), static_cast<unsigned>(blocks.size())),
                      blocks.size());
            EXPECT_TRUE(Bytes(payload.begin() + kKEOFrameHeaderSize, payload.end()) == blocks);
        }
    }
}

// The two elements chained, as an application would: the pictures that come
// out are the codec's decode of the frame encoder's payload.
TEST(KeoEncTest, KeoencThenKeodecGivesTheCodecsPictures) {
    initGStreamer();
    const int w = 45, h = 19;
    GstHarness* chain = gst_harness_new_parse("keoenc layout=dxt5 ! keodec");
    gst_harness_set_src_caps_str(chain, "video/x-raw, format=ARGB, width=45, height=19, "
                                        "framerate=25/1");
    gst_harness_set_sink_caps_str(chain, "video/x-raw, format=ARGB");
    for (uint32_t seed = 1; seed <= 3; ++seed) {
        const Bytes argb = encode_test::naturalPicture(w, h, seed, true);
        ASSERT_EQ(gst_harness_push(chain, gst_buffer_new_memdup(argb.data(), argb.size())),
                  GST_FLOW_OK);
        GstBuffer* out = gst_harness_pull(chain);
        ASSERT_NE(out, nullptr);
        Bytes decoded(argb.size());
        gst_buffer_extract(out, 0, decoded.data(), decoded.size());
        gst_buffer_unref(out);

        const Bytes payload = encoderBytes(argb, w, h, {"dxt5", true, 1, 0, false, true});
        Bytes expected(argb.size());
        ASSERT_EQ(DecodeFramePayloadInto(payload.data(), static_cast<unsigned>(payload.size()), w,
                                         h, expected.data(), w * 4, false),
                  kKEODecodeOK);
        EXPECT_TRUE(decoded == expected) << "frame " << seed;
    }
    gst_harness_teardown(chain);
}

} // namespace
} // namespace keogst
