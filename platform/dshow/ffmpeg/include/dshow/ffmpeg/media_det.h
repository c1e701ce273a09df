// The media detector: lists the audio and video streams of a file with their media types,
// lengths and frame rates. Video types are VIDEOINFOHEADER blocks carrying the stream's
// size, bit count and compression code; audio types are WAVEFORMATEX blocks.
#pragma once

#include "dshow/streams.h"

struct ISampleGrabber;

inline constexpr CLSID CLSID_MediaDet = {
    0x65bd0711, 0x24d2, 0x4ff7, {0x93, 0x24, 0xed, 0x2e, 0x5d, 0x3a, 0xba, 0xfa}};
inline constexpr IID IID_IMediaDet = {
    0x65bd0710, 0x24d2, 0x4ff7, {0x93, 0x24, 0xed, 0x2e, 0x5d, 0x3a, 0xba, 0xfa}};

struct IMediaDet : public IUnknown {
    STDMETHOD(get_Filter)(IUnknown** pVal) PURE;
    STDMETHOD(put_Filter)(IUnknown* newVal) PURE;
    STDMETHOD(get_OutputStreams)(LONG* pVal) PURE;
    STDMETHOD(get_CurrentStream)(LONG* pVal) PURE;
    STDMETHOD(put_CurrentStream)(LONG newVal) PURE;
    STDMETHOD(get_StreamType)(GUID* pVal) PURE;
    STDMETHOD(get_StreamTypeB)(BSTR* pVal) PURE;
    STDMETHOD(get_StreamLength)(double* pVal) PURE;
    STDMETHOD(get_Filename)(BSTR* pVal) PURE;
    STDMETHOD(put_Filename)(BSTR newVal) PURE;
    STDMETHOD(GetBitmapBits)
    (double StreamTime, LONG* pBufferSize, char* pBuffer, LONG Width, LONG Height) PURE;
    STDMETHOD(WriteBitmapBits)(double StreamTime, LONG Width, LONG Height, BSTR Filename) PURE;
    STDMETHOD(get_StreamMediaType)(AM_MEDIA_TYPE* pVal) PURE;
    STDMETHOD(GetSampleGrabber)(ISampleGrabber** ppVal) PURE;
    STDMETHOD(get_FrameRate)(double* pVal) PURE;
    STDMETHOD(EnterBitmapGrabMode)(double SeekTime) PURE;
};

namespace avs::dshow {
HRESULT CreateMediaDetInstance(IUnknown* outer, REFIID riid, void** ppv);
}  // namespace avs::dshow
