// The source filter for any file FFmpeg can open: one output pin per audio or video
// stream, in the file's stream order. Audio pins deliver the stream decoded to 16-bit
// interleaved PCM; video pins deliver the stream's coded packets under a VIDEOINFOHEADER
// type named by its compression code. Sample times are in 100 ns from the earliest start
// of any stream in the file, so a stream that starts late carries its offset. Each
// connected pin reads and decodes the file on its own worker thread.
//
// Linking avs_dshow_ffmpeg makes IGraphBuilder::AddSourceFilter give this filter.
#pragma once

#include "dshow/streams.h"

namespace avs::dshow {

// Creates the filter already loaded with `file` (one reference). Fails with
// HRESULT_FILE_NOT_FOUND for a missing file and VFW_E_UNKNOWN_FILE_TYPE for one that holds
// no audio or video FFmpeg can read.
HRESULT CreateFfmpegSource(LPCWSTR file, IBaseFilter** out);

}  // namespace avs::dshow
