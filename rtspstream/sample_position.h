// ISamplePosition as the stream source answers it: the player's handle for
// restarting a stream and reading how much video is queued.
#pragma once

#include "dshow/streams.h"

namespace rtspstream {

// {CF44730A-4D42-48BF-8ADA-F053EDE4ED86}
inline constexpr IID IID_ISamplePosition = {
    0xcf44730a, 0x4d42, 0x48bf, {0x8a, 0xda, 0xf0, 0x53, 0xed, 0xe4, 0xed, 0x86}};

struct ISamplePosition : public IUnknown {
    // Has no use here; kept so the method order stays what players expect.
    STDMETHOD(Reserved)(LONG_PTR first, LONG_PTR second) PURE;
    // Plays the stream again from its beginning (Stop, seek to 0, Run).
    STDMETHOD(Restart)() PURE;
    // The bytes waiting in the video pin's queue.
    STDMETHOD(GetQueuedVideoBytes)(DWORD* bytes) PURE;
};

}  // namespace rtspstream
