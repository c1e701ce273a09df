// avscontainerparse: the AVS media container's video samples, as the MP4
// demuxer gives them (video/x-gst-fourcc-avs2), become video/x-cavs pictures
// in the elementary-stream form that AVS decoders take.
#include <gst/gst.h>

#include <deque>

#include "gst/container_picture_parser.h"
#include "gst/elements.h"

GST_DEBUG_CATEGORY_STATIC(avs_container_parse_debug);
#define GST_CAT_DEFAULT avs_container_parse_debug

namespace {

struct AvsContainerParse {
    GstElement parent;
    GstPad* sinkpad;
    GstPad* srcpad;
    avsgst::ContainerPictureParser* parser;
    // What the sample entry says, until a sequence header says more.
    avsgst::VideoFormat upstream;
    GstCaps* sent_caps;
    // Pictures whose presentation time waits for the next reference picture:
    // a reference picture first, then the B pictures decoded after it.
    std::deque<GstBuffer*>* held;
    // The container gives presentation times of its own (PTS apart from DTS).
    bool composition_times;
};

struct AvsContainerParseClass {
    GstElementClass parent_class;
};

GType avs_container_parse_get_type();
#define AVS_CONTAINER_PARSE(obj) \
    (G_TYPE_CHECK_INSTANCE_CAST((obj), avs_container_parse_get_type(), AvsContainerParse))

G_DEFINE_TYPE(AvsContainerParse, avs_container_parse, GST_TYPE_ELEMENT)

GstStaticPadTemplate sink_template = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("video/x-gst-fourcc-avs2"));
GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("video/x-cavs"));

// Pushes new caps when they differ from the ones sent.
bool send_caps(AvsContainerParse* self) {
    avsgst::VideoFormat f = self->parser->format().value_or(self->upstream);
    const avsgst::VideoFormat& up = self->upstream;
    if (f.width <= 0 || f.height <= 0) f.width = up.width, f.height = up.height;
    if (f.fps_n <= 0) f.fps_n = up.fps_n, f.fps_d = up.fps_d;
    GstCaps* caps = avs_gst_cavs_caps(f.width, f.height, f.fps_n, f.fps_d, f.par_n, f.par_d);
    if (self->sent_caps && gst_caps_is_equal(caps, self->sent_caps)) {
        gst_caps_unref(caps);
        return true;
    }
    GST_DEBUG_OBJECT(self, "caps %" GST_PTR_FORMAT, caps);
    bool ok = gst_pad_push_event(self->srcpad, gst_event_new_caps(caps));
    gst_caps_replace(&self->sent_caps, caps);
    gst_caps_unref(caps);
    return ok;
}

void read_upstream_format(AvsContainerParse* self, GstCaps* caps) {
    avsgst::VideoFormat f;
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    gst_structure_get_int(s, "width", &f.width);
    gst_structure_get_int(s, "height", &f.height);
    if (!gst_structure_get_fraction(s, "framerate", &f.fps_n, &f.fps_d)) f.fps_n = 0, f.fps_d = 1;
    if (!gst_structure_get_fraction(s, "pixel-aspect-ratio", &f.par_n, &f.par_d))
        f.par_n = f.par_d = 1;
    self->upstream = f;
}

GstClockTime frame_duration(AvsContainerParse* self, GstBuffer* buffer) {
    if (GST_BUFFER_DURATION_IS_VALID(buffer)) return GST_BUFFER_DURATION(buffer);
    const avsgst::VideoFormat f = self->parser->format().value_or(self->upstream);
    return f.fps_n > 0 ? gst_util_uint64_scale(GST_SECOND, f.fps_d, f.fps_n) : 0;
}

// The held reference picture is shown one frame before the next reference
// picture decodes (at `next_dts`); the B pictures after it were given theirs.
GstFlowReturn release_held(AvsContainerParse* self, GstClockTime next_dts) {
    GstFlowReturn flow = GST_FLOW_OK;
    if (self->held->empty()) return flow;
    GstBuffer* reference = self->held->front();
    const GstClockTime duration = frame_duration(self, reference);
    GstClockTime pts = next_dts >= duration ? next_dts - duration : 0;
    GST_BUFFER_PTS(reference) = MAX(pts, GST_BUFFER_DTS(reference));
    for (GstBuffer* buffer : *self->held) {
        if (flow == GST_FLOW_OK)
            flow = gst_pad_push(self->srcpad, buffer);
        else
            gst_buffer_unref(buffer);
    }
    self->held->clear();
    return flow;
}

