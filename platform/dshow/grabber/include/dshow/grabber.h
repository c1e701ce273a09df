// The sample-grabbing filter: one input pin that takes the media type it was told to
// accept, one output pin that passes every sample on unchanged, and a callback called on
// the streaming thread for every sample that arrives. It is no part of the system's
// DirectShow (its class and interface are not the system's sample grabber): here programs
// create it directly, on Windows it is the module SampleGrabberFilter.dll, registered with
// regsvr32.
#pragma once

#include "dshow/streams.h"

// The callback: the sample, pointers to its start and stop times (100 ns units; both 0
// when the sample carries none) and whether its media type changed.
typedef HRESULT (*SAMPLECALLBACK)(IMediaSample* pSample, REFERENCE_TIME* pStart,
                                  REFERENCE_TIME* pStop, BOOL bTypeChanged);

inline constexpr CLSID CLSID_SampleGrabberFilter = {
    0x2fa4f053, 0x6d60, 0x4cb0, {0x95, 0x03, 0x8e, 0x89, 0x23, 0x4f, 0x3f, 0x73}};
inline constexpr IID IID_ISampleGrabberFilter = {
    0x6b652fff, 0x11fe, 0x4fce, {0x92, 0xad, 0x02, 0x66, 0xb5, 0xd7, 0xc7, 0x8f}};

struct ISampleGrabberFilter : public IUnknown {
    // The type the input pin accepts; GUIDs left null match anything.
    STDMETHOD(SetAcceptedMediaType)(const AM_MEDIA_TYPE* pType) PURE;
    // The type the input pin was connected with (the caller frees the format block).
    STDMETHOD(GetConnectedMediaType)(AM_MEDIA_TYPE* pType) PURE;
    STDMETHOD(SetCallback)(SAMPLECALLBACK Callback) PURE;
};

namespace avs::dshow {
HRESULT CreateSampleGrabberInstance(IUnknown* outer, REFIID riid, void** ppv);
// The same for a module's class factory: a new grabber with *phr set, or null.
CUnknown* WINAPI CreateSampleGrabberObject(LPUNKNOWN outer, HRESULT* phr);
}  // namespace avs::dshow
