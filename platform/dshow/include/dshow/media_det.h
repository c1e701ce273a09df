// The media detector (class MediaDet, IMediaDet): the system's own on Windows, the FFmpeg
// one of platform/dshow/ffmpeg elsewhere.
#pragma once

#include "dshow/streams.h"

#ifdef _WIN32
#include <qedit.h>
#else
#include "dshow/ffmpeg/media_det.h"
#endif