GstFlowReturn drain_held(AvsContainerParse* self) {
    if (self->held->empty()) return GST_FLOW_OK;
    GstBuffer* last = self->held->back();
    return release_held(self, GST_BUFFER_DTS(last) + frame_duration(self, last));
}

void drop_held(AvsContainerParse* self) {
    for (GstBuffer* buffer : *self->held) gst_buffer_unref(buffer);
    self->held->clear();
}

// The container stores decode times only (its samples' times are stts
// starts), so B pictures would be shown at the times of the reference
// pictures decoded before them. Presentation times follow from the picture
// order instead: a B picture is shown one frame before its decode slot, a
// reference picture one frame before the next reference picture decodes.
GstFlowReturn push_picture(AvsContainerParse* self, GstBuffer* buffer, avsgst::PictureKind kind) {
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    const GstClockTime dts = GST_BUFFER_DTS_IS_VALID(buffer) ? GST_BUFFER_DTS(buffer) : pts;
    GST_LOG_OBJECT(self, "picture kind %d, pts %" GST_TIME_FORMAT ", dts %" GST_TIME_FORMAT,
                   static_cast<int>(kind), GST_TIME_ARGS(pts), GST_TIME_ARGS(dts));
    if (GST_CLOCK_TIME_IS_VALID(pts) && GST_CLOCK_TIME_IS_VALID(dts) && pts != dts)
        self->composition_times = true;
    if (self->composition_times || !GST_CLOCK_TIME_IS_VALID(dts)) {
        GstFlowReturn flow = drain_held(self);
        if (flow != GST_FLOW_OK) {
            gst_buffer_unref(buffer);
            return flow;
        }
        return gst_pad_push(self->srcpad, buffer);
    }
    GST_BUFFER_DTS(buffer) = dts;
    if (kind == avsgst::PictureKind::Bidirectional) {
        const GstClockTime duration = frame_duration(self, buffer);
        GST_BUFFER_PTS(buffer) = dts >= duration ? dts - duration : 0;
        if (self->held->empty()) return gst_pad_push(self->srcpad, buffer);
        self->held->push_back(buffer);
        return GST_FLOW_OK;
    }
    GstFlowReturn flow = release_held(self, dts);
    self->held->push_back(buffer);
    return flow;
}

gboolean sink_event(GstPad* pad, GstObject* parent, GstEvent* event) {
    AvsContainerParse* self = AVS_CONTAINER_PARSE(parent);
    switch (GST_EVENT_TYPE(event)) {
        case GST_EVENT_CAPS: {
            GstCaps* caps = nullptr;
            gst_event_parse_caps(event, &caps);
            read_upstream_format(self, caps);
            gst_event_unref(event);
            // Sent now so that the segment does not come before caps; a sequence
            // header may refine them with the first picture.
            return send_caps(self);
        }
        case GST_EVENT_FLUSH_STOP:
            self->parser->Flush();
            drop_held(self);
            break;
        case GST_EVENT_EOS:
        case GST_EVENT_SEGMENT:
        case GST_EVENT_SEGMENT_DONE:
        case GST_EVENT_GAP:
            // Pictures keep their place before what follows them.
            drain_held(self);
            break;
        default:
            break;
    }
    return gst_pad_event_default(pad, parent, event);
}

