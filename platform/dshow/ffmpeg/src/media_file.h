// What the source filter and the media detector both need from FFmpeg: opening a file,
// which of its streams count, their lengths, rates and media types.
#pragma once

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstdint>
#include <memory>
#include <string>

#include "dshow/streams.h"

namespace avs::dshow::media {

struct FormatCloser {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;

// Opens and probes a file. HRESULT_FILE_NOT_FOUND when it does not exist,
// VFW_E_UNKNOWN_FILE_TYPE when FFmpeg cannot read it as media.
HRESULT OpenMediaFile(const std::string& path, FormatPtr& out);

// Audio streams, and video streams that are not a cover picture.
bool IsMediaStream(const AVStream* st);
bool IsAudio(const AVStream* st);

// The earliest start of any stream, in 100 ns; 0 when the file gives none.
std::int64_t OriginOf(const AVFormatContext* fmt);
// 100 ns from a stream time stamp, measured from `origin`.
std::int64_t ReferenceTime(std::int64_t pts, AVRational time_base, std::int64_t origin);

double StreamSeconds(const AVStream* st, const AVFormatContext* fmt);
double FrameRate(const AVStream* st);

// A video stream as a VIDEOINFOHEADER type: size, bit count, compression code, frame time.
void MakeVideoType(const AVStream* st, CMediaType* mt);
// 16-bit interleaved PCM.
void MakePcmType(unsigned channels, unsigned rate, CMediaType* mt);
// An audio stream as stored: its format tag (PCM when FFmpeg knows none), channels, rate.
void MakeStoredAudioType(const AVStream* st, CMediaType* mt);

}  // namespace avs::dshow::media
