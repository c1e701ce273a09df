// The media types the two output streams offer.
#pragma once

#include <cstdint>

#include "avs/sequence_header.h"
#include "dshow/streams.h"
#include "filtermodule/module_ids.h"

namespace filesource {

// Size of the video format block (an MPEG1VIDEOINFO with 18 header bytes and 8 spare).
inline constexpr ULONG kAvsVideoFormatSize = kAvsVideoFormatBytes;
// Header bytes carried in the format block, whatever the header's length.
inline constexpr DWORD kFormatHeaderBytes = 18;

// AVS video in start-code form, described from the sequence header.
HRESULT make_video_media_type(const avs::AvsSequenceHeader& header, CMediaType* type);
// MP3 announced as two channels at `rate` Hz (the audio track's time scale).
HRESULT make_audio_media_type(uint32_t rate, CMediaType* type);
// The audio subtype of a wave format tag: Data1 = tag on the base GUID.
GUID wave_format_subtype(WORD tag);

}  // namespace filesource
