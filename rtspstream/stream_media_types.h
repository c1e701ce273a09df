// The media types the stream source's pins offer.
#pragma once

#include "avs/sequence_header.h"
#include "dshow/streams.h"
#include "rtspstream/stream_formats.h"

namespace rtspstream {

inline constexpr ULONG kVideoFormatBytes = 122;  // MPEG1VIDEOINFO with 18 header bytes and 8 spare
inline constexpr ULONG kAudioFormatBytes = 40;   // MPEG1WAVEFORMAT

// AVS video: subtype {76C8D32E-...}, FORMAT_AvsVideo block built from the header.
HRESULT BuildVideoMediaType(const avs::AvsSequenceHeader& header, CMediaType* mt);
// MPEG audio (tag 0x50) from the record's rate and byte rate.
HRESULT BuildAudioMediaType(const AudioFormatRecord& record, CMediaType* mt);
// Major type, subtype and format type must match; else E_INVALIDARG.
HRESULT CheckVideoMediaType(const CMediaType* mt);
HRESULT CheckAudioMediaType(const CMediaType* mt, WORD format_tag);

}  // namespace rtspstream
