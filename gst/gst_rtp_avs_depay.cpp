// rtpavsdepay: AVS1-P2 pictures from RTP (encoding name AVS1-P2, 90 kHz), in
// the single, aggregation and fragmentation unit forms, with the sequence
// header from the description's sprop-parameter-sets.
#include <gst/gst.h>
#include <gst/rtp/rtp.h>

#include <string_view>

#include "gst/elements.h"
#include "gst/rtp_avs_depacketizer.h"
#include "rtspstream/stream_formats.h"

GST_DEBUG_CATEGORY_STATIC(rtp_avs_depay_debug);
#define GST_CAT_DEFAULT rtp_avs_depay_debug

namespace {

struct RtpAvsDepay {
    GstRTPBaseDepayload parent;
    avsgst::RtpAvsDepacketizer* depacketizer;
    avsgst::VideoFormat format;
    bool have_format;
};

struct RtpAvsDepayClass {
    GstRTPBaseDepayloadClass parent_class;
};

GType rtp_avs_depay_get_type();
#define RTP_AVS_DEPAY(obj) \
    (G_TYPE_CHECK_INSTANCE_CAST((obj), rtp_avs_depay_get_type(), RtpAvsDepay))

G_DEFINE_TYPE(RtpAvsDepay, rtp_avs_depay, GST_TYPE_RTP_BASE_DEPAYLOAD)

GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS("application/x-rtp, media=(string)video, "
                                            "clock-rate=(int)90000, "
                                            "encoding-name=(string)\"AVS1-P2\""));
GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("video/x-cavs"));

bool push_caps(RtpAvsDepay* self) {
    const avsgst::VideoFormat& f = self->format;
    GstCaps* caps = self->have_format
                        ? avs_gst_cavs_caps(f.width, f.height, f.fps_n, f.fps_d, f.par_n, f.par_d)
                        : gst_caps_new_empty_simple("video/x-cavs");
    GST_DEBUG_OBJECT(self, "caps %" GST_PTR_FORMAT, caps);
    bool ok = gst_pad_set_caps(GST_RTP_BASE_DEPAYLOAD_SRCPAD(self), caps);
    gst_caps_unref(caps);
    return ok;
}

// Takes the format from a sequence header unit; true when it changed.
bool take_format(RtpAvsDepay* self, std::span<const uint8_t> header_unit) {
    std::optional<avsgst::VideoFormat> format = avsgst::video_format_of(header_unit);
    if (!format || (self->have_format && *format == self->format)) return false;
    self->format = *format;
    self->have_format = true;
    return true;
}

gboolean set_caps(GstRTPBaseDepayload* depayload, GstCaps* caps) {
    RtpAvsDepay* self = RTP_AVS_DEPAY(depayload);
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    gint clock_rate = 90000;
    gst_structure_get_int(s, "clock-rate", &clock_rate);
    depayload->clock_rate = clock_rate;
    if (const gchar* sprop = gst_structure_get_string(s, "sprop-parameter-sets")) {
        // Only the first parameter set is used: the sequence header from its
        // start-code value on.
        std::string_view value(sprop);
        value = value.substr(0, value.find_first_of(",;"));
        std::optional<std::vector<uint8_t>> decoded = rtspstream::DecodeBase64(value);
        if (decoded && !decoded->empty() && (*decoded)[0] == 0xB0) {
            std::vector<uint8_t> unit{0x00, 0x00, 0x01};
            unit.insert(unit.end(), decoded->begin(), decoded->end());
            self->depacketizer->SetSequenceHeader(unit);
            take_format(self, unit);
        } else {
            GST_WARNING_OBJECT(self, "unusable sprop-parameter-sets \"%s\"", sprop);
        }
    }
    return push_caps(self);
}

