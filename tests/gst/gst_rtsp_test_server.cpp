// A small RTSP server on GStreamer's own RTSP server library, a peer that
// nobody here wrote, serving a Lindqvale container: the video as AVS1-P2 over
// RTP (cut by rtspserve's packetizer inside a payloader of this program) and,
// when asked, the MP3 through GStreamer's own MPEG audio payloader.
//
//   gst_rtsp_test_server CLIP.asm [--audio]     prints rtsp://127.0.0.1:PORT/clip
#include <gst/gst.h>
#include <gst/rtp/rtp.h>
#include <gst/rtsp-server/rtsp-server.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "gst/avs_picture.h"
#include "tools/rtspserve/packetizer.h"

namespace {

struct AvsTestPay {
    GstRTPBasePayload parent;
    gboolean caps_sent;
};
struct AvsTestPayClass {
    GstRTPBasePayloadClass parent_class;
};

GType avs_test_pay_get_type();
G_DEFINE_TYPE(AvsTestPay, avs_test_pay, GST_TYPE_RTP_BASE_PAYLOAD)

GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("video/x-cavs"));
GstStaticPadTemplate src_template = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("application/x-rtp, media=(string)video, clock-rate=(int)90000, "
                    "encoding-name=(string)\"AVS1-P2\""));

gboolean set_caps(GstRTPBasePayload* payload, GstCaps*) {
    gst_rtp_base_payload_set_options(payload, "video", TRUE, "AVS1-P2", 90000);
    return TRUE;
}

GstFlowReturn handle_buffer(GstRTPBasePayload* payload, GstBuffer* buffer) {
    auto* self = reinterpret_cast<AvsTestPay*>(payload);
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        gst_buffer_unref(buffer);
        return GST_FLOW_ERROR;
    }
    std::span<const uint8_t> picture(map.data, map.size);
    if (!self->caps_sent) {
        // The description carries the sequence header from its start-code value on.
        std::optional<std::span<const uint8_t>> header = avsgst::leading_sequence_header(picture);
        gchar* sprop = header ? g_base64_encode(header->data() + 3, header->size() - 3) : nullptr;
        gboolean ok = sprop ? gst_rtp_base_payload_set_outcaps(payload, "sprop-parameter-sets",
                                                               G_TYPE_STRING, sprop, nullptr)
                            : gst_rtp_base_payload_set_outcaps(payload, nullptr);
        g_free(sprop);
        if (!ok) {
            gst_buffer_unmap(buffer, &map);
            gst_buffer_unref(buffer);
            return GST_FLOW_NOT_NEGOTIATED;
        }
        self->caps_sent = TRUE;
    }
    GstBufferList* list = gst_buffer_list_new();
    const guint mtu = GST_RTP_BASE_PAYLOAD_MTU(payload);
    const size_t max_payload = gst_rtp_buffer_calc_payload_len(mtu, 0, 0);
    rtspserve::PacketizePicture(
        picture.data(), picture.size(), max_payload, [&](const uint8_t* p, size_t n, bool last) {
            GstBuffer* out = gst_rtp_base_payload_allocate_output_buffer(payload, n, 0, 0);
            GstRTPBuffer rtp = GST_RTP_BUFFER_INIT;
            gst_rtp_buffer_map(out, GST_MAP_WRITE, &rtp);
            std::memcpy(gst_rtp_buffer_get_payload(&rtp), p, n);
            gst_rtp_buffer_set_marker(&rtp, last);
            gst_rtp_buffer_unmap(&rtp);
            GST_BUFFER_PTS(out) = GST_BUFFER_PTS(buffer);
            gst_buffer_list_add(list, out);
        });
    gst_buffer_unmap(buffer, &map);
    gst_buffer_unref(buffer);
    return gst_rtp_base_payload_push_list(payload, list);
}

void avs_test_pay_class_init(AvsTestPayClass* klass) {
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    GstRTPBasePayloadClass* payload_class = GST_RTP_BASE_PAYLOAD_CLASS(klass);
    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_element_class_set_static_metadata(element_class, "AVS1-P2 test payloader",
                                          "Codec/Payloader/Network/RTP",
                                          "rtspserve's packetizer for the test server", "tests");
    payload_class->set_caps = set_caps;
    payload_class->handle_buffer = handle_buffer;
}

void avs_test_pay_init(AvsTestPay* self) {
    self->caps_sent = FALSE;
}

}  // namespace

int main(int argc, char** argv) {
    gst_init(&argc, &argv);
    if (argc < 2 || (argc == 3 && std::strcmp(argv[2], "--audio") != 0) || argc > 3) {
        std::fprintf(stderr, "usage: gst_rtsp_test_server CLIP.asm [--audio]\n");
        return 2;
    }
    const bool audio = argc == 3;
    gst_element_register(nullptr, "avstestpay", GST_RANK_NONE, avs_test_pay_get_type());

    std::string launch = std::string("( filesrc location=\"") + argv[1] +
                         "\" ! qtdemux name=d d.video_0 ! queue ! avscontainerparse ! "
                         "avstestpay name=pay0 pt=96";
    if (audio) launch += " d.audio_0 ! queue ! mpegaudioparse ! rtpmpapay name=pay1 pt=14";
    launch += " )";

    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    GstRTSPServer* server = gst_rtsp_server_new();
    gst_rtsp_server_set_address(server, "127.0.0.1");
    gst_rtsp_server_set_service(server, "0");
    GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(server);
    GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(factory, launch.c_str());
    gst_rtsp_media_factory_set_protocols(factory, GST_RTSP_LOWER_TRANS_TCP);
    gst_rtsp_mount_points_add_factory(mounts, "/clip", factory);
    g_object_unref(mounts);
    if (gst_rtsp_server_attach(server, nullptr) == 0) {
        std::fprintf(stderr, "gst_rtsp_test_server: cannot listen\n");
        return 1;
    }
    std::printf("rtsp://127.0.0.1:%d/clip\n", gst_rtsp_server_get_bound_port(server));
    std::fflush(stdout);
    g_main_loop_run(loop);
    return 0;
}
