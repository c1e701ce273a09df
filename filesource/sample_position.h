// ISamplePosition: the file source's own interface telling a player how far
// playback has come in samples.
#pragma once

#include "dshow/streams.h"

// {CF44730A-4D42-48BF-8ADA-F053EDE4ED86}
inline constexpr IID IID_ISamplePosition = {
    0xcf44730a, 0x4d42, 0x48bf, {0x8a, 0xda, 0xf0, 0x53, 0xed, 0xe4, 0xed, 0x86}};

struct ISamplePosition : public IUnknown {
    // Has no use in this filter; kept so the method order stays what players expect.
    STDMETHOD(Reserved)(LONG_PTR first, LONG_PTR second) PURE;
    // The next sample to deliver and the number of samples, of the video stream
    // if there is one, else of the audio stream. Null arguments are skipped.
    STDMETHOD(GetSamplePosition)(LONGLONG* current, LONGLONG* total) PURE;
};