GstBuffer* process_rtp_packet(GstRTPBaseDepayload* depayload, GstRTPBuffer* rtp) {
    RtpAvsDepay* self = RTP_AVS_DEPAY(depayload);
    avsgst::RtpPacketView packet;
    packet.sequence = gst_rtp_buffer_get_seq(rtp);
    packet.timestamp = gst_rtp_buffer_get_timestamp(rtp);
    packet.marker = gst_rtp_buffer_get_marker(rtp);
    packet.discontinuity = GST_BUFFER_IS_DISCONT(rtp->buffer);
    packet.payload =
        std::span<const uint8_t>(static_cast<const uint8_t*>(gst_rtp_buffer_get_payload(rtp)),
                                 gst_rtp_buffer_get_payload_len(rtp));
    avsgst::DepacketizedPicture picture;
    const uint64_t dropped = self->depacketizer->pictures_dropped();
    const bool complete = self->depacketizer->Push(packet, picture);
    if (self->depacketizer->pictures_dropped() != dropped)
        GST_INFO_OBJECT(self, "damaged picture dropped (%" G_GUINT64_FORMAT " so far)",
                        self->depacketizer->pictures_dropped());
    if (!complete) return nullptr;
    if (std::optional<std::span<const uint8_t>> header =
            avsgst::leading_sequence_header(picture.bytes)) {
        if (take_format(self, *header)) push_caps(self);
    }
    GstBuffer* out = gst_buffer_new_memdup(picture.bytes.data(), picture.bytes.size());
    if (picture.kind != avsgst::PictureKind::Key)
        GST_BUFFER_FLAG_SET(out, GST_BUFFER_FLAG_DELTA_UNIT);
    if (picture.discontinuity) GST_BUFFER_FLAG_SET(out, GST_BUFFER_FLAG_DISCONT);
    return out;
}

gboolean packet_lost(GstRTPBaseDepayload* depayload, GstEvent* event) {
    RTP_AVS_DEPAY(depayload)->depacketizer->MarkLost();
    return GST_RTP_BASE_DEPAYLOAD_CLASS(rtp_avs_depay_parent_class)->packet_lost(depayload, event);
}

gboolean handle_event(GstRTPBaseDepayload* depayload, GstEvent* event) {
    GST_DEBUG_OBJECT(depayload, "event %s", GST_EVENT_TYPE_NAME(event));
    if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP)
        RTP_AVS_DEPAY(depayload)->depacketizer->Reset();
    return GST_RTP_BASE_DEPAYLOAD_CLASS(rtp_avs_depay_parent_class)->handle_event(depayload, event);
}

GstStateChangeReturn change_state(GstElement* element, GstStateChange transition) {
    RtpAvsDepay* self = RTP_AVS_DEPAY(element);
    GstStateChangeReturn result =
        GST_ELEMENT_CLASS(rtp_avs_depay_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
        *self->depacketizer = avsgst::RtpAvsDepacketizer();
        self->have_format = false;
    }
    return result;
}

void rtp_avs_depay_finalize(GObject* object) {
    delete RTP_AVS_DEPAY(object)->depacketizer;
    G_OBJECT_CLASS(rtp_avs_depay_parent_class)->finalize(object);
}

void rtp_avs_depay_class_init(RtpAvsDepayClass* klass) {
    GObjectClass* object_class = G_OBJECT_CLASS(klass);
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    GstRTPBaseDepayloadClass* depayload_class = GST_RTP_BASE_DEPAYLOAD_CLASS(klass);
    object_class->finalize = rtp_avs_depay_finalize;
    element_class->change_state = change_state;
    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_element_class_set_static_metadata(
        element_class, "RTP AVS1-P2 depayloader", "Codec/Depayloader/Network/RTP",
        "Extracts AVS1-P2 video from RTP packets", "AVS tool set");
    depayload_class->set_caps = set_caps;
    depayload_class->process_rtp_packet = process_rtp_packet;
    depayload_class->packet_lost = packet_lost;
    depayload_class->handle_event = handle_event;
}

void rtp_avs_depay_init(RtpAvsDepay* self) {
    self->depacketizer = new avsgst::RtpAvsDepacketizer();
    self->format = avsgst::VideoFormat();
    self->have_format = false;
}

}  // namespace

gboolean rtp_avs_depay_register(GstPlugin* plugin) {
    GST_DEBUG_CATEGORY_INIT(rtp_avs_depay_debug, "rtpavsdepay", 0, "RTP AVS1-P2 depayloader");
    // Ranked so that rtspsrc's and playbin's automatic plugging choose it.
    return gst_element_register(plugin, "rtpavsdepay", GST_RANK_SECONDARY,
                                rtp_avs_depay_get_type());
}
