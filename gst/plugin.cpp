// The tool set's GStreamer plugin: AVS1-P2 from the AVS media container and from RTP.
#include <gst/gst.h>

#include "gst/elements.h"

GstCaps* avs_gst_cavs_caps(int width, int height, int fps_n, int fps_d, int par_n, int par_d) {
    GstCaps* caps = gst_caps_new_empty_simple("video/x-cavs");
    if (width > 0 && height > 0)
        gst_caps_set_simple(caps, "width", G_TYPE_INT, width, "height", G_TYPE_INT, height,
                            nullptr);
    if (fps_n > 0 && fps_d > 0)
        gst_caps_set_simple(caps, "framerate", GST_TYPE_FRACTION, fps_n, fps_d, nullptr);
    if (par_n > 0 && par_d > 0)
        gst_caps_set_simple(caps, "pixel-aspect-ratio", GST_TYPE_FRACTION, par_n, par_d, nullptr);
    return caps;
}

static gboolean plugin_init(GstPlugin* plugin) {
    gboolean ok = avs_container_parse_register(plugin);
    ok = rtp_avs_depay_register(plugin) && ok;
    return ok;
}

#define PACKAGE "avs-tool-set"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, avs,
                  "AVS1-P2 video from the AVS media container and from RTP", plugin_init, "1.0",
                  "Proprietary", "AVS tool set", "local build")
