// The plugin's two elements, registered by plugin.cpp.
#pragma once

#include <gst/gst.h>

gboolean avs_container_parse_register(GstPlugin* plugin);
gboolean rtp_avs_depay_register(GstPlugin* plugin);

// video/x-cavs caps for a picture format; upstream fields fill what the format lacks.
GstCaps* avs_gst_cavs_caps(int width, int height, int fps_n, int fps_d, int par_n, int par_d);