GstFlowReturn sink_chain(GstPad*, GstObject* parent, GstBuffer* buffer) {
    AvsContainerParse* self = AVS_CONTAINER_PARSE(parent);
    const bool discontinuity = GST_BUFFER_IS_DISCONT(buffer);
    buffer = gst_buffer_make_writable(buffer);
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READWRITE)) {
        gst_buffer_unref(buffer);
        GST_ELEMENT_ERROR(self, RESOURCE, READ, (nullptr), ("cannot map a video sample"));
        return GST_FLOW_ERROR;
    }
    avsgst::ContainerPicture picture;
    const uint64_t invalid_before = self->parser->invalid_samples();
    const bool keep =
        self->parser->Push(std::span<uint8_t>(map.data, map.size), discontinuity, picture);
    gst_buffer_unmap(buffer, &map);
    if (!keep) {
        if (self->parser->invalid_samples() != invalid_before)
            GST_ELEMENT_WARNING(
                self, STREAM, DECODE, (nullptr),
                ("video sample at %" GST_TIME_FORMAT " holds units that do not fit it; dropped",
                 GST_TIME_ARGS(GST_BUFFER_PTS(buffer))));
        gst_buffer_unref(buffer);
        return GST_FLOW_OK;
    }
    gst_buffer_resize(buffer, 0, static_cast<gssize>(picture.size));
    if (self->parser->TakeFormatChange() || !self->sent_caps) send_caps(self);
    if (picture.needs_header) {
        const std::vector<uint8_t>& header = self->parser->sequence_header();
        gst_buffer_prepend_memory(
            buffer, gst_memory_new_wrapped(GST_MEMORY_FLAG_READONLY,
                                           g_memdup2(header.data(), header.size()), header.size(),
                                           0, header.size(), nullptr, nullptr));
    }
    if (picture.kind == avsgst::PictureKind::Key)
        GST_BUFFER_FLAG_UNSET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
    else
        GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
    if (picture.discontinuity)
        GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
    else
        GST_BUFFER_FLAG_UNSET(buffer, GST_BUFFER_FLAG_DISCONT);
    return push_picture(self, buffer, picture.kind);
}

void avs_container_parse_finalize(GObject* object) {
    AvsContainerParse* self = AVS_CONTAINER_PARSE(object);
    delete self->parser;
    drop_held(self);
    delete self->held;
    gst_caps_replace(&self->sent_caps, nullptr);
    G_OBJECT_CLASS(avs_container_parse_parent_class)->finalize(object);
}

GstStateChangeReturn change_state(GstElement* element, GstStateChange transition) {
    AvsContainerParse* self = AVS_CONTAINER_PARSE(element);
    GstStateChangeReturn result =
        GST_ELEMENT_CLASS(avs_container_parse_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
        // A new stream may follow: nothing of the last one carries over.
        GST_OBJECT_LOCK(self);
        *self->parser = avsgst::ContainerPictureParser();
        self->upstream = avsgst::VideoFormat();
        gst_caps_replace(&self->sent_caps, nullptr);
        drop_held(self);
        self->composition_times = false;
        GST_OBJECT_UNLOCK(self);
    }
    return result;
}

void avs_container_parse_class_init(AvsContainerParseClass* klass) {
    GObjectClass* object_class = G_OBJECT_CLASS(klass);
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    object_class->finalize = avs_container_parse_finalize;
    element_class->change_state = change_state;
    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_element_class_set_static_metadata(
        element_class, "AVS container video parser", "Codec/Parser/Video",
        "Turns the AVS media container's video samples into AVS1-P2 pictures with start codes",
        "AVS tool set");
}

void avs_container_parse_init(AvsContainerParse* self) {
    self->parser = new avsgst::ContainerPictureParser();
    self->upstream = avsgst::VideoFormat();
    self->sent_caps = nullptr;
    self->held = new std::deque<GstBuffer*>();
    self->composition_times = false;
    self->sinkpad = gst_pad_new_from_static_template(&sink_template, "sink");
    gst_pad_set_chain_function(self->sinkpad, sink_chain);
    gst_pad_set_event_function(self->sinkpad, sink_event);
    GST_PAD_SET_ACCEPT_TEMPLATE(self->sinkpad);
    gst_element_add_pad(GST_ELEMENT(self), self->sinkpad);
    self->srcpad = gst_pad_new_from_static_template(&src_template, "src");
    gst_pad_use_fixed_caps(self->srcpad);
    gst_element_add_pad(GST_ELEMENT(self), self->srcpad);
}

}  // namespace

gboolean avs_container_parse_register(GstPlugin* plugin) {
    GST_DEBUG_CATEGORY_INIT(avs_container_parse_debug, "avscontainerparse", 0,
                            "AVS container video parser");
    // Above the rank decodebin needs, so players plug it by themselves.
    return gst_element_register(plugin, "avscontainerparse", GST_RANK_PRIMARY,
                                avs_container_parse_get_type());
}
